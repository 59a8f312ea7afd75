// ArvelConfigPush: where the daemon applies settings.
//
// Whenever the console user changes, the machine wakes or the driver is
// loaded again, it tells the driver whether a user is on the console and
// hands the HID system the configuration that belongs to the moment: the
// console user's own settings over the machine's calibration, or the
// login-window settings when nobody is logged in. To read a user's settings
// it takes that user's effective id for the length of the read and then
// goes back to root. Every push ends by clearing any per-application
// override in the driver and telling every login session, with
// "com.tessmoor.Arvel.DriverStateChange", that the driver state changed.
#pragma once

#include "Notifications/NotificationCenter.h"

#include <memory>

class ArvelConsoleUser;
class ArvelDriverAccess;
class ArvelHIDAccess;
class ArvelSystemDefaults;

inline constexpr const char* kArvelDriverStateChangeNotification = "com.tessmoor.Arvel.DriverStateChange";
inline constexpr const char* kArvelTrackpadAccelerationKey = "HIDTrackpadAcceleration";

class ArvelConfigPush {
public:
    // The daemon's one configuration push; nil after a logged failure.
    static std::shared_ptr<ArvelConfigPush> create();
    ~ArvelConfigPush();
    ArvelConfigPush(const ArvelConfigPush&) = delete;
    ArvelConfigPush& operator=(const ArvelConfigPush&) = delete;

    // The triggering notification, or null for a push of the console user.
    void pushConfiguration(const Notification* notification);

private:
    ArvelConfigPush() = default;
    bool init();
    void pushUser(std::uint32_t uid);
    void pushLoginWindow();
    void finish();

    std::shared_ptr<ArvelConsoleUser> consoleUser;
    std::shared_ptr<ArvelHIDAccess> hidAccess;
    std::shared_ptr<ArvelDriverAccess> driverAccess;
    std::shared_ptr<ArvelSystemDefaults> systemDefaults;
};
