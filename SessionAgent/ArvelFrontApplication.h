// ArvelFrontApplication: makes the trackpad's corners follow the front
// application.
//
// Whenever the front application, the user's settings, the session state
// or the daemon connection change, it works out the front application's ID,
// builds the per-application dictionary of the user's application set for
// it (or the empty form when there is none) and sends it to the driver
// through the daemon's driver access proxy. It sends nothing while its
// login session is not on the console, without a proxy, or while the
// driver is not loaded.
//
// The application ID is the bundle identifier when the user keeps a set
// under it; otherwise "'" + creator + "'" + bundle file name, or the bundle
// file name alone when the creator is "????".
#pragma once

#include "Foundation/SharedInstance.h"
#include "Notifications/NotificationCenter.h"

#include <memory>

class ArvelDriverAccessProtocol;
class ArvelUserDefaults;

class ArvelFrontApplication : public SharedInstance<ArvelFrontApplication> {
public:
    ~ArvelFrontApplication();

    // The proxy, or nil when the connection is gone; reconfigures at once.
    void setDaemonConnection(std::shared_ptr<ArvelDriverAccessProtocol> proxy);
    void setSessionState(bool active);
    void prefChange(const Notification& notification);
    void applicationChange(const Notification& notification);
    void configureForFrontApplication();

    bool sessionIsActive() const { return activeSession; }
    bool hasDaemonConnection() const { return driverAccess != nullptr; }

private:
    ArvelFrontApplication() = default;
    bool init();

    std::shared_ptr<ArvelUserDefaults> userDefaults;
    std::shared_ptr<ArvelDriverAccessProtocol> driverAccess;
    bool activeSession = false;

    friend class SharedInstance<ArvelFrontApplication>;
    static constexpr const char* kSharedInstanceFailure
        = "ArvelFrontApplication error: Unable to allocate the front application watch object.\n";
};
