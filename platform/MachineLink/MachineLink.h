// MachineLink: the one way the platform's shims reach the machine they run
// on. Two backends, chosen once per program from the environment:
//   - in process (LocalMachineLink): the model linked into the program
//     (machine::Machine::shared()), driven directly by the tests with the
//     virtual clock;
//   - the message bus (BusMachineLink), when the environment names a
//     machine service (ARVEL_MACHINE, its bus name, normally
//     "org.arvel.Machine", with ARVEL_BUS_ADDRESS naming the bus): every
//     operation is a synchronous call to the service that runs the model,
//     and the news the shims listen for arrive from the run loop.
//
// The operations are exactly what the shims need. Listeners behave as the
// model's own: they only queue what they hear for their program's run loop.
// Over the bus a listener never hears anything from inside a call, only
// when the run loop serves the bus.
//
// Who the program is (its real and effective user ids, whether it is a real
// process on the host, whether it has detached) is a thing of each process:
// in process it lives in the model, which the tests set; over the bus it
// lives in the program itself.
#pragma once

#include "Environment/Environment.h"
#include "Foundation/Value.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

class MachineLink {
public:
    // Plain answers, copied out of the machine.
    struct Process {
        int pid = 0;
        std::uint32_t serialHigh = 0;
        std::uint32_t serialLow = 0;
        bool application = false;     // known to the Process Manager
        bool enumerated = false;      // one of its enumeration
        std::string name;
        std::string bundleIdentifier; // empty: none
        std::string bundlePath;       // system path; empty: none
        std::string creator;          // four characters; empty: none
        std::uint32_t session = 0;
        bool operator==(const Process&) const = default;
    };
    struct Session {
        std::uint32_t id = 0;
        std::string userName;
        std::uint32_t uid = 0;
        bool onConsole = false;
    };
    struct User {
        std::string name;
        std::uint32_t uid = 0;
        std::uint32_t gid = 20;
        std::string home; // system path
    };
    // One accessibility element: element 0 is the application.
    struct Element {
        int pid = 0;
        std::uint64_t element = 0;
        bool operator==(const Element&) const = default;
    };
    struct Point {
        double x = 0;
        double y = 0;
    };
    struct Size {
        double width = 0;
        double height = 0;
    };
    using Attribute = std::variant<Value, Element, Point, Size>;

    enum class RegistryEvent { Matched, Terminated };
    enum class ApplicationEventKind { Launched, Terminated, FrontSwitched };

    using RegistryListener = std::function<void(std::uint64_t entry)>;
    using StoreWatcher = std::function<void(const std::string& changedKey)>;
    using PowerClient = std::function<void(std::uint32_t messageType, std::intptr_t argument)>;
    using ApplicationListener = std::function<void(ApplicationEventKind kind, std::uint32_t serialHigh, std::uint32_t serialLow)>;
    using AXDelivery = std::function<void(const Element& element, const std::string& notification)>;
    using SessionListener = std::function<void(std::uint32_t resigned, std::uint32_t activated)>;

    // The bus link when the environment names a machine service, else the
    // in-process one; decided on first use.
    static MachineLink& shared();
    // Whether the environment names a machine service; decided once.
    static bool usesBus();
    virtual ~MachineLink() = default;

    // ---- failure injection: the result the operation must fail with now
    // (0: it succeeds); a qualifier asks "operation:qualifier" first.
    virtual int take(const std::string& operation, const std::string& qualifier = {}) = 0;

    // ---- the I/O registry. Results are I/O Kit result codes; an entry that
    // is gone answers kIOReturnNoDevice.
    virtual std::vector<std::uint64_t> matchingServices(const std::string& className) = 0;
    virtual bool isActive(std::uint64_t entry) = 0;
    virtual std::string className(std::uint64_t entry) = 0;
    virtual std::uint64_t addRegistryListener(const std::string& className, RegistryEvent event, RegistryListener listener) = 0;
    virtual void removeRegistryListener(std::uint64_t listener) = 0;
    virtual int open(std::uint64_t entry, std::uint32_t type, std::uint64_t* connection) = 0;
    virtual int close(std::uint64_t entry, std::uint64_t connection) = 0;
    // outputs.size() is how many outputs the caller asked for.
    virtual int callScalar(std::uint64_t entry, std::uint64_t connection, std::uint32_t index,
        const std::vector<std::int64_t>& inputs, std::vector<std::int64_t>& outputs) = 0;
    // structure.size() is the room on the way in, what was written on the way out.
    virtual int callStructure(std::uint64_t entry, std::uint64_t connection, std::uint32_t index,
        const std::vector<std::int64_t>& inputs, std::vector<std::uint8_t>& structure) = 0;
    // Nil when absent or when the entry is gone.
    virtual Value property(std::uint64_t entry, const std::string& key) = 0;
    virtual int setProperties(std::uint64_t entry, const Value& properties) = 0;
    virtual int setProperty(std::uint64_t entry, const std::string& key, const Value& value) = 0;
    // The HID system's parameter connection; kIOReturnBadArgument for an
    // entry that is not the HID system.
    virtual int setAcceleration(std::uint64_t entry, std::uint64_t connection, const std::string& key, double value) = 0;

