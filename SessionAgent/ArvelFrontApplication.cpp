#include "ArvelFrontApplication.h"

#include "Common/ArvelNotifications.h"
#include "Common/ArvelDriverAccessProtocol.h"
#include "Common/ArvelUserDefaults.h"
#include "Log/Log.h"
#include "Notifications/DistributedNotificationCenter.h"
#include "ProcessManager/Processes.h"

namespace {

std::string lastPathComponent(const std::string& path)
{
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    auto slash = trimmed.find_last_of('/');
    return slash == std::string::npos || trimmed.size() == 1 ? trimmed : trimmed.substr(slash + 1);
}

} // namespace

bool ArvelFrontApplication::init()
{
    if (!keepNeeded(userDefaults, ArvelUserDefaults::sharedInstance(), "ArvelFrontApplication error: Unable to obtain user defaults.\n"))
        return false;
    DistributedNotificationCenter::defaultCenter().addObserver(
        this, [this](const Notification& n) { prefChange(n); }, kArvelPrefChangeNotification);
    NotificationCenter::defaultCenter().addObserver(
        this, [this](const Notification& n) { applicationChange(n); }, kArvelAppSwitchNotification);
    return true;
}

ArvelFrontApplication::~ArvelFrontApplication()
{
    DistributedNotificationCenter::defaultCenter().removeObserver(this);
    NotificationCenter::defaultCenter().removeObserver(this);
}

void ArvelFrontApplication::setDaemonConnection(std::shared_ptr<ArvelDriverAccessProtocol> proxy)
{
    driverAccess = std::move(proxy);
    configureForFrontApplication();
}

void ArvelFrontApplication::setSessionState(bool active)
{
    activeSession = active;
    configureForFrontApplication();
}

void ArvelFrontApplication::prefChange(const Notification&)
{
    userDefaults->syncFromDisk();
    configureForFrontApplication();
}

void ArvelFrontApplication::applicationChange(const Notification&)
{
    verboseNotice("ArvelFrontApplication: Front application switch.\n");
    configureForFrontApplication();
}

void ArvelFrontApplication::configureForFrontApplication()
{
    if (!activeSession) {
        verboseNotice("ArvelSessionAgent: Session is not front, no application configuration push.\n");
        return;
    }
    if (!driverAccess) {
        verboseNotice("ArvelSessionAgent: No daemon connection, no application configuration push.\n");
        return;
    }
    // Held for the whole push: a callback during the call must not let go of it.
    std::shared_ptr<ArvelDriverAccessProtocol> proxy = driverAccess;
    if (!proxy->driverAvailable()) {
        verboseNotice("ArvelSessionAgent: Driver is not loaded, no application configuration push.\n");
        return;
    }
    ProcessSerialNumber front;
    if (GetFrontProcess(&front) != noErr) {
        verboseNotice("ArvelSessionAgent: Unable to obtain front process PSN.\n");
        return;
    }
    Value info = ProcessInformationCopyDictionary(&front, kProcessDictionaryIncludeAllInformationMask);
    if (!info.isDictionary()) {
        verboseNotice("ArvelSessionAgent: Unable to obtain front process info.\n");
        return;
    }

    std::string key;
    const std::string* bundleID = info["CFBundleIdentifier"].string();
    const std::string* creator = info["FileCreator"].string();
    const std::string* bundlePath = info["BundlePath"].string();
    if (bundleID && !bundleID->empty() && userDefaults->hasApplicationSetForID(*bundleID)) {
        key = *bundleID;
    } else if (creator && bundlePath) {
        std::string bundleName = lastPathComponent(*bundlePath);
        key = *creator == "????" ? bundleName : stringWithFormat("'%@'%@", *creator, bundleName);
    } else {
        verboseNotice("ArvelSessionAgent: Unable to determine front process key.\n");
        return;
    }
    verboseNotice("ArvelSessionAgent: Front process key \"%@\".\n", key);

    Value properties;
    if (userDefaults->hasApplicationSetForID(key)) {
        verboseNotice("ArvelSessionAgent: Custom configuration for application \"%@\".\n", userDefaults->applicationNameForID(key));
        properties = userDefaults->propertiesForAppID(key);
    } else {
        verboseNotice("ArvelSessionAgent: Default configuration for front application.\n");
        properties = ArvelUserDefaults::emptyAppProperties();
    }
    proxy->sendDriverProperties(properties);
}
