// The I/O Kit's result codes, with the numbers the kernel uses: the common
// system/sub-system prefix 0xe0000000 and the code in the low bits. 0 is
// success; callers print the others in hexadecimal.
//
// Header only: the simulated machine answers with these same codes.
#pragma once

using kern_return_t = int;
using IOReturn = kern_return_t;

inline constexpr kern_return_t KERN_SUCCESS = 0;
inline constexpr kern_return_t KERN_INVALID_ARGUMENT = 4;
inline constexpr kern_return_t KERN_FAILURE = 5;

inline constexpr IOReturn kIOReturnSuccess = 0;
inline constexpr IOReturn kIOReturnError = static_cast<IOReturn>(0xe00002bc);
inline constexpr IOReturn kIOReturnNoMemory = static_cast<IOReturn>(0xe00002bd);
inline constexpr IOReturn kIOReturnNoResources = static_cast<IOReturn>(0xe00002be);
inline constexpr IOReturn kIOReturnIPCError = static_cast<IOReturn>(0xe00002bf);
inline constexpr IOReturn kIOReturnNoDevice = static_cast<IOReturn>(0xe00002c0);
inline constexpr IOReturn kIOReturnNotPrivileged = static_cast<IOReturn>(0xe00002c1);
inline constexpr IOReturn kIOReturnBadArgument = static_cast<IOReturn>(0xe00002c2);
inline constexpr IOReturn kIOReturnExclusiveAccess = static_cast<IOReturn>(0xe00002c5);
inline constexpr IOReturn kIOReturnUnsupported = static_cast<IOReturn>(0xe00002c7);
inline constexpr IOReturn kIOReturnInternalError = static_cast<IOReturn>(0xe00002c9);
inline constexpr IOReturn kIOReturnIOError = static_cast<IOReturn>(0xe00002ca);
inline constexpr IOReturn kIOReturnNotOpen = static_cast<IOReturn>(0xe00002cd);
inline constexpr IOReturn kIOReturnStillOpen = static_cast<IOReturn>(0xe00002d2);
inline constexpr IOReturn kIOReturnBusy = static_cast<IOReturn>(0xe00002d5);
inline constexpr IOReturn kIOReturnTimeout = static_cast<IOReturn>(0xe00002d6);
inline constexpr IOReturn kIOReturnNotReady = static_cast<IOReturn>(0xe00002d8);
inline constexpr IOReturn kIOReturnNotAttached = static_cast<IOReturn>(0xe00002d9);
inline constexpr IOReturn kIOReturnNotPermitted = static_cast<IOReturn>(0xe00002e2);
inline constexpr IOReturn kIOReturnNotFound = static_cast<IOReturn>(0xe00002f0);
