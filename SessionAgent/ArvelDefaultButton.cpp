#include "ArvelDefaultButton.h"

#include "Common/ArvelNotifications.h"
#include "Carbon/CarbonEvents.h"
#include "Common/ArvelUserDefaults.h"
#include "CoreGraphics/CGRemoteOperation.h"
#include "Foundation/Task.h"
#include "Log/Log.h"
#include "Notifications/DistributedNotificationCenter.h"
#include "ProcessManager/Processes.h"
#include "RunLoop/Clock.h"
#include "RunLoop/RunLoop.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr double kHouseKeepingInterval = 30.0;
constexpr double kAttachRetrySleep = 0.5;
constexpr int kAttachAttempts = 8;
constexpr double kListingPollSleep = 0.25;

// The observer callback: a new window or sheet in a watched process.
void observerCallback(AXObserverRef, AXUIElementRef element, const std::string&, void* refcon)
{
    CFTypeRef role;
    if (AXUIElementCopyAttributeValue(element, kAXRoleAttribute, &role) != kAXErrorSuccess) {
        verboseError("ArvelDefaultButton error: AX element create callback unable to determine role.\n");
        return;
    }
    auto* self = static_cast<ArvelDefaultButton*>(refcon);
    std::string roleName = role.value() ? role.value()->stringOr("") : std::string();
    if (!self)
        logError("ArvelDefaultButton error: AX window create callback missing refcon.\n");
    else if (roleName == kAXWindowRole)
        self->handleNewWindow(element);
    else if (roleName == kAXSheetRole)
        self->handleNewSheet(element);
    else
        logError("ArvelDefaultButton error: Unknown new element role \"%@\".\n", role.value() ? *role.value() : Value());
}

// The leading integer of a text, as a string's intValue reads it.
int leadingInteger(const std::string& text)
{
    return static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            return parts;
        start = at + 1;
    }
}

