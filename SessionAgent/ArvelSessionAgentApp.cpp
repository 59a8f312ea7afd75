#include "ArvelSessionAgentApp.h"

#include "Carbon/CarbonEvents.h"
#include "Common/ArvelNotifications.h"
#include "Log/Log.h"
#include "Notifications/NotificationCenter.h"

#include <cstdint>

namespace {

// Installed only so that the events reach the application; they are acted
// on in sendEvent:.
OSStatus applicationEventHandler(EventHandlerCallRef, EventRef, void*)
{
    return noErr;
}

} // namespace

void ArvelSessionAgentApp::load()
{
    static const EventTypeSpec applicationEvents[] = {
        {kEventClassApplication, kEventAppLaunched},
        {kEventClassApplication, kEventAppTerminated},
        {kEventClassApplication, kEventAppFrontSwitched},
    };
    InstallEventHandler(GetApplicationEventTarget(), NewEventHandlerUPP(applicationEventHandler), 3, applicationEvents,
        nullptr, nullptr);
    initVerboseLoggingFromEnvironment();
}

void ArvelSessionAgentApp::sendEvent(const NSEvent& event)
{
    if (event.type() == kNSApplicationEventType) {
        const char* name = nullptr;
        switch (static_cast<std::uint16_t>(event.subtype())) {
        case 2: name = kArvelAppSwitchNotification; break;
        case 8: name = kArvelAppTerminatedNotification; break;
        case 4: name = kArvelAppLaunchedNotification; break;
        default: break;
        }
        if (name) {
            // The halves are 32-bit on the wire, whatever the width of data1/data2.
            Value serial = Value::dictionary({
                {"psnhigh", static_cast<unsigned long>(static_cast<std::uint32_t>(event.data1()))},
                {"psnlow", static_cast<unsigned long>(static_cast<std::uint32_t>(event.data2()))},
            });
            NotificationCenter::defaultCenter().postNotificationName(name, serial);
        }
    }
    NSApplication::sendEvent(event);
}
