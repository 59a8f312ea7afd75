// Gestalt, under its own name: only the system version selector is known.
#pragma once

#include "Carbon/MacTypes.h"

inline constexpr OSType gestaltSystemVersion = fourCharCode("sysv");
inline constexpr OSErr gestaltUndefSelectorErr = -5551;

// For 'sysv', the machine's version as 0xMMmb (0x1039 is 10.3.9). A failure
// injected as "Gestalt" is answered instead.
OSErr Gestalt(OSType selector, SInt32* response);
