#include "IOKit/IOPMLib.h"

#include "IOKit/IOKitInternal.h"
#include "MachineLink/MachineLink.h"

#include <map>
#include <memory>

namespace {

struct Registration {
    std::uint64_t client = 0;
};

MachineLink& power()
{
    return MachineLink::shared();
}

} // namespace

io_connect_t IORegisterForSystemPower(void* refcon, IONotificationPortRef* thePortRef, IOServiceInterestCallback callback,
    io_object_t* notifier)
{
    if (thePortRef)
        *thePortRef = nullptr;
    if (notifier)
        *notifier = 0;
    if (!thePortRef || !callback || !notifier || MachineLink::shared().take("IORegisterForSystemPower"))
        return MACH_PORT_NULL;
    mach_port_t master = MACH_PORT_NULL;
    if (IOMasterPort(MACH_PORT_NULL, &master) != KERN_SUCCESS)
        return MACH_PORT_NULL;
    IONotificationPortRef port = IONotificationPortCreate(master);
    mach_port_deallocate(mach_task_self(), master);
    if (!port)
        return MACH_PORT_NULL;

    auto registration = std::make_shared<Registration>();
    registration->client = power().subscribe(ops::powerClient, [port, refcon, callback](std::uint32_t type, std::intptr_t argument) {
        iokitPostMessage(port, [refcon, callback, type, argument] {
            callback(refcon, MACH_PORT_NULL, type, reinterpret_cast<void*>(argument));
        });
    });
    *notifier = iokitAddOpaqueHandle([registration] {
        if (registration->client)
            power().unsubscribe(ops::powerClient, registration->client);
        registration->client = 0;
    });
    *thePortRef = port;
    return iokitAddOpaqueHandle({});
}

IOReturn IOAllowPowerChange(io_connect_t kernelPort, std::intptr_t notificationID)
{
    if (!iokitIsOpaqueHandle(kernelPort))
        return kIOReturnBadArgument;
    if (int r = MachineLink::shared().take("IOAllowPowerChange"))
        return r;
    return power().call(ops::powerAcknowledge, notificationID) ? kIOReturnSuccess : kIOReturnBadArgument;
}

IOReturn IODeregisterForSystemPower(io_object_t* notifier)
{
    if (!notifier || !iokitIsOpaqueHandle(*notifier))
        return kIOReturnBadArgument;
    IOObjectRelease(*notifier);
    *notifier = 0;
    return kIOReturnSuccess;
}
