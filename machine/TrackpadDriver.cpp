#include "TrackpadDriver.h"

#include "Foundation/Format.h"
#include "IOKit/IOReturn.h"
#include "RunLoop/Clock.h"

#include <algorithm>
#include <cstring>

namespace machine {

TrackpadDriver::TrackpadDriver(IORegistry& registry, Failures& failures) : registry_(registry), failures_(failures)
{
    restoreBuiltInState();
}

Value TrackpadDriver::builtInCalibration()
{
    return Value::dictionary({{"MinX", 120}, {"MinY", 96}, {"MaxX", 2880}, {"MaxY", 2304}});
}

void TrackpadDriver::restoreBuiltInState()
{
    connections_.clear();
    calls_.clear();
    userOnConsole_.reset();
    calibrationMode_ = false;
    observed_ = kResetGeometry;
    lastApplicationProperties_ = Value();
    applicationPropertiesWrites_ = 0;
    lastApplicationPropertiesDate_ = 0;
    debugLogging_ = false;
    calibration_ = builtInCalibration();
    hidConfiguration_ = Value();
    hidConfigurationsReceived_ = 0;
    accelerations_.clear();
}

void TrackpadDriver::receiveHIDConfiguration(const Value& configuration)
{
    if (!entry_)
        return;
    hidConfiguration_ = configuration;
    ++hidConfigurationsReceived_;
}

void TrackpadDriver::receiveAcceleration(const std::string& key, double value)
{
    if (entry_)
        accelerations_[key] = value;
}

std::optional<double> TrackpadDriver::acceleration(const std::string& key) const
{
    auto it = accelerations_.find(key);
    return it == accelerations_.end() ? std::nullopt : std::optional<double>(it->second);
}

void TrackpadDriver::load()
{
    if (entry_)
        return;
    restoreBuiltInState();
    entry_ = registry_.registerService(kClassName, this);
}

void TrackpadDriver::unload()
{
    if (!entry_)
        return;
    RegistryEntryID entry = entry_;
    entry_ = 0;
    connections_.clear();
    calibrationMode_ = false;
    registry_.terminateService(entry);
}

void TrackpadDriver::reset()
{
    entry_ = 0;
    restoreBuiltInState();
}

void TrackpadDriver::touch(std::int32_t x, std::int32_t y)
{
    if (!entry_ || !calibrationMode_)
        return;
    observed_.minX = std::min(observed_.minX, x);
    observed_.minY = std::min(observed_.minY, y);
    observed_.maxX = std::max(observed_.maxX, x);
    observed_.maxY = std::max(observed_.maxY, y);
}

int TrackpadDriver::open(std::uint32_t type, std::uint64_t* connection, std::uint32_t callerUid)
{
    if (int r = failures_.take("IOServiceOpen"))
        return r;
    if (!entry_)
        return kIOReturnNoDevice;
    if (callerUid != 0)
        return kIOReturnNotPrivileged;
    if (type != 0 || !connection)
        return kIOReturnBadArgument;
    *connection = nextConnection_++;
    connections_.insert(*connection);
    return kIOReturnSuccess;
}

int TrackpadDriver::close(std::uint64_t connection)
{
    if (int r = failures_.take("IOServiceClose"))
        return r;
    if (!connections_.erase(connection))
        return kIOReturnNotOpen;
    if (calibrationMode_ && connection == calibratingConnection_)
        calibrationMode_ = false;
    return kIOReturnSuccess;
}

int TrackpadDriver::callScalar(std::uint64_t connection, std::uint32_t index, const std::vector<std::int64_t>& inputs,
    std::vector<std::int64_t>& outputs)
{
    if (int r = failures_.take("IOConnectMethodScalarIScalarO", std::to_string(index)))
        return r;
    if (!entry_)
        return kIOReturnNoDevice;
    if (!connections_.count(connection))
        return kIOReturnNotOpen;
    std::size_t expectedInputs = index == 8 ? 1 : 0;
    bool known = index == 0 || index == 1 || index == 5 || index == 6 || index == 8;
    if (!known || inputs.size() != expectedInputs || !outputs.empty())
        return kIOReturnBadArgument;
    calls_.push_back(DriverCall {index, inputs});
    switch (index) {
    case 0: userOnConsole_ = true; break;
    case 1: userOnConsole_ = false; break;
    case 5: calibration_ = builtInCalibration(); break;
    case 6: observed_ = kResetGeometry; break;
    case 8:
        calibrationMode_ = inputs[0] != 0;
        calibratingConnection_ = connection;
        break;
    }
    return kIOReturnSuccess;
}

int TrackpadDriver::callStructure(std::uint64_t connection, std::uint32_t index, const std::vector<std::int64_t>& inputs,
    std::vector<std::uint8_t>& structure)
{
    if (int r = failures_.take("IOConnectMethodScalarIStructureO", std::to_string(index)))
        return r;
    if (!entry_)
        return kIOReturnNoDevice;
    if (!connections_.count(connection))
        return kIOReturnNotOpen;
    if (index != 7 || !inputs.empty() || structure.size() != 16)
        return kIOReturnBadArgument;
    calls_.push_back(DriverCall {index, inputs});
    std::int32_t values[4] = {observed_.minX, observed_.minY, observed_.maxX, observed_.maxY};
    std::memcpy(structure.data(), values, sizeof values);
    return kIOReturnSuccess;
}

Value TrackpadDriver::property(std::string_view key) const
{
    if (key == "Calibration")
        return calibration_;
    if (key == "DebugLogging")
        return debugLogging_;
    if (key == "IOClass")
        return kClassName;
    return {};
}

int TrackpadDriver::setProperties(const Value& properties, std::uint32_t callerUid)
{
    if (int r = failures_.take("IORegistryEntrySetCFProperties"))
        return r;
    if (callerUid != 0)
        return kIOReturnNotPrivileged;
    if (!properties.isDictionary())
        return kIOReturnBadArgument;
    lastApplicationProperties_ = properties;
    ++applicationPropertiesWrites_;
    lastApplicationPropertiesDate_ = currentDate();
    return kIOReturnSuccess;
}

int TrackpadDriver::setProperty(const std::string& key, const Value& value, std::uint32_t callerUid)
{
    if (int r = failures_.take("IORegistryEntrySetCFProperty"))
        return r;
    if (callerUid != 0)
        return kIOReturnNotPrivileged;
    if (key == "DebugLogging" && value.isBoolean()) {
        debugLogging_ = *value.boolean();
        return kIOReturnSuccess;
    }
    return kIOReturnBadArgument;
}

std::string TrackpadDriver::describe() const
{
    if (!entry_)
        return "driver: not loaded\n";
    std::string out = stringWithFormat("driver: loaded, %u client connection(s) open\n", static_cast<unsigned>(connections_.size()));
    out += "  user on console: ";
    out += userOnConsole_ ? (*userOnConsole_ ? "yes" : "no") : "not told";
    out += "\n  calls:";
    if (calls_.empty())
        out += " none";
    for (const auto& call : calls_) {
        out += stringWithFormat(" %u", call.index);
        if (!call.inputs.empty()) {
            out += "(";
            for (std::size_t i = 0; i < call.inputs.size(); ++i)
                out += stringWithFormat(i ? ",%lld" : "%lld", static_cast<long long>(call.inputs[i]));
            out += ")";
        }
    }
    out += stringWithFormat("\n  calibration mode: %s, observed {MinX = %d; MinY = %d; MaxX = %d; MaxY = %d; }\n",
        calibrationMode_ ? "on" : "off", observed_.minX, observed_.minY, observed_.maxX, observed_.maxY);
    out += stringWithFormat("  Calibration = %@\n  DebugLogging = %s\n  per-application dictionary = %@\n", calibration_,
        debugLogging_ ? "true" : "false", lastApplicationProperties_);
    out += stringWithFormat("  configuration from the HID system = %@\n", hidConfiguration_);
    for (const auto& [key, value] : accelerations_)
        out += stringWithFormat("  %s = %g\n", key, value);
    return out;
}

} // namespace machine
