// MachineHarness: a freshly booted simulated machine for one test.
//
// It gives the test its own disk root (a temporary folder), a virtual clock,
// a capturing log, a clean run loop, notification centre, name server and
// I/O Kit handle table, no shared instances of the system's classes, and a
// machine with only root on it. The verbs change
// the machine as the world would (the driver loads, a user logs in, a home
// folder appears); the system hears of each change through its run-loop
// sources, so nothing happens in the system until runFor() serves the run
// loop. Everything is put back when the harness goes.
#pragma once

#include "Foundation/Value.h"
#include "Log/Log.h"
#include "RunLoop/Clock.h"
#include "machine/Machine.h"
#include "support/TemporaryFolder.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class Timer;

class MachineHarness {
public:
    MachineHarness();
    ~MachineHarness();
    MachineHarness(const MachineHarness&) = delete;
    MachineHarness& operator=(const MachineHarness&) = delete;

    machine::Machine& machine() { return machine::Machine::shared(); }
    machine::TrackpadDriver& driver() { return machine().driver(); }
    const TemporaryFolder& disk() const { return disk_; }

    // ---- the world
    void loadDriver() { driver().load(); }
    void unloadDriver() { driver().unload(); }
    void touch(std::int32_t x, std::int32_t y) { driver().touch(x, y); }
    void addUser(const std::string& name, std::uint32_t uid) { machine().users().addUser(name, uid); }
    // The user takes the console; false for an unknown user.
    bool login(const std::string& name) { return machine().console().login(name); }
    void showLoginWindow() { machine().console().showLoginWindow(); }
    // A user logs out: the login window comes back.
    void logout() { showLoginWindow(); }
    // Nobody on the console (the key goes away).
    void leaveConsole() { machine().console().leave(); }
    void setConsoleUser(const std::string& name, std::uint32_t uid) { machine().console().setRawConsoleUser(name, uid); }
    bool createHomeFolder(const std::string& name) { return machine().createHomeFolder(name); }
    // The home folder appears that many seconds from now, as the run loop runs.
    void createHomeFolderAfter(double seconds, const std::string& name);
    void failNext(const std::string& operation, int result, int times = 1)
    {
        machine().failures().failNext(operation, result, times);
    }
    void runAsUser(std::uint32_t uid);

    // ---- the world of a login session: processes, windows, the pointer
    // Each launch, quit and front switch reaches every application object
    // as an application event; each new window or sheet reaches the
    // observers registered on its process.
    int launchApplication(const machine::ApplicationSpec& spec) { return machine().processes().launch(spec).pid; }
    bool quitApplication(int pid) { return machine().processes().quit(pid); }
    bool bringToFront(int pid) { return machine().processes().bringToFront(pid); }
    int startLoginWindow() { return machine().processes().startLoginWindow().pid; }
    // A window with an optional default button, which becomes its process's
    // focused window unless told otherwise; a sheet on one of its windows.
    std::uint64_t openWindow(int pid, std::optional<machine::ButtonSpec> button = std::nullopt, bool focus = true)
    {
        return machine().accessibility().openWindow(pid, button, focus);
    }
    std::uint64_t openSheet(int pid, std::uint64_t window, std::optional<machine::ButtonSpec> button = std::nullopt)
    {
        return machine().accessibility().openSheet(pid, window, button);
    }
    bool closeWindow(int pid, std::uint64_t window) { return machine().accessibility().close(pid, window); }
    void pressMouseButton() { machine().pointer().press(); }
    void releaseMouseButton() { machine().pointer().release(); }
    // Every warp a program made, in order.
    const std::vector<machine::ScreenPoint>& pointerWarps() { return machine().pointer().warps(); }
    void setAccessibility(bool on) { machine().accessibility().setEnabled(on); }
    // The notifications registered on a process, in the order registered.
    std::vector<std::string> observedNotifications(int pid) { return machine().accessibility().registrationsForPid(pid); }
    // A user logs in with a session of their own, which takes the console;
    // 0 for an unknown user.
    std::uint32_t loginSession(const std::string& name);
    // Fast user switching: the session takes the console.
    bool switchToSession(std::uint32_t id) { return machine().loginSessions().switchTo(id); }
    // The program under test is this process of the machine: its own pid,
    // its login session, the session of its distributed notifications (for
    // a default centre made from now on).
    void runAsProcess(int pid);
    void setSystemVersion(std::uint32_t version) { machine().setSystemVersion(version); }
    // Virtual seconds since the harness was made (or since the last mark),
    // as timedLogLines() counts them.
    void markTime() { start_ = currentDate(); }

    // Stored settings, as an earlier version (or another program) left them.
    void writeUserSettings(const std::string& name, const Value& domain);
    void writeUserGlobalPreferences(const std::string& name, const Value& domain);
    void writeSystemSettings(const Value& domain);
    // The machine-wide domain file, nil when missing or unreadable.
    Value readSystemSettings() const;
    static std::string systemSettingsPath();

    // ---- power and the HID system
    machine::HIDSystem& hidSystem() { return machine().hidSystem(); }
    machine::SystemPower& power() { return machine().power(); }
    void sleep() { power().sleep(); }
    void wake() { power().wake(); }
    void askCanSleep() { power().askCanSleep(); }

    // ---- time
    // Serves the current run loop for that long (virtual seconds).
    void runFor(double seconds);
    // Virtual seconds since the harness was made (or since markTime()).
    double elapsed() const;

    // ---- what came out
    std::vector<std::string> logLines() const;
    const std::vector<CapturingLogSink::Entry>& logEntries() const;
    // Each line with the virtual seconds since the harness was made (or
    // since markTime()):
    // "30.500 ArvelConsoleUser error: ...".
    std::vector<std::string> timedLogLines() const;
    // The lines so far, forgetting them.
    std::vector<std::string> takeLogLines();
    void clearLog();

    // Records every posting of these notifications on the local centre, as
    // "name object" (the object's description).
    void recordNotifications(const std::vector<std::string>& names);
    const std::vector<std::string>& notifications() const { return notifications_; }
    std::vector<std::string> takeNotifications();

    static CapturingLogSink::Entry notice(std::string text) { return {kLogPriorityNotice, std::move(text)}; }
    static CapturingLogSink::Entry error(std::string text) { return {kLogPriorityError, std::move(text)}; }

private:
    class Log;
    static void resetWorld();
    TemporaryFolder disk_;
    ScopedVirtualClock clock_;
    std::shared_ptr<Log> log_;
    double start_;
    std::vector<std::shared_ptr<Timer>> timers_;
    std::vector<std::string> notifications_;
};
