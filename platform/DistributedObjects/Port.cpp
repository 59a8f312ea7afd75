#include "DistributedObjects/Port.h"

#include "MachineLink/MachineLink.h"

std::shared_ptr<Port> Port::port()
{
    if (MachineLink::shared().take("Port::port"))
        return nullptr;
    return std::shared_ptr<Port>(new Port);
}
