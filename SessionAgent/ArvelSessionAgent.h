// ArvelSessionAgent: the agent's controller.
//
// Started by awakeFromNib: it creates the front application handler and,
// from 10.3 on, the default button mover; keeps a proxy to the daemon's
// driver access object, retrying every 10 seconds while the daemon is away
// and at once when the daemon's connection dies; and follows whether its
// login session is the one on the console (before 10.3 it always is),
// telling both handlers each time it reads the state.
#pragma once

#include "Notifications/NotificationCenter.h"

#include <cstdint>
#include <memory>

class ArvelDefaultButton;
class ArvelDriverAccessProxy;
class ArvelFrontApplication;
class Timer;

class ArvelSessionAgent {
public:
    ArvelSessionAgent() = default;
    ~ArvelSessionAgent();
    ArvelSessionAgent(const ArvelSessionAgent&) = delete;
    ArvelSessionAgent& operator=(const ArvelSessionAgent&) = delete;

    void awakeFromNib();
    void connectToDaemon(const void* sender);
    void daemonConnectionLost(const Notification& notification);
    void sessionWentActive(const Notification& notification);
    void sessionWentInactive(const Notification& notification);
    void updateSessionInfo();
    void driverChange(const Notification& notification);

    // What the agent holds (tests).
    bool runsOnPantherOrLater() const { return isPantherOrLater; }
    const std::shared_ptr<ArvelDriverAccessProxy>& daemonProxy() const { return driverAccess; }
    bool reconnectPending() const;
    bool sessionIsActive() const { return sessionActive; }
    std::uint32_t securitySessionID() const { return sessionID; }
    bool hasDefaultButtonMover() const { return defaultButtonMover != nullptr; }

private:
    void terminate();

    bool isPantherOrLater = false;
    std::shared_ptr<ArvelDriverAccessProxy> driverAccess;
    std::shared_ptr<Timer> driverAccessReconnectTimer;
    bool sessionActive = false;
    std::uint32_t sessionID = 0;
    std::shared_ptr<ArvelFrontApplication> frontApplicationHandler;
    std::shared_ptr<ArvelDefaultButton> defaultButtonMover;
};
