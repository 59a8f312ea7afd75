#include "HIDSystem.h"

#include "Foundation/Format.h"
#include "IOKit/IOReturn.h"
#include "RunLoop/Clock.h"

namespace machine {

HIDSystem::HIDSystem(IORegistry& registry, Failures& failures, TrackpadDriver& driver)
    : registry_(registry)
    , failures_(failures)
    , driver_(driver)
{
}

void HIDSystem::boot()
{
    if (!entry_)
        entry_ = registry_.registerService(kClassName, this);
}

void HIDSystem::remove()
{
    if (entry_) {
        registry_.terminateService(entry_);
        entry_ = 0;
        connections_.clear();
    }
}

void HIDSystem::reset()
{
    entry_ = 0;
    parameters_ = Value::dictionary();
    lastProperties_ = Value();
    propertiesWrites_ = 0;
    lastPropertiesDate_ = 0;
    accelerations_.clear();
    doubleClickThreshold_.reset();
    connections_.clear();
}

bool HIDSystem::setDoubleClickThreshold(double seconds)
{
    // NaN fails both comparisons.
    if (!(seconds > 0 && seconds <= 5.0))
        return false;
    doubleClickThreshold_ = seconds;
    return true;
}

std::optional<double> HIDSystem::acceleration(const std::string& key) const
{
    auto it = accelerations_.find(key);
    return it == accelerations_.end() ? std::nullopt : std::optional<double>(it->second);
}

int HIDSystem::open(std::uint32_t type, std::uint64_t* connection, std::uint32_t)
{
    if (int r = failures_.take("IOServiceOpen", kClassName))
        return r;
    if (type != kParameterConnectionType)
        return kIOReturnBadArgument;
    *connection = nextConnection_++;
    connections_.insert(*connection);
    return kIOReturnSuccess;
}

int HIDSystem::close(std::uint64_t connection)
{
    return connections_.erase(connection) ? kIOReturnSuccess : kIOReturnBadArgument;
}

Value HIDSystem::property(std::string_view key) const
{
    if (key == "HIDParameters")
        return parameters_;
    return Value();
}

int HIDSystem::setProperties(const Value& properties, std::uint32_t)
{
    if (int r = failures_.take("IORegistryEntrySetCFProperties", kClassName))
        return r;
    if (!properties.isDictionary())
        return kIOReturnBadArgument;
    for (const auto& [key, value] : *properties.dictionaryValue())
        parameters_.set(key, value);
    lastProperties_ = properties;
    ++propertiesWrites_;
    lastPropertiesDate_ = currentDate();
    driver_.receiveHIDConfiguration(properties);
    return kIOReturnSuccess;
}

int HIDSystem::setAcceleration(std::uint64_t connection, const std::string& key, double value)
{
    if (!connections_.count(connection))
        return kIOReturnNotOpen;
    if (int r = failures_.take("IOHIDSetAccelerationWithKey"))
        return r;
    accelerations_[key] = value;
    parameters_.set(key, value);
    driver_.receiveAcceleration(key, value);
    return kIOReturnSuccess;
}

std::string HIDSystem::describe() const
{
    if (!entry_)
        return "HID system: missing\n";
    std::string out = stringWithFormat("HID system: %u configuration(s) received\n", static_cast<unsigned>(propertiesWrites_));
    if (propertiesWrites_)
        out += stringWithFormat("  last configuration = %@\n", lastProperties_);
    for (const auto& [key, value] : accelerations_)
        out += stringWithFormat("  %s = %g\n", key, value);
    if (doubleClickThreshold_)
        out += stringWithFormat("  double-click threshold = %g s\n", *doubleClickThreshold_);
    return out;
}

} // namespace machine
