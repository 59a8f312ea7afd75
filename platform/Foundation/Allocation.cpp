#include "Foundation/Allocation.h"

#include "MachineLink/MachineLink.h"

#include <string>

bool allocationFails(std::string_view className)
{
    return MachineLink::shared().take(std::string(className) + ".init") != 0;
}
