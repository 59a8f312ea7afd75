// MachineLinkService: the machine's end of the bus links. `arvel-machine`
// owns the bus connection (and the service's bus name) and makes one of
// these over it; each program's BusMachineLink then reaches the model
// through it.
//
// It publishes kMachineLinkObjectPath with kMachineLinkInterface
// (MachineLink/MachineLinkProtocol.h): each Call is served by the
// operation's performer (machine/link/PerformerTable.h), which decodes its
// arguments and encodes its answer as the operation's row says, and the
// news of every registration go out as Event signals addressed to the
// program that registered.
//
// Who calls is what the bus says (Bus/BusPeerCredentials.h): the unix user
// of the caller's connection, never anything in its environment. The one
// exception is a program this service started itself while it could not
// give it its user's real ids: such a program runs with the service's own
// user, and for exactly that host process the service knows whom it meant
// it to be. program.identity answers a program who it is; the model hears
// the caller's id for what it keeps to root (the trackpad driver's user
// client and property writes). A program that goes daemon may move its
// machine process to its new host process only from that process, while
// its parent is the one the machine knew.
//
// What a caller holds (registrations, driver connections opened) belongs to
// its unique bus name: only that caller can end it, and when it leaves the
// bus the service ends it itself, so a program that died holds up no sleep
// and keeps no connection open.
#pragma once

#include "Foundation/Value.h"
#include "machine/link/Caller.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace sdbus {
class IConnection;
class IObject;
} // namespace sdbus
namespace machine {
class Machine;
class SubscriptionBase;
} // namespace machine
class BusPeerCredentials;

class MachineLinkService {
public:
    // Serves the program's own model.
    explicit MachineLinkService(sdbus::IConnection& connection);
    MachineLinkService(sdbus::IConnection& connection, machine::Machine& machine);
    ~MachineLinkService();
    MachineLinkService(const MachineLinkService&) = delete;
    MachineLinkService& operator=(const MachineLinkService&) = delete;

    // What the service holds for callers (for tests and `status`).
    std::size_t registrationCount() const;

private:
    class BusCaller;
    using Holdings = std::map<machine::Caller::Holding, std::function<void()>>;

    std::optional<Value> dispatch(const std::string& caller, const std::string& operation, const Value& arguments, bool* known);
    // The user id the machine takes a caller for, from what the bus says of it.
    std::uint32_t userIdOf(int hostPid, std::uint32_t busUid) const;
    void emit(const std::string& caller, const machine::SubscriptionBase& subscription, std::uint64_t registration,
        const Value& news);
    void callerLeft(const std::string& caller);

    sdbus::IConnection& connection_;
    machine::Machine& machine_;
    std::unique_ptr<BusPeerCredentials> credentials_;
    std::unique_ptr<sdbus::IObject> object_;
    std::map<std::string, Holdings> held_; // by unique bus name
};
