#include "Bus/BusPeerCredentials.h"

#include "Bus/MessageBus.h"

#include <sdbus-c++/sdbus-c++.h>

#include <vector>

BusPeerCredentials::BusPeerCredentials(sdbus::IConnection& connection)
    : connection_(connection), busDaemon_(sdbus::createProxy(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus"))
{
    std::string rule = "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',member='NameOwnerChanged'";
    auto slot = connection_.addMatch(rule, [this](sdbus::Message& message) {
        std::string name, oldOwner, newOwner;
        try {
            message >> name >> oldOwner >> newOwner;
        } catch (const sdbus::Error&) {
            return;
        }
        if (!name.empty() && name[0] == ':' && newOwner.empty()) {
            remembered_.erase(name);
            if (leaving_)
                leaving_(name);
        }
    });
    leaveWatch_ = std::shared_ptr<void>(std::move(slot));
}

BusPeerCredentials::~BusPeerCredentials() = default;

std::optional<BusPeerCredentials::Peer> BusPeerCredentials::peer(const std::string& busName)
{
    if (busName.empty())
        return std::nullopt;
    const bool unique = busName[0] == ':';
    if (unique) {
        if (auto it = remembered_.find(busName); it != remembered_.end())
            return it->second;
    }
    std::optional<Peer> found = ask(busName);
    if (found && unique) {
        // Each entry goes when its program leaves; a bus crowded with
        // programs that never called twice costs a question, not memory.
        if (remembered_.size() >= kMaxRememberedPeers)
            remembered_.erase(remembered_.begin());
        remembered_[busName] = *found;
    }
    return found;
}

std::optional<BusPeerCredentials::Peer> BusPeerCredentials::ask(const std::string& busName)
{
    std::map<std::string, sdbus::Variant> credentials;
    try {
        auto call = busDaemon_->createMethodCall("org.freedesktop.DBus", "GetConnectionCredentials");
        call << busName;
        auto reply = busDaemon_->callMethod(call, static_cast<std::uint64_t>(kBusCallTimeoutSeconds * 1e6));
        reply >> credentials;
    } catch (const sdbus::Error&) {
        return std::nullopt;
    }
    auto uid = credentials.find("UnixUserID");
    auto pid = credentials.find("ProcessID");
    if (uid == credentials.end())
        return std::nullopt;
    Peer peer;
    try {
        peer.uid = uid->second.get<std::uint32_t>();
        peer.pid = pid == credentials.end() ? 0 : static_cast<int>(pid->second.get<std::uint32_t>());
    } catch (const sdbus::Error&) {
        return std::nullopt;
    }
    return peer;
}