// Without the white space and newlines around it.
std::string trimmed(const std::string& text)
{
    const char* blanks = " \t\r\n";
    auto first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

bool endsWith(const std::string& text, std::string_view tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

bool ArvelDefaultButton::init()
{
    ignoredApps = {"Moneydance"};
    if (!keepNeeded(userDefaults, ArvelUserDefaults::sharedInstance(), "ArvelDefaultButton error: Unable to obtain user defaults.\n"))
        return false;
    DistributedNotificationCenter::defaultCenter().addObserver(
        this, [this](const Notification& n) { prefChange(n); }, kArvelPrefChangeNotification);
    loginWindowPID = _findLoginWindowPID();
    if (loginWindowPID == 0)
        logError("ArvelDefaultButton error: Unable to obtain loginwindow PID.\n");
    NotificationCenter::defaultCenter().addObserver(
        this, [this](const Notification& n) { appSwitched(n); }, kArvelAppSwitchNotification);
    DistributedNotificationCenter::defaultCenter().addObserver(
        this, [this](const Notification& n) { accessibilityPrefChange(n); }, "com.apple.accessibility.api");
    accessibilityOn = AXAPIEnabled();
    houseKeepingTimer = Timer::scheduledTimer(kHouseKeepingInterval, true, [this](Timer& t) { houseKeeping(t); });
    if (accessibilityOn && optionOn())
        watchRunningApps();
    return true;
}

ArvelDefaultButton::~ArvelDefaultButton()
{
    if (houseKeepingTimer)
        houseKeepingTimer->invalidate();
    NotificationCenter::defaultCenter().removeObserver(this);
    DistributedNotificationCenter::defaultCenter().removeObserver(this);
    removeAllWatches();
}

bool ArvelDefaultButton::optionOn() const
{
    return userDefaults && userDefaults->moveToDefaultButton();
}

void ArvelDefaultButton::setSessionState(bool active)
{
    activeSession = active;
}

void ArvelDefaultButton::prefChange(const Notification&)
{
    userDefaults->syncFromDisk();
    accessibilityOn = AXAPIEnabled();
    if (accessibilityOn && optionOn())
        watchRunningApps();
    else
        removeAllWatches();
}

void ArvelDefaultButton::accessibilityPrefChange(const Notification&)
{
    verboseNotice("ArvelDefaultButton: Accessibility API change.\n");
    accessibilityOn = AXAPIEnabled();
    if (accessibilityOn && optionOn())
        watchRunningApps();
    else
        removeAllWatches();
}

void ArvelDefaultButton::appSwitched(const Notification& notification)
{
    ProcessSerialNumber psn;
    const Value& serial = notification.object;
    auto high = serial["psnhigh"].integer();
    auto low = serial["psnlow"].integer();
    if (high && low) {
        psn = {static_cast<UInt32>(*high), static_cast<UInt32>(*low)};
    } else if (GetFrontProcess(&psn) != noErr) {
        verboseNotice("ArvelDefaultButton: Unable to obtain front process PSN.\n");
        return;
    }
    pid_t pid = 0;
    GetProcessPID(&psn, &pid);
    if (pid == 0) {
        verboseNotice("ArvelDefaultButton: Unable to obtain switched front process pid.\n");
        return;
    }
    if (!accessibilityOn || !optionOn() || accessibilityHooks.count(static_cast<unsigned int>(pid)))
        return;
    watchPID(pid);
    if (!accessibilityHooks.count(static_cast<unsigned int>(pid)))
        return;
    // The application's focused window was there before the watch: it is
    // treated as new.
    if (AXUIElementRef window = frontWindowForPID(pid))
        handleNewWindow(window);
}

std::vector<pid_t> ArvelDefaultButton::runningApplicationPIDs()
{
    std::vector<pid_t> pids;
    ProcessSerialNumber current {0, kCurrentProcess};
    ProcessSerialNumber psn {0, kNoProcess};
    while (GetNextProcess(&psn) == noErr) {
        Boolean same = false;
        if (SameProcess(&psn, &current, &same) == noErr && same)
            continue;
        pid_t pid = 0;
        if (GetProcessPID(&psn, &pid) != noErr)
            continue;
        pids.push_back(pid);
    }
    return pids;
}

void ArvelDefaultButton::houseKeeping(Timer&)
{
    verboseNotice("ArvelDefaultButton: House keeping timed check.\n");
    std::vector<pid_t> live;
    if (loginWindowPID != 0)
        live.push_back(loginWindowPID);
    for (pid_t pid : runningApplicationPIDs()) {
        if (accessibilityOn && optionOn())
            watchPID(pid);
        live.push_back(pid);
    }
    for (pid_t pid : watchedPIDs()) {
        if (std::find(live.begin(), live.end(), pid) == live.end())
            removeWatchForPID(pid);
    }
}

void ArvelDefaultButton::watchRunningApps()
{
    if (!accessibilityOn || !optionOn())
        return;
    for (pid_t pid : runningApplicationPIDs())
        watchPID(pid);
    if (loginWindowPID != 0)
        watchPID(loginWindowPID);
}

void ArvelDefaultButton::removeAllWatches()
{
    for (pid_t pid : watchedPIDs())
        removeWatchForPID(pid);
}

std::vector<pid_t> ArvelDefaultButton::watchedPIDs() const
{
    std::vector<pid_t> pids;
    for (const auto& [pid, record] : accessibilityHooks)
        pids.push_back(static_cast<pid_t>(pid));
    return pids;
}

void ArvelDefaultButton::watchPID(pid_t pid)
{
    WatchRecord record;
    Value name = _nameForPID(pid);
    if (!optionOn())
        return;
    Value shownName = name.isNil() ? Value("Unknown") : name;
    if (!accessibilityOn) {
        logNotice("ArvelDefaultButton: Accessibility is off, cannot register for pid %d.\n", pid);
        return;
    }
    if (accessibilityHooks.count(static_cast<unsigned int>(pid))) {
        verboseNotice("ArvelDefaultButton: Already have observer for pid %d.\n", pid);
        return;
    }
    Value plainName = _nameForPID(pid);
    if (const std::string* text = plainName.string()) {
        if (std::find(ignoredApps.begin(), ignoredApps.end(), *text) != ignoredApps.end()) {
            logNotice("ArvelDefaultButton: Ignoring pid %d, it is on the permanent ignore list.\n", pid);
            return;
        }
    }
    AXError error = AXObserverCreate(pid, observerCallback, &record.observer);
    if (error != kAXErrorSuccess) {
        logError("ArvelDefaultButton error: Unable to register observer for pid %d \"%@\", error %d.\n", pid, shownName, error);
        return;
    }
    record.element = AXUIElementCreateApplication(pid);
    if (!record.element) {
        logError("ArvelDefaultButton error: Unable to obtain application element for pid %d \"%@\".\n", pid, shownName);
        return;
    }
    // A busy application cannot answer yet; it is given four seconds.
    CFTypeRef frontmost;
    int cannotComplete = 0;
    error = AXUIElementCopyAttributeValue(record.element, kAXFrontmostAttribute, &frontmost);
    while (error == kAXErrorCannotComplete) {
        platformSleep(kAttachRetrySleep);
        if (++cannotComplete >= kAttachAttempts) {
            verboseError("ArvelDefaultButton error: Unable to accessibility attach to pid %d \"%@\".\n", pid, shownName);
            return;
        }
        error = AXUIElementCopyAttributeValue(record.element, kAXFrontmostAttribute, &frontmost);
    }
    record.runloop = AXObserverGetRunLoopSource(record.observer);
    if (!record.runloop) {
        logError("ArvelDefaultButton error: Unable to obtain observer runloop for pid %d \"%@\".\n", pid, shownName);
        return;
    }
    RunLoop::current().addSource(record.runloop, kDefaultRunLoopMode);
    error = AXObserverAddNotification(record.observer, record.element, kAXWindowCreatedNotification, this);
    if (error != kAXErrorSuccess)
        verboseNotice("ArvelDefaultButton: Unable to register new window notification for pid %d \"%@\", error %d.\n", pid,
            shownName, error);
    error = AXObserverAddNotification(record.observer, record.element, kAXSheetCreatedNotification, this);
    if (error != kAXErrorSuccess)
        verboseNotice("ArvelDefaultButton: Unable to register new sheet notification for pid %d \"%@\", error %d.\n", pid,
            shownName, error);
    accessibilityHooks[static_cast<unsigned int>(pid)] = std::move(record);
}

void ArvelDefaultButton::removeWatchForPID(pid_t pid)
{
    auto it = accessibilityHooks.find(static_cast<unsigned int>(pid));
    if (it == accessibilityHooks.end()) {
        verboseNotice("ArvelDefaultButton: Unable to remove AX access for pid %d, no AX info cached.\n", pid);
        return;
    }
    WatchRecord& record = it->second;
    AXObserverRemoveNotification(record.observer, record.element, kAXWindowCreatedNotification);
    AXObserverRemoveNotification(record.observer, record.element, kAXSheetCreatedNotification);
    RunLoop::current().removeSource(record.runloop, kDefaultRunLoopMode);
    accessibilityHooks.erase(it);
}

AXUIElementRef ArvelDefaultButton::frontWindowForPID(pid_t pid)
{
    auto it = accessibilityHooks.find(static_cast<unsigned int>(pid));
    if (it == accessibilityHooks.end()) {
        logError("ArvelDefaultButton error: Unable to find cached AX info for front process pid %d.\n", pid);
        return nullptr;
    }
    CFTypeRef window;
    AXError error = AXUIElementCopyAttributeValue(it->second.element, kAXFocusedWindowAttribute, &window);
    if (error != kAXErrorSuccess) {
        verboseError("ArvelDefaultButton error: Unable to obtain front window for pid %d, error %d.", pid, error);
        return nullptr;
    }
    return window.element();
}

bool ArvelDefaultButton::windowPIDIsFront(const AXUIElementRef& element)
{
    ProcessSerialNumber front;
    if (GetFrontProcess(&front) != noErr) {
        logError("ArvelDefaultButton error: Unable to obtain front process PSN.\n");
        return false;
    }
    pid_t frontPID = 0;
    GetProcessPID(&front, &frontPID);
    if (frontPID == 0) {
        logError("ArvelDefaultButton error: Unable to obtain front process pid.\n");
        return false;
    }
    pid_t windowPID = 0;
    AXError error = AXUIElementGetPid(element, &windowPID);
    if (error != kAXErrorSuccess || windowPID == 0) {
        logError("ArvelDefaultButton error: Unable to obtain AX window pid, error %d\n", error);
        return false;
    }
    return (loginWindowPID != 0 && windowPID == loginWindowPID) || windowPID == frontPID;
}

bool ArvelDefaultButton::windowIsFrontFocus(const AXUIElementRef& element)
{
    if (!windowPIDIsFront(element))
        return false;
    pid_t windowPID = 0;
    AXError error = AXUIElementGetPid(element, &windowPID);
    if (error != kAXErrorSuccess || windowPID == 0) {
        logError("ArvelDefaultButton error: Unable to obtain AX window pid, error %d\n", error);
        return false;
    }
    AXUIElementRef focused = frontWindowForPID(windowPID);
    return focused && CFEqual(focused, element);
}

AXUIElementRef ArvelDefaultButton::_enabledDefaultButton(const AXUIElementRef& element, const char* kind)
{
    if (!activeSession || !optionOn())
        return {};
    if (!accessibilityOn) {
        verboseNotice("ArvelDefaultButton: Accessibility is off, cannot handle new element.\n");
        return {};
    }
    // A window that opens while a button is held must not pull the pointer
    // out from under a drag.
    if (GetCurrentButtonState() != 0)
        return {};
    CFTypeRef button;
    AXError error = AXUIElementCopyAttributeValue(element, kAXDefaultButtonAttribute, &button);
    if (error != kAXErrorSuccess || !button.element()) {
        verboseNotice("ArvelDefaultButton: New %s does not have a default button, error %d.", kind, error);
        return {};
    }
    // A button without an enabled flag counts as enabled.
    CFTypeRef enabled;
    if (AXUIElementCopyAttributeValue(button.element(), kAXEnabledAttribute, &enabled) == kAXErrorSuccess && enabled.value()
        && !enabled.value()->booleanOr(true)) {
        verboseNotice("ArvelDefaultButton: New %s's default button is not enabled.", kind);
        return {};
    }
    return button.element();
}

void ArvelDefaultButton::handleNewWindow(const AXUIElementRef& window)
{
    AXUIElementRef button = _enabledDefaultButton(window, "window");
    if (!button)
        return;
    if (windowIsFrontFocus(window))
        moveToButton(button);
    else
        verboseNotice("ArvelDefaultButton: New window is not front focus.");
}

void ArvelDefaultButton::handleNewSheet(const AXUIElementRef& sheet)
{
    AXUIElementRef button = _enabledDefaultButton(sheet, "sheet");
    if (!button)
        return;
    CFTypeRef parent;
    AXUIElementCopyAttributeValue(sheet, kAXWindowAttribute, &parent);
    if (windowIsFrontFocus(sheet) || (parent.element() && windowIsFrontFocus(parent.element())))
        moveToButton(button);
    else
        verboseNotice("ArvelDefaultButton: New sheet or parent is not front focus.");
}

void ArvelDefaultButton::moveToButton(const AXUIElementRef& button)
{
    CFTypeRef value;
    AXError error = AXUIElementCopyAttributeValue(button, kAXPositionAttribute, &value);
    if (error != kAXErrorSuccess || value.isNull()) {
        logError("ArvelDefaultButton error: Unable to obtain position of button, error %d.", error);
        return;
    }
    CGPoint position;
    if (!AXValueGetValue(value.axValue(), kAXValueCGPointType, &position)) {
        logError("ArvelDefaultButton error: Unable to obtain position data of button, error %d.", 0);
        return;
    }
    error = AXUIElementCopyAttributeValue(button, kAXSizeAttribute, &value);
    if (error != kAXErrorSuccess || value.isNull()) {
        logError("ArvelDefaultButton error: Unable to obtain size of button, error %d.", error);
        return;
    }
    CGSize size;
    if (!AXValueGetValue(value.axValue(), kAXValueCGSizeType, &size)) {
        logError("ArvelDefaultButton error: Unable to obtain size data of button, error %d.", 0);
        return;
    }
    // 12 points in from the right edge, halfway down.
    CGPoint target {position.x + size.width - 12.0f, position.y + 0.5f * size.height};
    CGSetLocalEventsSuppressionInterval(0.0);
    CGError moved = CGWarpMouseCursorPosition(target);
    if (moved != kCGErrorSuccess)
        logError("ArvelDefaultButton error: Unable to move mouse to button, error %d.", moved);
}

pid_t ArvelDefaultButton::_findLoginWindowPID()
{
    NSTask task;
    auto pipe = NSPipe::pipe();
    task.setLaunchPath("/bin/ps");
    task.setArguments({"-axww"});
    task.setStandardOutput(pipe);
    if (auto exception = task.launch()) {
        logError("ArvelDefaultButton error: Unable to launch '/bin/ps'. Exception %@ - %@\n", exception->name, exception->reason);
        return 0;
    }
    std::string listing;
    auto append = [&listing](const Value::Bytes& data) { listing.append(data.begin(), data.end()); };
    while (task.isRunning()) {
        append(pipe->fileHandleForReading().availableData());
        platformSleep(kListingPollSleep);
    }
    // Whatever the listing left in the pipe as it ended counts as well.
    append(pipe->fileHandleForReading().readDataToEndOfFile());

    for (const std::string& rawLine : split(listing, '\n')) {
        std::string line = trimmed(rawLine);
        std::vector<std::string> components = split(line, ' ');
        for (const std::string& component : components) {
            if (!endsWith(component, "loginwindow"))
                continue;
            if (int pid = leadingInteger(components.front()))
                return pid;
            break;
        }
    }
    return 0;
}

Value ArvelDefaultButton::_nameForPID(pid_t pid)
{
    ProcessSerialNumber psn;
    if (GetProcessForPID(pid, &psn) != noErr) {
        logError("ArvelDefaultButton error: Unable to look up psn for pid %d.\n", pid);
        return {};
    }
    Value name;
    if (CopyProcessName(&psn, &name) != noErr) {
        logError("ArvelDefaultButton error: Unable to look up name for pid %d.\n", pid);
        return {};
    }
    if (name.isNil()) {
        logError("ArvelDefaultButton error: Nil name for pid %d.\n", pid);
        return {};
    }
    return name;
}
