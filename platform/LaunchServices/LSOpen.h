// Launch Services' opening call, under its own name, over the machine: an
// application opens as a new process of the calling user in the caller's
// login session (machine/ApplicationOpener.h), its item URLs given to it as
// the paths of the documents to open.
//
// The launch flags are taken as given; none changes what the machine does
// (it brings nothing to the front, waits for nothing and keeps no recent
// items). Pass-through parameters (Apple events) have no carrier here and
// are refused with paramErr. A failure injected as "LSOpenFromURLSpec" is
// answered instead.
#pragma once

#include "Carbon/MacTypes.h"
#include "CoreFoundation/CFURL.h"
#include "LaunchServices/LSError.h"

#include <vector>

using LSLaunchFlags = UInt32;

enum : LSLaunchFlags {
    kLSLaunchDefaults = 0x00000001,
    kLSLaunchAndPrint = 0x00000002,
    kLSLaunchAndDisplayErrors = 0x00000040,
    kLSLaunchInhibitBGOnly = 0x00000080,
    kLSLaunchDontAddToRecents = 0x00000100,
    kLSLaunchDontSwitch = 0x00000200,
    kLSLaunchNoParams = 0x00000800,
    kLSLaunchAsync = 0x00010000,
    kLSLaunchNewInstance = 0x00080000,
    kLSLaunchAndHide = 0x00100000,
    kLSLaunchAndHideOthers = 0x00200000,
};

struct AEDesc;

struct LSLaunchURLSpec {
    CFURLRef appURL;                         // the application; required
    const std::vector<CFURLRef>* itemURLs;   // documents to open; may be null
    const AEDesc* passThruParams;            // must be null
    LSLaunchFlags launchFlags;
    void* asyncRefCon;
};

// noErr, and *outLaunchedURL (when given) the application's URL; otherwise
// paramErr for a spec without an application or with pass-through
// parameters, or the error the machine answers (kLSApplicationNotFoundErr,
// kLSNotAnApplicationErr, kLSNoLaunchPermissionErr, kLSUnknownErr).
OSStatus LSOpenFromURLSpec(const LSLaunchURLSpec* inLaunchSpec, CFURLRef* outLaunchedURL);
