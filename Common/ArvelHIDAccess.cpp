#include "Common/ArvelHIDAccess.h"

#include "Foundation/Allocation.h"
#include "IOKit/IOHIDLib.h"
#include "IOKit/IOKitLib.h"
#include "Log/Log.h"

std::shared_ptr<ArvelHIDAccess> ArvelHIDAccess::create()
{
    if (allocationFails("ArvelHIDAccess")) {
        logError("ArvelHIDAccess error: Unable to allocate a HID access object.\n");
        return nullptr;
    }
    mach_port_t port = MACH_PORT_NULL;
    IOMasterPort(MACH_PORT_NULL, &port);
    if (port == MACH_PORT_NULL) {
        logError("ArvelHIDAccess error: Unable to establish communication port with IOKit.\n");
        return nullptr;
    }
    return std::shared_ptr<ArvelHIDAccess>(new ArvelHIDAccess(port));
}

ArvelHIDAccess::~ArvelHIDAccess()
{
    if (masterPort != MACH_PORT_NULL)
        mach_port_deallocate(mach_task_self(), masterPort);
}

io_service_t ArvelHIDAccess::_findHIDSystem()
{
    return IOServiceGetMatchingService(masterPort, IOServiceMatching("IOHIDSystem"));
}

void ArvelHIDAccess::setHIDConfig(const Value& config)
{
    if (config.isNil()) {
        logError("ArvelHIDAccess error: Passed nil configuration. Config could not be written.\n");
        return;
    }
    verboseNotice("ArvelHIDAccess: Sending %@", config);
    io_service_t service = _findHIDSystem();
    if (!service) {
        logError("ArvelHIDAccess error: Did not locate the HIDSystem service. Config could not be written.\n");
        return;
    }
    kern_return_t result = IORegistryEntrySetCFProperties(service, config);
    IOObjectRelease(service);
    if (result != KERN_SUCCESS)
        logError("ArvelHIDAccess error: Config could not be written due to kernel error: %x.\n", result);
}

Value ArvelHIDAccess::getHIDConfig()
{
    io_service_t service = _findHIDSystem();
    if (!service) {
        logError("ArvelHIDAccess error: Did not locate the HIDSystem service. Config could not be read.\n");
        return Value();
    }
    Value parameters = IORegistryEntryCreateCFProperty(service, kIOHIDParametersKey, nullptr, 0);
    IOObjectRelease(service);
    return parameters;
}

void ArvelHIDAccess::setHIDAccelerationForKey(double acceleration, const std::optional<std::string>& key)
{
    // A NaN is no acceleration either.
    if (!(acceleration >= 0.0)) {
        logError("ArvelHIDAccess error: Passed invalid acceleration. Acceleration could not be written.\n");
        return;
    }
    if (!key) {
        logError("ArvelHIDAccess error: Passed invalid acceleration key. Acceleration could not be written.\n");
        return;
    }
    io_service_t service = _findHIDSystem();
    if (!service) {
        logError("ArvelHIDAccess error: Did not locate the HIDSystem service. Acceleration could not be written.\n");
        return;
    }
    io_connect_t connection = 0;
    kern_return_t result = IOServiceOpen(service, mach_task_self(), kIOHIDParamConnectType, &connection);
    IOObjectRelease(service);
    if (result != KERN_SUCCESS || !connection) {
        logError("ArvelHIDAccess error: Unable to connect to HIDSystem. Acceleration could not be written.\n");
        return;
    }
    if (IOHIDSetAccelerationWithKey(connection, *key, acceleration) != KERN_SUCCESS)
        logError("ArvelHIDAccess error: Failed to send acceleration to HIDSystem. Acceleration could not be written.\n");
    IOServiceClose(connection);
}
