// BusMachineLink: the machine reached over the message bus, where
// `arvel-machine` (MachineLinkService) runs the model.
//
// Every operation is one synchronous Call on the service's object over the
// program's bus connection (Bus/MessageBus.h), with a time-out: a service
// that is gone or hung answers the operation's neutral result (nothing,
// nil, NO, "no device", "cannot complete") with one logged line.
//
// Registrations (registry listeners, store watchers, power clients,
// application and session listeners, accessibility observers) are made on
// the service and owned there by this program's bus connection, so they end
// when the program leaves the bus. Their news come as Event signals; the
// link queues each one and hands it to its listener when the run loop
// serves the link's source, never from inside a call.
//
// Who the program is stays here: its real and effective ids start as the
// service answers program.identity when the link is made (the user the bus
// knows the program's connection by, or, for a program the service started
// without being able to switch its ids, the user it meant it to be), or as
// the host process's when no service answers; nothing in the environment
// counts. A program may lower its effective id from there (Unix/Identity.h)
// but never raise it. Its machine pid is ARVEL_MACHINE_PID (0 for a program
// started by hand).
// Failure injection is a facility of the in-process link for tests: over
// the bus nothing is injected and every operation is answered "no failure".
#pragma once

#include "MachineLink/MachineLink.h"

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>

namespace sdbus {
class IProxy;
}
class RunLoopSource;

class BusMachineLink final : public MachineLink {
public:
    explicit BusMachineLink(std::string serviceName);
    ~BusMachineLink() override;

    int take(const std::string& operation, const std::string& qualifier = {}) override;

    std::vector<std::uint64_t> matchingServices(const std::string& className) override;
    bool isActive(std::uint64_t entry) override;
    std::string className(std::uint64_t entry) override;
    std::uint64_t addRegistryListener(const std::string& className, RegistryEvent event, RegistryListener listener) override;
    void removeRegistryListener(std::uint64_t listener) override;
    int open(std::uint64_t entry, std::uint32_t type, std::uint64_t* connection) override;
    int close(std::uint64_t entry, std::uint64_t connection) override;
    int callScalar(std::uint64_t entry, std::uint64_t connection, std::uint32_t index, const std::vector<std::int64_t>& inputs,
        std::vector<std::int64_t>& outputs) override;
    int callStructure(std::uint64_t entry, std::uint64_t connection, std::uint32_t index, const std::vector<std::int64_t>& inputs,
        std::vector<std::uint8_t>& structure) override;
    Value property(std::uint64_t entry, const std::string& key) override;
    int setProperties(std::uint64_t entry, const Value& properties) override;
    int setProperty(std::uint64_t entry, const std::string& key, const Value& value) override;
    int setAcceleration(std::uint64_t entry, std::uint64_t connection, const std::string& key, double value) override;

    Value storeValue(const std::string& key) override;
    std::uint64_t addStoreWatcher(StoreWatcher watcher) override;
    void removeStoreWatcher(std::uint64_t watcher) override;

    std::uint64_t addPowerClient(PowerClient client) override;
    void removePowerClient(std::uint64_t client) override;
    bool acknowledgePower(std::intptr_t argument) override;

    std::optional<Process> processWithPid(int pid) override;
    std::optional<Process> processWithSerial(std::uint32_t high, std::uint32_t low) override;
    std::optional<Process> frontProcess() override;
    std::vector<Process> applications() override;
    std::string processListing() override;
    std::uint64_t addApplicationListener(ApplicationListener listener) override;
    void removeApplicationListener(std::uint64_t listener) override;
    // Made by a program that has just detached into a new process: the bus
    // connection it inherited is its parent's, so this call travels on a
    // connection of its own.
    bool setHostPid(int pid, int hostPid) override;

    bool accessibilityEnabled() override;
    bool elementExists(const Element& element) override;
    int copyAttribute(const Element& element, const std::string& name, Attribute& value) override;
    int createObserver(int pid, AXDelivery delivery) override;
    void destroyObserver(int observer) override;
    int addNotification(int observer, const Element& element, const std::string& notification) override;
    int removeNotification(int observer, const Element& element, const std::string& notification) override;

    std::uint32_t buttonState() override;
    void warp(double x, double y) override;
    void setLocalEventsSuppressionInterval(double seconds) override;

    std::optional<Session> session(std::uint32_t id) override;
    std::uint64_t addSessionListener(SessionListener listener) override;
    void removeSessionListener(std::uint64_t listener) override;

    std::optional<User> userNamed(const std::string& name) override;
    std::optional<User> userWithId(std::uint32_t uid) override;
    std::string expandTilde(const std::string& path) override;
    std::string effectiveUserHome() override;

    std::string hostIdentifier() override;
    std::uint32_t systemVersion() override;
    // Sent without waiting for an answer.
    void appendSystemLog(const std::string& program, int pid, int priority, const std::string& message) override;

    int programPid() override { return programPid_; }
    std::uint32_t programSession() override;
    std::uint32_t realUserId() override { return realUid_; }
    std::uint32_t effectiveUserId() override { return effectiveUid_; }
    void setRealUserId(std::uint32_t uid) override { realUid_ = uid; }
    void setEffectiveUserId(std::uint32_t uid) override { effectiveUid_ = uid; }
    std::uint32_t effectiveGroupId() override { return effectiveGid_; }
    void setEffectiveGroupId(std::uint32_t gid) override { effectiveGid_ = gid; }
    std::vector<std::uint32_t> groups() override { return groups_; }
    void setGroups(const std::vector<std::uint32_t>& groups) override { groups_ = groups; }
    bool isHostProcess() override { return hostProcess_; }
    void setHostProcess(bool host) override { hostProcess_ = host; }
    bool programDetached() override { return detached_; }
    void setProgramDetached(bool detached) override { detached_ = detached; }

private:
    // The result dictionary of the operation, or nothing (logged) when the
    // service could not be asked or did not answer.
    std::optional<Value> call(const std::string& operation, const Value& arguments);
    sdbus::IProxy* proxy();
    // One call on a bus connection made for it alone (the program's own
    // may not exist yet, or may be a parent's it cannot use).
    std::optional<Value> callOnOwnConnection(const std::string& operation, const Value& arguments);
    void heard(const std::string& kind, const std::vector<std::uint8_t>& payload);
    void deliverNews();
    std::uint64_t registered(const std::string& operation, const Value& arguments);
    int resultCode(const std::optional<Value>& answer, int neutral);

    std::string service_;
    std::unique_ptr<sdbus::IProxy> proxy_;
    std::shared_ptr<RunLoopSource> newsSource_;
    std::deque<std::pair<std::string, Value>> news_;

    std::map<std::uint64_t, RegistryListener> registryListeners_;
    std::map<std::uint64_t, StoreWatcher> storeWatchers_;
    std::map<std::uint64_t, PowerClient> powerClients_;
    std::map<std::uint64_t, ApplicationListener> applicationListeners_;
    std::map<std::uint64_t, SessionListener> sessionListeners_;
    std::map<int, AXDelivery> observers_;

    int programPid_ = 0;
    std::uint32_t realUid_ = 0;
    std::uint32_t effectiveUid_ = 0;
    std::uint32_t effectiveGid_ = 0;
    std::vector<std::uint32_t> groups_;
    bool hostProcess_ = false;
    bool detached_ = false;
};