    // ---- the configuration store.
    virtual Value storeValue(const std::string& key) = 0;
    virtual std::uint64_t addStoreWatcher(StoreWatcher watcher) = 0;
    virtual void removeStoreWatcher(std::uint64_t watcher) = 0;

    // ---- system power.
    virtual std::uint64_t addPowerClient(PowerClient client) = 0;
    virtual void removePowerClient(std::uint64_t client) = 0;
    // False for an unknown or answered token.
    virtual bool acknowledgePower(std::intptr_t argument) = 0;

    // ---- processes.
    virtual std::optional<Process> processWithPid(int pid) = 0;
    virtual std::optional<Process> processWithSerial(std::uint32_t high, std::uint32_t low) = 0;
    virtual std::optional<Process> frontProcess() = 0;
    // The enumerated applications in launch order.
    virtual std::vector<Process> applications() = 0;
    // What "/bin/ps -axww" prints.
    virtual std::string processListing() = 0;
    virtual std::uint64_t addApplicationListener(ApplicationListener listener) = 0;
    virtual void removeApplicationListener(std::uint64_t listener) = 0;
    // The real process behind a machine process (after it detached).
    virtual bool setHostPid(int pid, int hostPid) = 0;

    // ---- accessibility. Results are AXError values.
    virtual bool accessibilityEnabled() = 0;
    virtual bool elementExists(const Element& element) = 0;
    virtual int copyAttribute(const Element& element, const std::string& name, Attribute& value) = 0;
    virtual int createObserver(int pid, AXDelivery delivery) = 0;
    virtual void destroyObserver(int observer) = 0;
    virtual int addNotification(int observer, const Element& element, const std::string& notification) = 0;
    virtual int removeNotification(int observer, const Element& element, const std::string& notification) = 0;

    // ---- the pointer.
    virtual std::uint32_t buttonState() = 0;
    virtual void warp(double x, double y) = 0;
    virtual void setLocalEventsSuppressionInterval(double seconds) = 0;

    // ---- login sessions.
    virtual std::optional<Session> session(std::uint32_t id) = 0;
    virtual std::uint64_t addSessionListener(SessionListener listener) = 0;
    virtual void removeSessionListener(std::uint64_t listener) = 0;

    // ---- users.
    virtual std::optional<User> userNamed(const std::string& name) = 0;
    virtual std::optional<User> userWithId(std::uint32_t uid) = 0;
    // "~" and "~name" at the start of a system path; an unknown user leaves
    // the path unchanged.
    virtual std::string expandTilde(const std::string& path) = 0;
    // The home folder (system path) of the effective user, empty when the
    // id has no user.
    virtual std::string effectiveUserHome() = 0;

    // ---- the machine itself.
    virtual std::string hostIdentifier() = 0;
    virtual std::uint32_t systemVersion() = 0;
    // What the program wrote to syslog, for the machine's system log.
    virtual void appendSystemLog(const std::string& program, int pid, int priority, const std::string& message) = 0;

    // ---- the running program.
    // Its process on the machine (0: none) and that process's login session.
    virtual int programPid() = 0;
    virtual std::uint32_t programSession() = 0;
    virtual std::uint32_t realUserId() = 0;
    virtual std::uint32_t effectiveUserId() = 0;
    virtual void setRealUserId(std::uint32_t uid) = 0;
    virtual void setEffectiveUserId(std::uint32_t uid) = 0;
    virtual std::uint32_t effectiveGroupId() = 0;
    virtual void setEffectiveGroupId(std::uint32_t gid) = 0;
    virtual std::vector<std::uint32_t> groups() = 0;
    virtual void setGroups(const std::vector<std::uint32_t>& groups) = 0;
    virtual bool isHostProcess() = 0;
    virtual void setHostProcess(bool host) = 0;
    virtual bool programDetached() = 0;
    virtual void setProgramDetached(bool detached) = 0;
};
