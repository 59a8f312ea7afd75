#include "Daemon/ArvelSystemPower.h"

#include "Daemon/ArvelConsoleUser.h"
#include "Common/ArvelNotifications.h"
#include "Log/Log.h"
#include "RunLoop/RunLoop.h"

namespace {

// The root power domain's connection, which every acknowledgement uses.
io_connect_t rootPowerConnection = MACH_PORT_NULL;

} // namespace

bool ArvelSystemPower::init()
{
    if (!keepNeeded(consoleUser, ArvelConsoleUser::sharedInstance(), "ArvelSystemPower error: Cannot build console user access.\n"))
        return false;
    rootPowerConnection = IORegisterForSystemPower(this, &ioSleepNotifyPort, powerCallback, &ioSleepNotifier);
    if (rootPowerConnection == MACH_PORT_NULL) {
        logError("ArvelSystemPower error: Unable to obtain system power notification port.\n");
        return false;
    }
    ioSleepNotifyRunSource = IONotificationPortGetRunLoopSource(ioSleepNotifyPort);
    if (!ioSleepNotifyRunSource) {
        logError("ArvelSystemPower error: Unable to obtain system power notification run source.\n");
        return false;
    }
    RunLoop::current().addSource(ioSleepNotifyRunSource, kDefaultRunLoopMode);
    auto& center = NotificationCenter::defaultCenter();
    auto clear = [this](const Notification& n) { _consoleChangeClearSleepCache(n); };
    center.addObserver(this, clear, kArvelConsoleUserLoginNotification);
    center.addObserver(this, clear, kArvelConsoleUserLogoutNotification);
    return true;
}

ArvelSystemPower::~ArvelSystemPower()
{
    NotificationCenter::defaultCenter().removeObserver(this);
    if (ioSleepNotifier)
        IODeregisterForSystemPower(&ioSleepNotifier);
    if (ioSleepNotifyRunSource) {
        RunLoop::current().removeSource(ioSleepNotifyRunSource, kDefaultRunLoopMode);
        ioSleepNotifyRunSource.reset();
    }
    if (ioSleepNotifyPort)
        IONotificationPortDestroy(ioSleepNotifyPort);
    if (rootPowerConnection != MACH_PORT_NULL) {
        IOObjectRelease(rootPowerConnection);
        rootPowerConnection = MACH_PORT_NULL;
    }
}

void ArvelSystemPower::powerCallback(void* context, io_service_t, natural_t messageType, void* messageArgument)
{
    auto* self = static_cast<ArvelSystemPower*>(context);
    if (self) {
        if (messageType == kIOMessageSystemWillSleep)
            self->_systemSleep();
        else if (messageType == kIOMessageSystemHasPoweredOn)
            self->_systemWake();
    }
    // Every message is answered, also those that need no answer.
    IOAllowPowerChange(rootPowerConnection, reinterpret_cast<std::intptr_t>(messageArgument));
}

void ArvelSystemPower::_systemSleep()
{
    auto user = consoleUser->consoleUserNameAndUID();
    preSleepConsoleUser = user.name;
    preSleepUID = user.uid;
    if (preSleepConsoleUser)
        logNotice("ArvelSystemPower: System going to sleep, caching user \"%@\" UID %u.\n", *preSleepConsoleUser, preSleepUID);
    else
        logNotice("ArvelSystemPower: System going to sleep, no user on console.\n");
    preSleepCacheValid = true;
}

void ArvelSystemPower::_systemWake()
{
    if (preSleepConsoleUser) {
        if (preSleepCacheValid) {
            logNotice("ArvelSystemPower: System wake, restoring settings for user \"%@\" UID %u.\n", *preSleepConsoleUser, preSleepUID);
            NotificationCenter::defaultCenter().postNotificationName(kArvelSystemWakeNotification, Value(preSleepUID), {}, this);
        }
    } else if (preSleepCacheValid) {
        logNotice("ArvelSystemPower: System wake, no prior user settings to restore.\n");
        NotificationCenter::defaultCenter().postNotificationName(kArvelSystemWakeNotification, Value(), {}, this);
    }
    preSleepConsoleUser.reset();
    preSleepUID = 0;
    preSleepCacheValid = false;
}

void ArvelSystemPower::_consoleChangeClearSleepCache(const Notification&)
{
    if (!preSleepConsoleUser)
        return;
    logNotice("ArvelSystemPower: Console user change invalidating cached sleep/wake console user.\n");
    preSleepCacheValid = false;
}
