#include "Carbon/Gestalt.h"

#include "machine/Machine.h"

OSErr Gestalt(OSType selector, SInt32* response)
{
    if (!response)
        return paramErr;
    auto& m = machine::Machine::shared();
    if (int r = m.failures().take("Gestalt"))
        return static_cast<OSErr>(r);
    if (selector != gestaltSystemVersion)
        return gestaltUndefSelectorErr;
    *response = static_cast<SInt32>(m.systemVersion());
    return noErr;
}
