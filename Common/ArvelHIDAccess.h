// ArvelHIDAccess: the system's only way to the HID event system service
// ("IOHIDSystem"). It writes property dictionaries to it (the full driver
// configuration reaches the driver only this way), reads its current
// parameters, and sets an acceleration value by key. The service is looked
// up afresh on every call; nothing is kept between calls but the master
// port. Every failure is one log line; nothing is reported to the caller
// and nothing is retried.
#pragma once

#include "Foundation/SharedInstance.h"
#include "Foundation/Value.h"
#include "IOKit/IOTypes.h"

#include <memory>
#include <optional>
#include <string>

class ArvelHIDAccess : public SharedInstance<ArvelHIDAccess> {
public:
    // A new object (the daemon's configuration push keeps one of its own);
    // nil when no master port is to be had.
    static std::shared_ptr<ArvelHIDAccess> create();
    ~ArvelHIDAccess();

    // Sends the whole dictionary to the HID system; nil is refused.
    void setHIDConfig(const Value& config);
    // The HID system's "HIDParameters", or nil.
    Value getHIDConfig();
    // Sets one acceleration value; key nil (nullopt) or an acceleration below
    // 0.0 is refused.
    void setHIDAccelerationForKey(double acceleration, const std::optional<std::string>& key);

private:
    explicit ArvelHIDAccess(mach_port_t masterPort) : masterPort(masterPort) {}
    io_service_t _findHIDSystem();

    mach_port_t masterPort;

    friend class SharedInstance<ArvelHIDAccess>;
    // create() says why it failed.
    static constexpr const char* kSharedInstanceFailure = nullptr;
};
