#include "SystemPower.h"

#include "Foundation/Format.h"

namespace machine {

std::uint64_t SystemPower::addClient(Client client)
{
    std::uint64_t id = nextClient_++;
    clients_.emplace(id, std::move(client));
    return id;
}

void SystemPower::removeClient(std::uint64_t client)
{
    if (!clients_.erase(client))
        return;
    for (auto& message : messages_) {
        if (message.client == client && !message.acknowledged)
            message.clientGone = true;
    }
}

void SystemPower::sleep()
{
    asleep_ = true;
    broadcast(kIOMessageSystemWillSleep);
}

void SystemPower::wake()
{
    asleep_ = false;
    broadcast(kIOMessageSystemHasPoweredOn);
}

void SystemPower::askCanSleep()
{
    broadcast(kIOMessageCanSystemSleep);
}

void SystemPower::broadcast(std::uint32_t type)
{
    // Clients may come and go while they are told; tell those present now.
    auto clients = clients_;
    for (auto& [id, client] : clients) {
        std::intptr_t argument = nextArgument_++;
        messages_.push_back(Message {id, type, argument, false});
        client(type, argument);
    }
}

bool SystemPower::acknowledge(std::intptr_t argument)
{
    for (auto& message : messages_) {
        if (message.argument == argument && !message.acknowledged && !message.clientGone) {
            message.acknowledged = true;
            return true;
        }
    }
    return false;
}

bool SystemPower::everyMessageAcknowledged() const
{
    return unacknowledgedCount() == 0;
}

std::size_t SystemPower::unacknowledgedCount() const
{
    std::size_t n = 0;
    for (const auto& message : messages_)
        n += message.acknowledged || message.clientGone ? 0 : 1;
    return n;
}

std::string SystemPower::messageName(std::uint32_t type)
{
    switch (type) {
    case kIOMessageCanSystemSleep: return "can-system-sleep";
    case kIOMessageSystemWillSleep: return "system-will-sleep";
    case kIOMessageSystemWillNotSleep: return "system-will-not-sleep";
    case kIOMessageSystemHasPoweredOn: return "system-has-powered-on";
    }
    return stringWithFormat("0x%08x", type);
}

void SystemPower::reset()
{
    clients_.clear();
    messages_.clear();
    asleep_ = false;
}

} // namespace machine
