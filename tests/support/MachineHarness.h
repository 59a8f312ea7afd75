// MachineHarness: a freshly booted simulated machine for one test.
//
// It gives the test its own disk root (a temporary folder), a virtual clock,
// a capturing log, a clean run loop, notification centre, name server and
// I/O Kit handle table, and a machine with only root on it. The verbs change
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

    // ---- time
    // Serves the current run loop for that long (virtual seconds).
    void runFor(double seconds);
    // Virtual seconds since the harness was made.
    double elapsed() const;

    // ---- what came out
    std::vector<std::string> logLines() const;
    const std::vector<CapturingLogSink::Entry>& logEntries() const;
    // Each line with the virtual seconds since the harness was made:
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
