#include "IOKit/IOHIDLib.h"

#include "IOKit/IOKitInternal.h"
#include "MachineLink/MachineLink.h"

kern_return_t IOHIDSetAccelerationWithKey(io_connect_t handle, const std::string& key, double acceleration)
{
    std::uint64_t entry = 0;
    std::uint64_t connection = 0;
    if (!iokitConnection(handle, &entry, &connection))
        return kIOReturnBadArgument;
    return MachineLink::shared().call(ops::hidSetAcceleration, entry, connection, key, acceleration);
}
