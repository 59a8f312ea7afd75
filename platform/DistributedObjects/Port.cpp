#include "DistributedObjects/Port.h"

#include "machine/Machine.h"

std::shared_ptr<Port> Port::port()
{
    if (machine::Machine::shared().failures().take("Port::port"))
        return nullptr;
    return std::shared_ptr<Port>(new Port);
}
