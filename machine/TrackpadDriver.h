// The trackpad's kernel driver as the system sees it: the I/O Kit service
// of class "Arvel".
//
// Loading registers a fresh service (a reloaded driver starts from its
// built-in state); unloading terminates it and drops every connection.
// Its user client answers calls by index:
//   0  a user is on the console          1  nobody is on the console
//   5  "Calibration" back to built-in    6  observed extremes back to their
//                                           reset state (MinX = MinY = 3000,
//                                           MaxX = MaxY = 1)
//   7  observed extremes, a 16-byte structure of four host-order signed
//      32-bit integers (MinX, MinY, MaxX, MaxY); structure form only
//   8  one scalar: calibration mode on (non-zero) or off; while it is on,
//      the simulated finger moves the observed extremes. The mode ends
//      when the connection that turned it on closes (its program ended
//      or was killed), as a user client's close does: a calibration is
//      never left running by a client that is gone
// Any other index, a wrong number of inputs or outputs, or the wrong call
// form answers kIOReturnBadArgument. Registry properties: "Calibration" (a
// geometry dictionary) and "DebugLogging" (a boolean) can be read; the
// per-application dictionary written with set-properties is kept as the
// last one given, with how many were written and when the last one came (on
// the platform clock), so a run can tell how long a change took to arrive.
// As a kernel driver keeps them, its user client and its property writes
// are root's: anyone else is answered kIOReturnNotPrivileged.
//
// Every operation can be told to fail through the machine's failures, named
// by the platform call that reaches it ("IOServiceOpen",
// "IOConnectMethodScalarIScalarO:8", "IORegistryEntrySetCFProperties").
#pragma once

#include "Failures.h"
#include "IORegistry.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace machine {

struct DriverCall {
    std::uint32_t index;
    std::vector<std::int64_t> inputs;
    bool operator==(const DriverCall&) const = default;
};

struct DriverGeometry {
    std::int32_t minX, minY, maxX, maxY;
    bool operator==(const DriverGeometry&) const = default;
};

class TrackpadDriver final : public IOServiceModel {
public:
    static constexpr const char* kClassName = "Arvel";

    TrackpadDriver(IORegistry& registry, Failures& failures);

    // Loading an already loaded driver, or unloading one that is not
    // loaded, changes nothing.
    void load();
    void unload();
    bool isLoaded() const { return entry_ != 0; }
    RegistryEntryID entry() const { return entry_; }

    // The simulated finger touches the pad at (x, y); only calibration mode
    // makes the driver take note of it.
    void touch(std::int32_t x, std::int32_t y);

    // What the driver holds.
    std::size_t openConnectionCount() const { return connections_.size(); }
    bool isOpen() const { return !connections_.empty(); }
    // Calls received since the driver was loaded, in order.
    const std::vector<DriverCall>& calls() const { return calls_; }
    void clearCalls() { calls_.clear(); }
    // What calls 0 and 1 said last; nothing before either.
    std::optional<bool> userOnConsole() const { return userOnConsole_; }
    bool calibrationMode() const { return calibrationMode_; }
    DriverGeometry observedGeometry() const { return observed_; }
    // The per-application dictionary last written, nil before any.
    const Value& lastApplicationProperties() const { return lastApplicationProperties_; }
    std::size_t applicationPropertiesWrites() const { return applicationPropertiesWrites_; }
    // The date (seconds since 2001) the last one was written; 0 before any.
    double lastApplicationPropertiesDate() const { return lastApplicationPropertiesDate_; }
    bool debugLogging() const { return debugLogging_; }
    // The full configuration as the HID system last handed it on (nil before
    // any), and the acceleration values it passed, by key. A reloaded driver
    // has received nothing yet.
    const Value& hidConfiguration() const { return hidConfiguration_; }
    std::size_t hidConfigurationsReceived() const { return hidConfigurationsReceived_; }
    std::optional<double> acceleration(const std::string& key) const;
    void receiveHIDConfiguration(const Value& configuration);
    void receiveAcceleration(const std::string& key, double value);
    // The "Calibration" property; nil when the driver has none.
    const Value& calibration() const { return calibration_; }
    void setCalibrationForTesting(Value calibration) { calibration_ = std::move(calibration); }

    static Value builtInCalibration();
    static constexpr DriverGeometry kResetGeometry {3000, 3000, 1, 1};

    // A few lines describing the state, for people watching a run.
    std::string describe() const;

    // Unloaded, built-in state.
    void reset();

    // IOServiceModel
    int open(std::uint32_t type, std::uint64_t* connection, std::uint32_t callerUid) override;
    int close(std::uint64_t connection) override;
    int callScalar(std::uint64_t connection, std::uint32_t index, const std::vector<std::int64_t>& inputs,
        std::vector<std::int64_t>& outputs) override;
    int callStructure(std::uint64_t connection, std::uint32_t index, const std::vector<std::int64_t>& inputs,
        std::vector<std::uint8_t>& structure) override;
    Value property(std::string_view key) const override;
    int setProperties(const Value& properties, std::uint32_t callerUid) override;
    int setProperty(const std::string& key, const Value& value, std::uint32_t callerUid) override;

private:
    void restoreBuiltInState();

    IORegistry& registry_;
    Failures& failures_;
    RegistryEntryID entry_ = 0;
    std::set<std::uint64_t> connections_;
    std::uint64_t nextConnection_ = 1;
    std::vector<DriverCall> calls_;
    std::optional<bool> userOnConsole_;
    bool calibrationMode_ = false;
    std::uint64_t calibratingConnection_ = 0; // the connection that turned it on
    DriverGeometry observed_ = kResetGeometry;
    Value lastApplicationProperties_;
    std::size_t applicationPropertiesWrites_ = 0;
    double lastApplicationPropertiesDate_ = 0;
    bool debugLogging_ = false;
    Value calibration_;
    Value hidConfiguration_;
    std::size_t hidConfigurationsReceived_ = 0;
    std::map<std::string, double> accelerations_;
};

} // namespace machine
