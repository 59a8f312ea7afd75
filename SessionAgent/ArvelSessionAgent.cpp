#include "ArvelSessionAgent.h"

#include "AppKit/NSApplication.h"
#include "AppKit/NSWorkspace.h"
#include "ArvelDefaultButton.h"
#include "ArvelFrontApplication.h"
#include "Carbon/Gestalt.h"
#include "Common/ArvelDriverAccessProxy.h"
#include "Common/ArvelNotifications.h"
#include "CoreGraphics/CGSession.h"
#include "DistributedObjects/Connection.h"
#include "Foundation/Allocation.h"
#include "Log/Log.h"
#include "Notifications/DistributedNotificationCenter.h"
#include "RunLoop/RunLoop.h"
#include "Security/AuthSession.h"

namespace {

constexpr double kReconnectInterval = 10.0;
// 10.3.0: the first system with fast user switching and the
// Accessibility observers the mover needs.
constexpr SInt32 kLastJaguarVersion = 0x102F;

} // namespace

ArvelSessionAgent::~ArvelSessionAgent()
{
    if (driverAccessReconnectTimer)
        driverAccessReconnectTimer->invalidate();
    NotificationCenter::defaultCenter().removeObserver(this);
    if (isPantherOrLater)
        NSWorkspace::sharedWorkspace().notificationCenter().removeObserver(this);
    DistributedNotificationCenter::defaultCenter().removeObserver(this);
}

void ArvelSessionAgent::terminate()
{
    if (NSApplication* application = NSApplication::sharedApplication())
        application->terminate(this);
}

void ArvelSessionAgent::awakeFromNib()
{
    SInt32 version = 0;
    isPantherOrLater = Gestalt(gestaltSystemVersion, &version) == noErr && version > kLastJaguarVersion;

    frontApplicationHandler = ArvelFrontApplication::sharedInstance();
    if (!frontApplicationHandler) {
        logError("ArvelSessionAgent error: Unable to start front application watch.\n");
        terminate();
        return;
    }
    if (isPantherOrLater) {
        defaultButtonMover = ArvelDefaultButton::sharedInstance();
        if (!defaultButtonMover) {
            logError("ArvelSessionAgent error: Unable to start default button watch.\n");
            terminate();
            return;
        }
    }

    connectToDaemon(nullptr);
    if (!driverAccess)
        logError("ArvelSessionAgent error: Unable to obtain NSDistantObject for driver configuration access.\n");

    NotificationCenter::defaultCenter().addObserver(
        this, [this](const Notification& n) { daemonConnectionLost(n); }, kConnectionDidDieNotification);

    if (isPantherOrLater) {
        NotificationCenter& workspace = NSWorkspace::sharedWorkspace().notificationCenter();
        workspace.addObserver(
            this, [this](const Notification& n) { sessionWentActive(n); }, NSWorkspaceSessionDidBecomeActiveNotification);
        workspace.addObserver(
            this, [this](const Notification& n) { sessionWentInactive(n); }, NSWorkspaceSessionDidResignActiveNotification);
        SessionAttributeBits attributes = 0;
        if (SessionGetInfo(callerSecuritySession, &sessionID, &attributes) != noErr) {
            logError("ArvelSessionAgent error: Unable to determine session ID. Abort.\n");
            terminate();
            return;
        }
        updateSessionInfo();
    } else {
        sessionActive = true;
        frontApplicationHandler->setSessionState(true);
    }

    DistributedNotificationCenter::defaultCenter().addObserver(
        this, [this](const Notification& n) { driverChange(n); }, kArvelDriverStateChangeNotification);
}

void ArvelSessionAgent::connectToDaemon(const void*)
{
    if (driverAccessReconnectTimer) {
        if (driverAccessReconnectTimer->isValid())
            driverAccessReconnectTimer->invalidate();
        driverAccessReconnectTimer.reset();
    }

    if (auto proxy = ArvelDriverAccessProxy::proxyForRegisteredName(kArvelDriverAccessName)) {
        driverAccess = std::move(proxy);
        frontApplicationHandler->setDaemonConnection(driverAccess);
        return;
    }

    frontApplicationHandler->setDaemonConnection(nullptr);
    verboseNotice("ArvelSessionAgent: Unable to obtain driver configuration access, scheduling retry.\n");
    if (!allocationFails("NSTimer"))
        driverAccessReconnectTimer = Timer::scheduledTimer(kReconnectInterval, false, [this](Timer&) { connectToDaemon(nullptr); });
    if (!driverAccessReconnectTimer)
        logError("ArvelSessionAgent error: Unable to schedule daemon reconnect attempt.\n");
}

bool ArvelSessionAgent::reconnectPending() const
{
    return driverAccessReconnectTimer && driverAccessReconnectTimer->isValid();
}

void ArvelSessionAgent::daemonConnectionLost(const Notification& notification)
{
    verboseNotice("ArvelSessionAgent: Potential driver access connection status change.\n");
    if (!notification.sender || !driverAccess || notification.sender != driverAccess->connectionForProxy().get())
        return;
    logError("ArvelSessionAgent error: Lost daemon driver connection.\n");
    driverAccess.reset();
    frontApplicationHandler->setDaemonConnection(nullptr);
    connectToDaemon(nullptr);
}

void ArvelSessionAgent::sessionWentActive(const Notification&)
{
    verboseNotice("ArvelSessionAgent: Session went active.\n");
    updateSessionInfo();
}

void ArvelSessionAgent::sessionWentInactive(const Notification&)
{
    verboseNotice("ArvelSessionAgent: Session went inactive.\n");
    updateSessionInfo();
}

void ArvelSessionAgent::updateSessionInfo()
{
    Value session = CGSessionCopyCurrentDictionary();
    if (!session.isDictionary()) {
        logError("ArvelSessionAgent error: Unable to determine session info.\n");
        return;
    }
    sessionActive = session[kCGSessionOnConsoleKey].booleanOr(false);
    const Value& user = session[kCGSessionUserNameKey];
    if (sessionActive)
        logNotice("ArvelSessionAgent: Tracking for user \"%@\" in session %d.\n", user, sessionID);
    else
        logNotice("ArvelSessionAgent: Tracking for user \"%@\" in inactive session %d.\n", user, sessionID);
    frontApplicationHandler->setSessionState(sessionActive);
    if (defaultButtonMover)
        defaultButtonMover->setSessionState(sessionActive);
}

void ArvelSessionAgent::driverChange(const Notification&)
{
    verboseNotice("ArvelSessionAgent: Driver state change.\n");
    if (isPantherOrLater)
        updateSessionInfo();
    frontApplicationHandler->setSessionState(sessionActive);
    if (defaultButtonMover)
        defaultButtonMover->setSessionState(sessionActive);
}
