// MachineLinkService: the machine's end of the bus links. `arvel-machine`
// owns the bus connection (and the service's bus name) and makes one of
// these over it; each program's BusMachineLink then reaches the model
// through it.
//
// It publishes kMachineLinkObjectPath with kMachineLinkInterface
// (MachineLinkProtocol.h): Call(s operation, ay arguments) -> ay result,
// both binary property-list dictionaries, dispatched to the in-process link
// of the service's own model, and the Event(s kind, ay payload) signal for
// the news of every registration.
//
// Operations, their argument entries and their result entries:
//   registry.matching {class}                       -> {result: [entry]}
//   registry.isActive {entry}                       -> {result: bool}
//   registry.className {entry}                      -> {result: string}
//   registry.addListener {class, event: "matched" | "terminated"} -> {result: listener}
//   registry.removeListener {listener}              -> {}
//   entry.open {entry, type}                        -> {result: code, connection}
//   entry.close {entry, connection}                 -> {result: code}
//   entry.callScalar {entry, connection, index, inputs: [int], outputCount} -> {result: code, outputs: [int]}
//   entry.callStructure {entry, connection, index, inputs: [int], size} -> {result: code, structure: data}
//   entry.property {entry, key}                     -> {result: value, absent for nil}
//   entry.setProperties {entry, properties}         -> {result: code}
//   entry.setProperty {entry, key, value}           -> {result: code}
//   hid.setAcceleration {entry, connection, key, value: real} -> {result: code}
//   store.value {key}                               -> {result: value, absent for nil}
//   store.addWatcher {}                             -> {result: watcher}
//   store.removeWatcher {watcher}                   -> {}
//   power.addClient {}                              -> {result: client}
//   power.removeClient {client}                     -> {}
//   power.acknowledge {argument}                    -> {result: bool}
//   processes.withPid {pid}                         -> {result: process, absent for none}
//   processes.withSerial {high, low}                -> {result: process, absent for none}
//   processes.front {}                              -> {result: process, absent for none}
//   processes.applications {}                       -> {result: [process]}
//   processes.listing {}                            -> {result: string}
//   processes.addListener {}                        -> {result: listener}
//   processes.removeListener {listener}             -> {}
//   processes.setHostPid {pid, hostPid}             -> {result: bool}
//   ax.enabled {}                                   -> {result: bool}
//   ax.exists {pid, element}                        -> {result: bool}
//   ax.copyAttribute {pid, element, name}           -> {result: code, value: attribute}
//   ax.createObserver {pid}                         -> {result: observer}
//   ax.destroyObserver {observer}                   -> {}
//   ax.addNotification {observer, pid, element, notification}    -> {result: code}
//   ax.removeNotification {observer, pid, element, notification} -> {result: code}
//   pointer.buttonState {}                          -> {result: bits}
//   pointer.warp {x, y}                             -> {}
//   pointer.setSuppressionInterval {seconds}        -> {}
//   sessions.session {id}                           -> {result: session, absent for none}
//   sessions.addListener {}                         -> {result: listener}
//   sessions.removeListener {listener}              -> {}
//   users.named {name}                              -> {result: user, absent for none}
//   users.withId {uid}                              -> {result: user, absent for none}
//   host.identifier {}                              -> {result: string}
//   system.version {}                               -> {result: int}
//   log.append {program, pid, priority, message}    -> {}
//   program.identity {}                             -> {result: uid}
// (process, session, user and attribute dictionaries: MachineLinkCoding.h.)
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
// Registrations, and driver connections opened, belong to the caller's
// unique bus name: only that caller can end them, and when it leaves the
// bus the service ends them itself, so a program that died holds up no
// sleep and keeps no connection open.
#pragma once

#include "Foundation/Value.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>

namespace sdbus {
class IConnection;
class IObject;
} // namespace sdbus
namespace machine {
class Machine;
}
class BusPeerCredentials;
class LocalMachineLink;

class MachineLinkService {
public:
    // Serves the program's own model.
    explicit MachineLinkService(sdbus::IConnection& connection);
    MachineLinkService(sdbus::IConnection& connection, machine::Machine& machine);
    ~MachineLinkService();
    MachineLinkService(const MachineLinkService&) = delete;
    MachineLinkService& operator=(const MachineLinkService&) = delete;

    // Registrations the service holds for callers (for tests and `status`).
    std::size_t registrationCount() const;

private:
    enum class Kind { Registry, Store, Power, Application, Session, Observer, DriverConnection };
    struct Owned {
        std::set<std::pair<Kind, std::uint64_t>> registrations;
        std::set<std::pair<std::uint64_t, std::uint64_t>> connections; // entry, connection
    };
    class Arguments;
    using Handler = std::function<std::optional<Value>(Arguments&)>;

    void makeHandlers();
    // The handler of "<kind>.remove…{key}".
    Handler removal(Kind kind, const char* key);
    std::optional<Value> dispatch(const std::string& caller, const std::string& operation, const Value& arguments, bool* known);
    // The user id the machine takes a caller for, from what the bus says of it.
    std::uint32_t userIdOf(int hostPid, std::uint32_t busUid) const;
    void emit(const char* kind, const Value& payload);
    void own(const std::string& caller, Kind kind, std::uint64_t id);
    bool owns(const std::string& caller, Kind kind, std::uint64_t id) const;
    void disown(const std::string& caller, Kind kind, std::uint64_t id);
    void end(Kind kind, std::uint64_t id);
    void callerLeft(const std::string& caller);

    sdbus::IConnection& connection_;
    std::unique_ptr<LocalMachineLink> link_;
    std::unique_ptr<BusPeerCredentials> credentials_;
    std::unique_ptr<sdbus::IObject> object_;
    std::shared_ptr<void> ownerWatch_;
    std::map<std::string, Owned> owned_; // by unique bus name
    std::map<std::string, Handler, std::less<>> handlers_; // by operation
};
