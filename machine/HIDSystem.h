// The HID event system as the system sees it: the I/O Kit service of class
// "IOHIDSystem", present from boot.
//
// Properties set on it are kept, entry by entry, as its "HIDParameters" and
// handed on to the pointing drivers, so the trackpad driver holds the full
// configuration it was last given. Its parameter connection (type 1) sets
// acceleration values by key; each is kept in "HIDParameters" too and
// handed on to the drivers.
//
// The system's double-click interval (what the private MachineSettings
// framework's setDoubleClickThresholdLevel sets) is kept here too, since
// the HID system is what times clicks.
//
// Failures, named by the platform call: "IOServiceOpen:IOHIDSystem",
// "IORegistryEntrySetCFProperties:IOHIDSystem", "IOHIDSetAccelerationWithKey".
#pragma once

#include "Failures.h"
#include "IORegistry.h"
#include "TrackpadDriver.h"

#include <map>
#include <optional>
#include <set>
#include <string>

namespace machine {

class HIDSystem final : public IOServiceModel {
public:
    static constexpr const char* kClassName = "IOHIDSystem";
    static constexpr std::uint32_t kParameterConnectionType = 1;

    HIDSystem(IORegistry& registry, Failures& failures, TrackpadDriver& driver);

    // Registers the service (at boot); a second call changes nothing.
    void boot();
    // Takes the service away, as if the HID system were missing.
    void remove();
    bool isPresent() const { return entry_ != 0; }

    const Value& parameters() const { return parameters_; }
    // The dictionary last set whole, nil before any; how many were set.
    const Value& lastProperties() const { return lastProperties_; }
    std::size_t propertiesWrites() const { return propertiesWrites_; }
    // When the last one came, on the platform clock (0 before any).
    double lastPropertiesDate() const { return lastPropertiesDate_; }
    std::optional<double> acceleration(const std::string& key) const;
    std::size_t openConnectionCount() const { return connections_.size(); }

    int setAcceleration(std::uint64_t connection, const std::string& key, double value);
    // Seconds, more than 0 and at most 5; anything else is refused (false).
    bool setDoubleClickThreshold(double seconds);
    std::optional<double> doubleClickThreshold() const { return doubleClickThreshold_; }
    std::string describe() const;
    void reset();

    // IOServiceModel
    // Open to every program: the pane, running as the console user, writes
    // the parameters as the daemon does.
    int open(std::uint32_t type, std::uint64_t* connection, std::uint32_t callerUid) override;
    int close(std::uint64_t connection) override;
    Value property(std::string_view key) const override;
    int setProperties(const Value& properties, std::uint32_t callerUid) override;

private:
    IORegistry& registry_;
    Failures& failures_;
    TrackpadDriver& driver_;
    RegistryEntryID entry_ = 0;
    Value parameters_ = Value::dictionary();
    Value lastProperties_;
    std::size_t propertiesWrites_ = 0;
    double lastPropertiesDate_ = 0;
    std::map<std::string, double> accelerations_;
    std::optional<double> doubleClickThreshold_;
    std::set<std::uint64_t> connections_;
    std::uint64_t nextConnection_ = 1;
};

} // namespace machine
