#include "Foundation/Allocation.h"

#include "machine/Machine.h"

#include <string>

bool allocationFails(std::string_view className)
{
    return machine::Machine::shared().failures().take(std::string(className) + ".init") != 0;
}
