// The machine link, described once: every operation a program's shims ask
// of the machine, and every kind of news they register for, one row each
// (Operation.h says what a row holds and how it travels).
//
// A row's model code is its performer in Performers.cpp. The shims call a
// row through their link (MachineLink::shared().call(ops::frontProcess)); in
// process it reaches the performer with typed values, over the bus the
// program's link and the machine service both code it from this row.
//
// Arguments a caller controls that make the machine allocate are Bounded or
// AtMost, which the service checks before anything runs.
#pragma once

#include "Operation.h"

#include "Accessibility/AXError.h"
#include "IOKit/IOReturn.h"
#include "LaunchServices/LSError.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace machine {

// Default-made, these are what a call answers when it could not be made.
using IOReturnCode = ResultCode<kIOReturnNoDevice>;
using AXErrorCode = ResultCode<kAXErrorCannotComplete>;

// The most scalars, and structure bytes, one driver call carries.
inline constexpr std::size_t kMaxDriverScalars = 64;
inline constexpr std::uint32_t kMaxDriverStructureBytes = 64 * 1024;
using DriverScalars = AtMost<std::int64_t, kMaxDriverScalars>;
using DriverScalarCount = Bounded<std::uint32_t, Between<0u, kMaxDriverScalars>>;
using DriverStructureSize = Bounded<std::uint32_t, Between<0u, kMaxDriverStructureBytes>>;
struct NotNegative {
    static constexpr double low = 0;
    static constexpr double high = std::numeric_limits<double>::infinity();
};
using Seconds = Bounded<double, NotNegative>;
using SyslogPriority = Bounded<int, Between<0, 7>>; // LOG_EMERG to LOG_DEBUG
// What an opening may pass to the application it opens.
inline constexpr std::size_t kMaxOpenArguments = 64;
using OpenArguments = AtMost<std::string, kMaxOpenArguments>;
using LaunchCode = ResultCode<kLSUnknownErr>;
// A program's exit status; default-made, that of a program that could not run.
using ExitStatus = ResultCode<1>;

// An alert's buttons (default, alternate, other) and the result of showing it.
inline constexpr std::size_t kMaxAlertButtons = 3;
using AlertButtons = AtMost<std::string, kMaxAlertButtons>;
using NotificationCode = ResultCode<-1>;

