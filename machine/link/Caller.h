// Caller: who asks the machine for something, as the link knows it.
//
// In process the caller is the program itself: its effective user, trusted
// with its own process, and the ender of whatever it made. Over the bus it
// is what the bus says of the calling connection (MachineLinkService): its
// user, its host process, and what it holds of the machine (registrations,
// open driver connections), which only it can end and which the service
// ends when it leaves the bus.
#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace machine {

class Caller {
public:
    // Something a caller holds, named by the operation that made it and its
    // id (and a second number where the id alone names nothing).
    struct Holding {
        std::string madeBy;
        std::uint64_t id = 0;
        std::uint64_t detail = 0;
        auto operator<=>(const Holding&) const = default;
    };
    // The id no user has.
    static constexpr std::uint32_t kNobody = 0xFFFFFFFF;

    virtual ~Caller() = default;

    // The user the machine takes the caller for; nothing when it cannot tell.
    virtual std::optional<std::uint32_t> userId() const = 0;
    std::uint32_t userIdOrNobody() const { return userId().value_or(kNobody); }
    // The caller's own process on the machine (and through it its login
    // session); 0 when it is none of the machine's.
    virtual int machinePid() const = 0;
    // Whether the call comes from process newHostPid, a child of oldHostPid:
    // a program telling the machine the process it has detached into.
    virtual bool callsFromChildOf(int newHostPid, int oldHostPid) const = 0;

    // Keeps a holding and what ends it.
    virtual void hold(Holding holding, std::function<void()> end) = 0;
    // Lets go of a holding; true when the caller held it and may end it.
    virtual bool letGo(const Holding& holding) = 0;
    virtual bool holds(const Holding& holding) const = 0;
};

} // namespace machine
