#include "Daemon/ArvelConfigPush.h"

#include "Common/ArvelHIDAccess.h"
#include "Common/ArvelUserDefaults.h"
#include "Daemon/ArvelConsoleUser.h"
#include "Common/ArvelNotifications.h"
#include "Daemon/ArvelDriverAccess.h"
#include "Daemon/ArvelSystemDefaults.h"
#include "Daemon/ArvelSystemPower.h"
#include "Defaults/NSUserDefaults.h"
#include "Foundation/SharedInstance.h"
#include "Log/Log.h"
#include "Notifications/DistributedNotificationCenter.h"
#include "Unix/Identity.h"

std::shared_ptr<ArvelConfigPush> ArvelConfigPush::create()
{
    auto push = std::shared_ptr<ArvelConfigPush>(new ArvelConfigPush);
    return push->init() ? push : nullptr;
}

bool ArvelConfigPush::init()
{
    if (!keepNeeded(consoleUser, ArvelConsoleUser::sharedInstance(), "ArvelConfigPush error: Cannot build console user access.\n")
        || !keepNeeded(hidAccess, ArvelHIDAccess::create(), "ArvelConfigPush error: Cannot build HID access.\n")
        || !keepNeeded(driverAccess, ArvelDriverAccess::sharedInstance(), "ArvelConfigPush error: Cannot build driver access.\n")
        || !keepNeeded(systemDefaults, ArvelSystemDefaults::sharedInstance(),
            "ArvelConfigPush error: Cannot build system defaults access.\n"))
        return false;
    rootGroupId = posix::getegid();
    rootGroups = posix::getgroups();

    auto& center = NotificationCenter::defaultCenter();
    auto push = [this](const Notification& n) { pushConfiguration(&n); };
    for (const char* name : {kArvelConsoleUserLoginNotification, kArvelConsoleUserLogoutNotification,
             kArvelSystemWakeNotification, kArvelDriverLoadedNotification})
        center.addObserver(this, push, name);

    // With a user already on the console the daemon applies his settings at
    // once; otherwise the first event decides.
    if (consoleUser->consoleUserNameAndUID().name)
        pushConfiguration(nullptr);
    return true;
}

ArvelConfigPush::~ArvelConfigPush()
{
    NotificationCenter::defaultCenter().removeObserver(this);
}

void ArvelConfigPush::pushConfiguration(const Notification* notification)
{
    if (!hidAccess || !systemDefaults || !consoleUser || !driverAccess) {
        logError("ArvelConfigPush error: Notification posted but access objects missing.\n");
        return;
    }
    if (notification && notification->object.isNumber()) {
        pushUser(static_cast<std::uint32_t>(notification->object.integerOr(0)));
    } else {
        auto user = consoleUser->consoleUserNameAndUID();
        if (user.name) {
            logNotice("ArvelConfigPush: User \"%@\" on console.\n", *user.name);
            pushUser(user.uid);
        } else {
            pushLoginWindow();
        }
    }
    finish();
}

void ArvelConfigPush::pushUser(std::uint32_t uid)
{
    if (!driverAccess->driverAvailable()) {
        logNotice("ArvelConfigPush: UID %u on console, no driver loaded.\n", uid);
        return;
    }
    if (!driverAccess->userOnConsole())
        logError("ArvelConfigPush: Unable to notify driver of user on console.\n");
    logNotice("ArvelConfigPush: Setting driver to configuration for UID %u.\n", uid);

    // The machine's part is read as root, before the switch.
    Value systemProperties = systemDefaults->hidProperties();

    // The standard defaults object belongs to whoever was the effective user
    // when it was made: drop it on each side of the switch, so that the
    // store below is built for the user and nothing of his is kept after.
    NSUserDefaults::resetStandardUserDefaults();
    if (!becomeUser(uid))
        return;
    NSUserDefaults::resetStandardUserDefaults();
    if (auto defaults = ArvelUserDefaults::create()) {
        Value props = defaults->hidPropertiesWithSystemHIDProperties(systemProperties);
        verboseNotice("ArvelConfigPush: UID %d properties %@\n", uid, props);
        hidAccess->setHIDConfig(props);
        hidAccess->setHIDAccelerationForKey(defaults->trackpadSpeed(), std::string(kArvelTrackpadAccelerationKey));
    } else {
        logError("ArvelConfigPush error: Unable to read defaults for UID %u.\n", uid);
    }
    NSUserDefaults::resetStandardUserDefaults();
    becomeRootAgain();
}

bool ArvelConfigPush::becomeUser(std::uint32_t uid)
{
    // After a failed return to root, root's ids come back first.
    if (posix::geteuid() != 0 && !becomeRootAgain())
        return false;
    // Groups first, while the daemon is still root and may change them. An
    // id without a user gets the group of nobody rather than keeping root's.
    constexpr posix::gid_t kNobodyGroupId = 65534;
    auto user = posix::getpwuid(uid);
    posix::gid_t gid = user ? user->pw_gid : kNobodyGroupId;
    if (posix::setgroups({gid}) != 0 || posix::setegid(gid) != 0) {
        logError("ArvelConfigPush error: Unable to take group %u for defaults read for UID %u.\n", gid, uid);
        posix::setegid(rootGroupId);
        posix::setgroups(rootGroups);
        return false;
    }
    if (posix::seteuid(uid) != 0) {
        logError("ArvelConfigPush error: Unable to seteuid for defaults read for UID %u.\n", uid);
        posix::setegid(rootGroupId);
        posix::setgroups(rootGroups);
        return false;
    }
    return true;
}

bool ArvelConfigPush::becomeRootAgain()
{
    // The effective id first: only root may take back root's groups.
    if (posix::seteuid(0) != 0) {
        logError("ArvelConfigPush error: After driver configuration unable to seteuid root.\n");
        return false;
    }
    if (posix::setegid(rootGroupId) != 0 || posix::setgroups(rootGroups) != 0) {
        logError("ArvelConfigPush error: After driver configuration unable to take back root's groups.\n");
        return false;
    }
    return true;
}

void ArvelConfigPush::pushLoginWindow()
{
    if (!driverAccess->driverAvailable()) {
        logNotice("ArvelConfigPush: No driver loaded, unable to set loginwindow defaults.\n");
        return;
    }
    if (!driverAccess->userOffConsole())
        logError("ArvelConfigPush: Unable to notify driver of no user on console.\n");
    logNotice("ArvelConfigPush: Setting driver to loginwindow defaults.\n");
    hidAccess->setHIDConfig(systemDefaults->preloginHIDProperties());
}

void ArvelConfigPush::finish()
{
    // Whatever happened above, the driver loses any application override
    // and every session is told to apply its own again.
    if (driverAccess->driverAvailable())
        driverAccess->sendDriverProperties(ArvelUserDefaults::emptyAppProperties());
    DistributedNotificationCenter::defaultCenter().postNotificationName(kArvelDriverStateChangeNotification, Value(), Value(), true);
}
