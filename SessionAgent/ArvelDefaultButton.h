// ArvelDefaultButton: moves the pointer onto the default button of each new
// window or sheet.
//
// One Accessibility observer per running application (and the login
// window), registered for the window-created and sheet-created
// notifications. When a new window or sheet has an enabled default button
// and holds the keyboard focus of the front application (or belongs to the
// login window), the pointer jumps onto the button, 12 points in from its
// right edge and halfway down. Nothing happens unless the user's
// "MoveToDefaultButton" option is on, the Accessibility switch is on, the
// login session is on the console and no mouse button is held.
//
// Processes are watched at start, when the option or the switch is turned
// on, on an application switch, and by the 30-second house keeping, which
// also drops the watches of processes that have gone.
#pragma once

#include "Accessibility/AXObserver.h"
#include "Accessibility/AXUIElement.h"
#include "Foundation/SharedInstance.h"
#include "Notifications/NotificationCenter.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class ArvelUserDefaults;
class Timer;

class ArvelDefaultButton : public SharedInstance<ArvelDefaultButton> {
public:
    ~ArvelDefaultButton();

    void setSessionState(bool active);
    void prefChange(const Notification& notification);
    void accessibilityPrefChange(const Notification& notification);
    void appSwitched(const Notification& notification);
    void houseKeeping(Timer& timer);

    void watchRunningApps();
    void removeAllWatches();
    void watchPID(pid_t pid);
    void removeWatchForPID(pid_t pid);

    AXUIElementRef frontWindowForPID(pid_t pid);
    bool windowPIDIsFront(const AXUIElementRef& element);
    bool windowIsFrontFocus(const AXUIElementRef& element);
    void handleNewWindow(const AXUIElementRef& window);
    void handleNewSheet(const AXUIElementRef& sheet);
    void moveToButton(const AXUIElementRef& button);

    pid_t _findLoginWindowPID();
    Value _nameForPID(pid_t pid);

    // What the watch holds (tests).
    std::vector<pid_t> watchedPIDs() const;
    pid_t loginWindowProcess() const { return loginWindowPID; }
    bool accessibilityIsOn() const { return accessibilityOn; }

private:
    // A watched process: its observer, its application element and the
    // observer's run-loop source on the main run loop.
    struct WatchRecord {
        AXObserverRef observer;
        AXUIElementRef element;
        CFRunLoopSourceRef runloop;
    };

    ArvelDefaultButton() = default;
    bool init();
    bool optionOn() const;
    // What a new window and a new sheet both ask first: the enabled default
    // button worth moving to (kind names the element in the lines), or null.
    AXUIElementRef _enabledDefaultButton(const AXUIElementRef& element, const char* kind);
    // The live processes of the enumeration, without this agent's own.
    std::vector<pid_t> runningApplicationPIDs();

    std::shared_ptr<ArvelUserDefaults> userDefaults;
    bool activeSession = false;
    bool accessibilityOn = false;
    std::map<unsigned int, WatchRecord> accessibilityHooks;
    pid_t loginWindowPID = 0;
    std::shared_ptr<Timer> houseKeepingTimer;
    std::vector<std::string> ignoredApps;

    friend class SharedInstance<ArvelDefaultButton>;
    static constexpr const char* kSharedInstanceFailure
        = "ArvelDefaultButton error: Unable to allocate the default button watch object.\n";
};
