// The simulated I/O registry: the services the kernel has registered, each
// an entry with a class name and a model that answers for it (the trackpad
// driver, later the HID system).
//
// Registering a service tells every listener for "matched" of its class, and
// terminating it every listener for "terminated". Listeners are the platform
// shims' notification ports, which only queue the news and signal their
// run-loop source: the system hears of a change when its run loop runs,
// never from inside the machine verb that caused it.
//
// An entry id is never reused, so a handle to a terminated service stays
// recognisably dead after the driver is loaded again.
#pragma once

#include "Foundation/Value.h"
#include "link/MachineValues.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace machine {

using RegistryEntryID = std::uint64_t;

// What a registered service does when a program talks to it. Results are
// I/O Kit result codes; the defaults answer kIOReturnUnsupported. Opening
// a connection and writing properties name the caller (its effective user
// id), so a service can keep them to root as a kernel driver does.
class IOServiceModel {
public:
    virtual ~IOServiceModel() = default;
    virtual int open(std::uint32_t type, std::uint64_t* connection, std::uint32_t callerUid);
    virtual int close(std::uint64_t connection);
    // Scalar inputs, scalar outputs (outputs.size() is what the caller asked for).
    virtual int callScalar(std::uint64_t connection, std::uint32_t index, const std::vector<std::int64_t>& inputs,
        std::vector<std::int64_t>& outputs);
    // Scalar inputs, one structure out (structure.size() is the size passed in;
    // the model may shrink it to what it wrote).
    virtual int callStructure(std::uint64_t connection, std::uint32_t index, const std::vector<std::int64_t>& inputs,
        std::vector<std::uint8_t>& structure);
    // A registry property, nil when absent.
    virtual Value property(std::string_view key) const;
    virtual int setProperties(const Value& properties, std::uint32_t callerUid);
    virtual int setProperty(const std::string& key, const Value& value, std::uint32_t callerUid);
};

class IORegistry {
public:
    using Event = RegistryEvent;
    using Listener = std::function<void(RegistryEntryID)>;

    RegistryEntryID registerService(std::string className, IOServiceModel* model);
    void terminateService(RegistryEntryID entry);

    // Active entries of the class, oldest first.
    std::vector<RegistryEntryID> matchingServices(std::string_view className) const;
    bool isActive(RegistryEntryID entry) const;
    std::string className(RegistryEntryID entry) const;
    // The model of an active entry; nullptr for a terminated or unknown one.
    IOServiceModel* model(RegistryEntryID entry) const;

    std::uint64_t addListener(std::string className, Event event, Listener listener);
    void removeListener(std::uint64_t listener);
    std::size_t listenerCount() const { return listeners_.size(); }

    // Forgets every entry and listener; entry ids keep counting up.
    void reset();

private:
    struct Entry {
        std::string className;
        IOServiceModel* model;
        bool active;
    };
    struct Registration {
        std::string className;
        Event event;
        Listener listener;
    };
    void tell(const std::string& className, Event event, RegistryEntryID entry);

    std::map<RegistryEntryID, Entry> entries_;
    std::map<std::uint64_t, Registration> listeners_;
    RegistryEntryID nextEntry_ = 0x100000100;
    std::uint64_t nextListener_ = 1;
};

} // namespace machine
