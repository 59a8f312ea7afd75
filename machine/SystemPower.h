// System power: sleep, wake and can-sleep messages to every registered
// program, and a record of every message sent and whether it was
// acknowledged.
//
// A message is handed to each client's callback (the platform's power
// notification port, which only queues it for its run loop). Each message
// carries its own argument, the token a program gives back with
// IOAllowPowerChange; a test can ask whether every message was answered.
// A client that goes away (its program ended) can no longer answer: its
// unanswered messages are marked as left by a departed client and no longer
// count as outstanding, as the kernel stops waiting for a dead process.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace machine {

inline constexpr std::uint32_t kIOMessageCanSystemSleep = 0xE0000270;
inline constexpr std::uint32_t kIOMessageSystemWillSleep = 0xE0000280;
inline constexpr std::uint32_t kIOMessageSystemWillNotSleep = 0xE0000290;
inline constexpr std::uint32_t kIOMessageSystemHasPoweredOn = 0xE0000300;

class SystemPower {
public:
    using Client = std::function<void(std::uint32_t messageType, std::intptr_t argument)>;

    struct Message {
        std::uint64_t client;
        std::uint32_t type;
        std::intptr_t argument;
        bool acknowledged = false;
        bool clientGone = false; // unanswered, and its client removed since
    };

    std::uint64_t addClient(Client client);
    void removeClient(std::uint64_t client);
    std::size_t clientCount() const { return clients_.size(); }

    // The machine goes to sleep, wakes, or asks whether it may sleep.
    void sleep();
    void wake();
    void askCanSleep();
    bool isAsleep() const { return asleep_; }

    // A program answers a message; false for an unknown or answered token.
    bool acknowledge(std::intptr_t argument);

    const std::vector<Message>& messages() const { return messages_; }
    // Every message answered, or sent to a client that has gone since.
    bool everyMessageAcknowledged() const;
    std::size_t unacknowledgedCount() const;
    static std::string messageName(std::uint32_t type);

    void reset();

private:
    void broadcast(std::uint32_t type);
    std::map<std::uint64_t, Client> clients_;
    std::vector<Message> messages_;
    std::uint64_t nextClient_ = 1;
    std::intptr_t nextArgument_ = 0x5000;
    bool asleep_ = false;
};

} // namespace machine
