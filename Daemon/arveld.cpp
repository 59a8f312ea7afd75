#include "arveld.h"

#include "ArvelConfigPush.h"
#include "ArvelConsoleUser.h"
#include "ArvelDOServer.h"
#include "ArvelDriverAccess.h"
#include "ArvelSystemDefaults.h"
#include "ArvelSystemPower.h"
#include "Foundation/SharedInstance.h"
#include "Log/Log.h"
#include "RunLoop/Clock.h"
#include "RunLoop/RunLoop.h"
#include "Unix/Identity.h"

Arveld::Arveld() = default;
Arveld::~Arveld() = default;

int Arveld::startUp()
{
    initVerboseLoggingFromEnvironment();

    if (posix::geteuid() != 0) {
        logError("arveld error: Must be run as root.\n");
        return -1;
    }
    if (posix::daemon(0, 0) != 0) {
        logError("arveld error: Unable to go daemon.\n");
        return -1;
    }

    if (!keepNeeded(doServer_, ArvelDOServer::create(), "arveld error: Unable to build a DO server.\n"))
        return -1;

    driverAccess_ = ArvelDriverAccess::sharedInstance();
    if (!driverAccess_ || !doServer_->publishObjectWithName(driverAccess_, kArvelDriverAccessName)) {
        logError("arveld error: Unable to build or serve the driver access.\n");
        return -1;
    }

    systemDefaults_ = ArvelSystemDefaults::sharedInstance();
    if (!systemDefaults_ || !doServer_->publishObjectWithName(systemDefaults_, kArvelSystemDefaultsName)) {
        logError("arveld error: Unable to build or serve the system defaults.\n");
        return -1;
    }

    if (!keepNeeded(consoleUser_, ArvelConsoleUser::sharedInstance(), "arveld error: Unable to build the console user access.\n")
        || !keepNeeded(systemPower_, ArvelSystemPower::sharedInstance(), "arveld error: Unable to build the system power notifier.\n"))
        return -1;
    // The configuration push comes last: it listens for the notifications of
    // everything above and pushes at once for a user already on the console.
    if (!keepNeeded(configPush_, ArvelConfigPush::create(), "arveld error: Unable to build the configuration push.\n"))
        return -1;

    logNotice("arveld: Daemon started.\n");
    return 0;
}

void Arveld::runSlice()
{
    // The loop returns at the latest after a slice; objects are reclaimed as
    // their last owner lets go, so nothing is left to collect between slices.
    RunLoop::current().runUntilDate(currentDate() + kRunLoopSliceSeconds);
}

int arveldMain()
{
    setLogChannel(LogChannel::Syslog);
    Arveld daemon;
    if (daemon.startUp() != 0)
        return -1;
    for (;;)
        daemon.runSlice();
}
