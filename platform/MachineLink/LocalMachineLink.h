// LocalMachineLink: the machine linked into the program. Every operation
// goes straight to the model (machine::Machine::shared()), listeners
// included, and the program's identity is the model's, so a test sets who
// runs and which failures come next on the model itself.
//
// MachineLinkService serves the bus with one of these over its own model;
// for each call it names the caller (setCallerUserId), whose id then goes
// to the services that keep operations to root in place of the model's own
// effective user.
#pragma once

#include "MachineLink/MachineLink.h"

namespace machine {
class Machine;
}

class LocalMachineLink final : public MachineLink {
public:
    // The model of this program.
    LocalMachineLink();
    explicit LocalMachineLink(machine::Machine& machine);

    machine::Machine& machine() { return machine_; }
    // Who calls from now on; nothing: the program's own effective user.
    void setCallerUserId(std::optional<std::uint32_t> uid) { callerUid_ = uid; }

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
    void appendSystemLog(const std::string& program, int pid, int priority, const std::string& message) override;

    int programPid() override;
    std::uint32_t programSession() override;
    std::uint32_t realUserId() override;
    std::uint32_t effectiveUserId() override;
    void setRealUserId(std::uint32_t uid) override;
    void setEffectiveUserId(std::uint32_t uid) override;
    std::uint32_t effectiveGroupId() override;
    void setEffectiveGroupId(std::uint32_t gid) override;
    std::vector<std::uint32_t> groups() override;
    void setGroups(const std::vector<std::uint32_t>& groups) override;
    bool isHostProcess() override;
    void setHostProcess(bool host) override;
    bool programDetached() override;
    void setProgramDetached(bool detached) override;

private:
    std::uint32_t callerUserId() const;

    machine::Machine& machine_;
    std::optional<std::uint32_t> callerUid_;
};
