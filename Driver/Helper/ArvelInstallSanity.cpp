#include "ArvelInstallSanity.h"

#include "CoreFoundation/CFURL.h"
#include "CoreFoundation/CFUserNotification.h"
#include "Foundation/FileManager.h"
#include "Log/Log.h"
#include "RunLoop/Clock.h"
#include "RunLoop/RunLoop.h"
#include "SystemConfiguration/SCDynamicStore.h"

namespace {

constexpr const char* kPrefPanePath = "/Library/PreferencePanes/Arvel.prefPane";
constexpr const char* kDriverPath = "/System/Library/Extensions/Arvel.kext";
constexpr const char* kStartupItemPath = "/Library/StartupItems/Arvel";

constexpr const char* kWarningHeader = "Arvel Installation Error";
constexpr const char* kWarningMessage
    = "The Arvel driver is present but the Arvel support files are missing. You should reinstall Arvel.\n\n"
      "If you are attempting to uninstall Arvel please use the Uninstall function of the installer to properly remove Arvel.";

} // namespace

ArvelInstallSanity::~ArvelInstallSanity()
{
    if (consolePoll_)
        consolePoll_->invalidate();
}

int ArvelInstallSanity::run()
{
    if (_installationIsWhole()) {
        logNotice("ArvelInstallSanity: Arvel installation appears correct.\n");
        return 0;
    }
    logError("ArvelInstallSanity: Arvel installation sanity check failed.\n");
    if (_userIsOnConsole()) {
        _warnUser();
        warned_ = true;
        return 0;
    }
    // Nobody to tell yet: look now, then every 30 s, until somebody is there.
    consolePoll_ = Timer::create(kConsolePollSeconds, true, [this](Timer&) { _consolePollFired(); });
    consolePoll_->setFireDate(currentDate());
    RunLoop::current().addTimer(consolePoll_, kDefaultRunLoopMode);
    while (!warned_)
        RunLoop::current().runUntilDate(currentDate() + kRunLoopSliceSeconds);
    return 0;
}

bool ArvelInstallSanity::_installationIsWhole()
{
    // The first missing item settles it.
    for (const char* path : {kPrefPanePath, kDriverPath, kStartupItemPath})
        if (!fileExistsAtPath(path))
            return false;
    return true;
}

bool ArvelInstallSanity::_userIsOnConsole()
{
    Value user = SCDynamicStoreCopyConsoleUser(nullptr, nullptr, nullptr);
    return user.isString() && *user.string() != "loginwindow";
}

void ArvelInstallSanity::_consolePollFired()
{
    if (warned_ || !_userIsOnConsole())
        return;
    _warnUser();
    warned_ = true;
    consolePoll_->invalidate();
    consolePoll_.reset();
}

void ArvelInstallSanity::_warnUser()
{
    // The texts are looked up in the driver bundle's own localized strings.
    CFURLRef localization = CFURLCreateWithFileSystemPath(Value(kDriverPath), kCFURLPOSIXPathStyle, true);
    SInt32 result = 0;
    for (int attempt = 1; attempt <= kWarningAttempts; ++attempt) {
        CFOptionFlags response = 0;
        result = CFUserNotificationDisplayAlert(0, kCFUserNotificationCautionAlertLevel, nullptr, nullptr, localization,
            Value(kWarningHeader), Value(kWarningMessage), Value(), Value(), Value(), &response);
        // What the user answered does not matter: the alert was seen.
        if (result == 0)
            return;
        platformSleep(kWarningRetrySeconds);
    }
    logError("ArvelInstallSanity: Error %d displaying user warning dialog.\n", static_cast<int>(result));
}
