#include "IOKit/IOHIDLib.h"

#include "IOKit/IOKitInternal.h"
#include "machine/HIDSystem.h"

kern_return_t IOHIDSetAccelerationWithKey(io_connect_t handle, const std::string& key, double acceleration)
{
    std::uint64_t connection = 0;
    auto* hid = dynamic_cast<machine::HIDSystem*>(iokitConnectionModel(handle, &connection));
    if (!hid)
        return kIOReturnBadArgument;
    return hid->setAcceleration(connection, key, acceleration);
}
