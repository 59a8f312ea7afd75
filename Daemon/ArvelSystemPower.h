// ArvelSystemPower: puts the settings back after the machine wakes.
//
// At sleep it remembers who is on the console; at wake it posts
// "com.tessmoor.Arvel.SystemWake" with that user's id so the configuration
// push applies the user's settings again — unless the console changed in
// between, in which case the console change has already caused a push. A
// sleep with nobody on the console wakes with nil, and the push reads the
// console itself. Every power message is acknowledged, whatever it is, so
// sleep is never held up.
#pragma once

#include "Foundation/SharedInstance.h"
#include "IOKit/IOPMLib.h"
#include "Notifications/NotificationCenter.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class ArvelConsoleUser;

class ArvelSystemPower : public SharedInstance<ArvelSystemPower> {
public:
    ~ArvelSystemPower();

    void _systemSleep();
    void _systemWake();
    void _consoleChangeClearSleepCache(const Notification& notification);

private:
    ArvelSystemPower() = default;
    bool init();
    static void powerCallback(void* context, io_service_t service, natural_t messageType, void* messageArgument);

    IONotificationPortRef ioSleepNotifyPort = nullptr;
    CFRunLoopSourceRef ioSleepNotifyRunSource;
    io_object_t ioSleepNotifier = 0;
    std::shared_ptr<ArvelConsoleUser> consoleUser;
    std::optional<std::string> preSleepConsoleUser;
    std::uint32_t preSleepUID = 0;
    bool preSleepCacheValid = false;

    friend class SharedInstance<ArvelSystemPower>;
    static constexpr const char* kSharedInstanceFailure
        = "ArvelSystemPower error: Unable to allocate the shared system power notification object.\n";
};
