#include "Carbon/Gestalt.h"

#include "MachineLink/MachineLink.h"

OSErr Gestalt(OSType selector, SInt32* response)
{
    if (!response)
        return paramErr;
    auto& m = MachineLink::shared();
    if (int r = m.take("Gestalt"))
        return static_cast<OSErr>(r);
    if (selector != gestaltSystemVersion)
        return gestaltUndefSelectorErr;
    *response = static_cast<SInt32>(m.call(ops::systemVersion));
    return noErr;
}
