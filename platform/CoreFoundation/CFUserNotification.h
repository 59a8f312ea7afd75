// CFUserNotificationDisplayAlert: an alert to the person at the console,
// under its own name.
//
// The call shows the alert on the machine's screen (an alert on no window,
// which the machine also lists among its alerts) and blocks until someone
// answers it with one of its buttons, or until the time-out when there is
// one. While it blocks, the current run loop runs in the modal-panel mode
// only: the machine's news and the bus are served, the program's own
// default-mode timers are not. The texts are looked up in the localized
// strings of the bundle the localization URL names, when it names one.
#pragma once

#include "Carbon/MacTypes.h"
#include "CoreFoundation/CFURL.h"
#include "Foundation/Value.h"

using CFOptionFlags = unsigned long;
using CFTimeInterval = double;

// The alert levels (the low two bits of the flags).
inline constexpr CFOptionFlags kCFUserNotificationStopAlertLevel = 0;
inline constexpr CFOptionFlags kCFUserNotificationNoteAlertLevel = 1;
inline constexpr CFOptionFlags kCFUserNotificationCautionAlertLevel = 2;
inline constexpr CFOptionFlags kCFUserNotificationPlainAlertLevel = 3;

// The answers, in *responseFlags.
inline constexpr CFOptionFlags kCFUserNotificationDefaultResponse = 0;
inline constexpr CFOptionFlags kCFUserNotificationAlternateResponse = 1;
inline constexpr CFOptionFlags kCFUserNotificationOtherResponse = 2;
inline constexpr CFOptionFlags kCFUserNotificationCancelResponse = 3;

// 0 once the alert was shown and answered (or timed out: the cancel
// response); otherwise the failure, and nothing was shown. timeout 0 waits
// for ever. The default button is "OK" when its title is nil; the alternate
// and other buttons show only when given. The icon and sound URLs are
// accepted and not used: the machine's screen shows neither.
SInt32 CFUserNotificationDisplayAlert(CFTimeInterval timeout, CFOptionFlags flags, const CFURLRef& iconURL, const CFURLRef& soundURL,
    const CFURLRef& localizationURL, const Value& alertHeader, const Value& alertMessage, const Value& defaultButtonTitle,
    const Value& alternateButtonTitle, const Value& otherButtonTitle, CFOptionFlags* responseFlags);
