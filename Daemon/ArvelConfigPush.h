// ArvelConfigPush: where the daemon applies settings.
//
// Whenever the console user changes, the machine wakes or the driver is
// loaded again, it tells the driver whether a user is on the console and
// hands the HID system the configuration that belongs to the moment: the
// console user's own settings over the machine's calibration, or the
// login-window settings when nobody is logged in. To read a user's settings
// it takes all of that user's ids for the length of the read (his group as
// its effective and only supplementary group, then his effective user id),
// so that it opens his files with no more rights than he has, and what it
// writes for him is his; then it goes back to root's. Every push ends by clearing any per-application
// override in the driver and telling every login session, with
// "com.tessmoor.Arvel.DriverStateChange", that the driver state changed.
#pragma once

#include "Notifications/NotificationCenter.h"

#include <cstdint>
#include <memory>
#include <vector>

class ArvelConsoleUser;
class ArvelDriverAccess;
class ArvelHIDAccess;
class ArvelSystemDefaults;

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
    bool becomeUser(std::uint32_t uid);
    bool becomeRootAgain();
    void pushLoginWindow();
    void finish();

    std::shared_ptr<ArvelConsoleUser> consoleUser;
    std::shared_ptr<ArvelHIDAccess> hidAccess;
    std::shared_ptr<ArvelDriverAccess> driverAccess;
    std::shared_ptr<ArvelSystemDefaults> systemDefaults;
    // The daemon's own groups, taken back after each user's read.
    std::uint32_t rootGroupId = 0;
    std::vector<std::uint32_t> rootGroups;
};
