#include "MachineSettings/MachineSettings.h"

#include "MachineLink/MachineLink.h"

void setDoubleClickThresholdLevel(double seconds)
{
    MachineLink::shared().call(ops::hidSetDoubleClickThreshold, seconds);
}