namespace ops {

// ---- the I/O registry. An entry that is gone answers kIOReturnNoDevice.
inline constexpr Operation<std::vector<std::uint64_t>(std::string)> registryMatching {"registry.matching", {"class"}};
inline constexpr Operation<bool(std::uint64_t)> registryIsActive {"registry.isActive", {"entry"}};
inline constexpr Operation<std::string(std::uint64_t)> registryClassName {"registry.className", {"entry"}};
inline constexpr Subscription<void(std::string, RegistryEvent), void(std::uint64_t)> registryListener {
    {"registry.addListener", {"class", "event"}}, {"registry.removeListener", {"listener"}}, "registry", {"entry"}};
// The caller's user decides what the driver lets it open and write.
inline constexpr Operation<Outcome<IOReturnCode, std::uint64_t>(std::uint64_t, std::uint32_t)> entryOpen {
    "entry.open", {"entry", "type"}};
inline constexpr Operation<IOReturnCode(std::uint64_t, std::uint64_t)> entryClose {"entry.close", {"entry", "connection"}};
// Asks for outputCount outputs; the values come back on success.
inline constexpr Operation<Outcome<IOReturnCode, std::vector<std::int64_t>>(
    std::uint64_t, std::uint64_t, std::uint32_t, DriverScalars, DriverScalarCount)>
    entryCallScalar {"entry.callScalar", {"entry", "connection", "index", "inputs", "outputCount"}};
// Gives room for size bytes; what was written comes back on success.
inline constexpr Operation<Outcome<IOReturnCode, Value::Bytes>(
    std::uint64_t, std::uint64_t, std::uint32_t, DriverScalars, DriverStructureSize)>
    entryCallStructure {"entry.callStructure", {"entry", "connection", "index", "inputs", "size"}};
// Nil when absent or when the entry is gone.
inline constexpr Operation<Value(std::uint64_t, std::string)> entryProperty {"entry.property", {"entry", "key"}};
inline constexpr Operation<IOReturnCode(std::uint64_t, Value)> entrySetProperties {"entry.setProperties", {"entry", "properties"}};
inline constexpr Operation<IOReturnCode(std::uint64_t, std::string, Value)> entrySetProperty {
    "entry.setProperty", {"entry", "key", "value"}};
// The HID system's parameter connection; kIOReturnBadArgument for an entry
// that is not the HID system.
inline constexpr Operation<IOReturnCode(std::uint64_t, std::uint64_t, std::string, double)> hidSetAcceleration {
    "hid.setAcceleration", {"entry", "connection", "key", "value"}};
// The system's double-click interval in seconds (the private
// setDoubleClickThresholdLevel); false when refused.
inline constexpr Operation<bool(double)> hidSetDoubleClickThreshold {"hid.setDoubleClickThreshold", {"seconds"}};

// ---- the configuration store. Watchers hear the name of every key changed.
inline constexpr Operation<Value(std::string)> storeValue {"store.value", {"key"}};
inline constexpr Subscription<void(), void(std::string)> storeWatcher {
    {"store.addWatcher"}, {"store.removeWatcher", {"watcher"}}, "store", {"key"}};

// ---- system power. A client answers each message's argument.
inline constexpr Subscription<void(), void(std::uint32_t, std::int64_t)> powerClient {
    {"power.addClient"}, {"power.removeClient", {"client"}}, "power", {"type", "argument"}};
// False for an unknown or answered argument.
inline constexpr Operation<bool(std::int64_t)> powerAcknowledge {"power.acknowledge", {"argument"}};

// ---- processes
inline constexpr Operation<std::optional<ProcessInfo>(int)> processWithPid {"processes.withPid", {"pid"}};
inline constexpr Operation<std::optional<ProcessInfo>(ProcessSerial)> processWithSerial {"processes.withSerial", {"serial"}};
inline constexpr Operation<std::optional<ProcessInfo>()> frontProcess {"processes.front"};
// The enumerated applications in launch order.
inline constexpr Operation<std::vector<ProcessInfo>()> applications {"processes.applications"};
// The applications and the front one at once, with the events' count.
inline constexpr Operation<ApplicationSnapshot()> applicationSnapshot {"processes.snapshot"};
// What "/bin/ps -axww" prints.
inline constexpr Operation<std::string()> processListing {"processes.listing"};
inline constexpr Subscription<void(), void(ApplicationEvent)> applicationListener {
    {"processes.addListener"}, {"processes.removeListener", {"listener"}}, "application", {"event"}};
// The real process behind a machine process, told by a program that has
// just detached into it, from it.
inline constexpr Operation<bool(int, int)> setHostPid {"processes.setHostPid", {"pid", "hostPid"}, Travel::OnItsOwnConnection};

// ---- accessibility. Results are AXError values; an observer is the caller's own.
inline constexpr Operation<bool()> accessibilityEnabled {"ax.enabled"};
inline constexpr Operation<bool(int, std::uint64_t)> elementExists {"ax.exists", {"pid", "element"}};
inline constexpr Operation<Outcome<AXErrorCode, Attribute>(int, std::uint64_t, std::string)> copyAttribute {
    "ax.copyAttribute", {"pid", "element", "name"}};
inline constexpr Subscription<void(int), void(ElementRef, std::string)> axObserver {
    {"ax.createObserver", {"pid"}}, {"ax.destroyObserver", {"observer"}}, "accessibility", {"element", "notification"}};
inline constexpr Operation<AXErrorCode(std::uint64_t, int, std::uint64_t, std::string)> addNotification {
    "ax.addNotification", {"observer", "pid", "element", "notification"}};
inline constexpr Operation<AXErrorCode(std::uint64_t, int, std::uint64_t, std::string)> removeNotification {
    "ax.removeNotification", {"observer", "pid", "element", "notification"}};

// ---- the pointer
// Bit n set: button n is held.
inline constexpr Operation<std::uint32_t()> buttonState {"pointer.buttonState"};
inline constexpr Operation<void(double, double)> warp {"pointer.warp", {"x", "y"}};
inline constexpr Operation<void(Seconds)> setLocalEventsSuppressionInterval {"pointer.setSuppressionInterval", {"seconds"}};

// ---- login sessions. Listeners hear the session that resigned and the one
// that became active (0: none).
inline constexpr Operation<std::optional<LoginSession>(std::uint32_t)> session {"sessions.session", {"id"}};
inline constexpr Subscription<void(), void(std::uint32_t, std::uint32_t)> sessionListener {
    {"sessions.addListener"}, {"sessions.removeListener", {"listener"}}, "session", {"resigned", "activated"}};

// ---- users
inline constexpr Operation<std::optional<User>(std::string)> userNamed {"users.named", {"name"}};
inline constexpr Operation<std::optional<User>(std::uint32_t)> userWithId {"users.withId", {"uid"}};
// "~" (the user uid's home) and "~name" at the start of a system path; an
// unknown user leaves the path unchanged.
inline constexpr Operation<std::string(std::string, std::uint32_t)> expandTilde {"users.expandTilde", {"path", "uid"}};

// ---- opening applications and preference panes (Launch Services,
// "/usr/bin/open"): as the caller, in the caller's login session.
// The application bundle at path, given the arguments: 0 or a Launch
// Services error, and the new process's pid.
inline constexpr Operation<Outcome<LaunchCode, int>(std::string, OpenArguments)> openApplication {
    "launch.openApplication", {"path", "arguments"}};
// "/usr/bin/open" run with the arguments: its exit status and what it wrote.
inline constexpr Operation<Outcome<ExitStatus, std::string>(OpenArguments)> runOpen {"launch.runOpen", {"arguments"}};
// ---- the windows of GUI programs. A program registers where presses of
// its buttons go, then reports each window it shows (its kind, the window
// it sits on, title, message, and buttons as an array of {Title, Enabled});
// only the program that opened a window changes or closes it, and its
// windows go when it leaves.
// A press carries the operation "press" and the button's title as the
// control; the operator's other operations on controls are numbered, and
// the program answers each with windows.answer.
inline constexpr Subscription<void(), void(std::uint64_t, std::string, std::string, std::string, std::uint64_t)> windowPresses {
    {"windows.addPressListener"}, {"windows.removePressListener", {"listener"}}, "windowPress",
    {"window", "operation", "control", "value", "serial"}};
inline constexpr Operation<bool(std::uint64_t, std::string)> windowAnswer {"windows.answer", {"serial", "outcome"}};
inline constexpr Operation<std::uint64_t(int, std::uint64_t, std::string, std::uint64_t, std::string, std::string, Value)> windowOpen {
    "windows.open", {"pid", "listener", "kind", "parent", "title", "message", "buttons"}};
inline constexpr Operation<bool(std::uint64_t, std::string, std::string, Value)> windowUpdate {
    "windows.update", {"window", "title", "message", "buttons"}};
inline constexpr Operation<bool(std::uint64_t)> windowClose {"windows.close", {"window"}};

// ---- alerts to the person at the console (CFUserNotificationDisplayAlert):
// shown on the screen as an alert on no window of the caller's process and
// listed among the machine's alerts. Presses of its buttons go to the
// caller's windowPresses listener; the caller takes the alert away once it
// is answered (it goes too when the caller leaves). The display answers 0
// and the alert's window, or the failure.
inline constexpr Operation<Outcome<NotificationCode, std::uint64_t>(std::uint64_t, std::uint32_t, std::string, std::string, AlertButtons)>
    userNotificationDisplay {"notification.display", {"listener", "flags", "header", "message", "buttons"}};
inline constexpr Operation<bool(std::uint64_t)> userNotificationDismiss {"notification.dismiss", {"window"}};

// ---- authorization. Asking for a right with interaction allowed shows the
// administrator's password prompt to the person at the console; the news
// is how it ended (0 granted, or errAuthorizationDenied, ...Canceled,
// ...InteractionNotAllowed). A right granted is the registration's: the
// caller holds it until it ends the registration.
inline constexpr Subscription<void(std::string), void(std::int32_t)> authorizationPrompt {
    {"auth.ask", {"right"}}, {"auth.forget", {"prompt"}}, "authorization", {"status"}};
// A tool run as root for the holder of a granted prompt, given the
// arguments; the news is its end: its wait status (-1: it could not
// start) and what it wrote to its standard output.
inline constexpr Subscription<void(std::uint64_t, std::string, OpenArguments), void(std::int32_t, Value::Bytes)> privilegedRun {
    {"auth.run", {"prompt", "path", "arguments"}}, {"auth.forgetRun", {"run"}}, "privilegedRun", {"status", "output"}};

// ---- the Finder's restart: every program ends, and the machine boots again.
inline constexpr Operation<void()> finderRestart {"finder.restart"};

// ---- the machine itself
inline constexpr Operation<std::string()> hostIdentifier {"host.identifier"};
inline constexpr Operation<std::uint32_t()> systemVersion {"system.version"};
// A line a program wrote to syslog, for the machine's system log.
inline constexpr Operation<void(std::string, int, SyslogPriority, std::string)> appendSystemLog {
    "log.append", {"program", "pid", "priority", "message"}, Travel::WithoutAnswer};
// The user the machine takes the calling program for; nothing when it
// cannot tell.
inline constexpr Operation<std::optional<std::uint32_t>()> programIdentity {"program.identity", {}, Travel::OnItsOwnConnection};

} // namespace ops
} // namespace machine
