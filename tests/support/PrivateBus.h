// PrivateBus: a message bus of the tests' own, and the real programs they
// run on it.
//
// The bus is a dbus-daemon started with a minimal session configuration in
// a temporary folder; its address is put in this program's environment
// (ARVEL_BUS_ADDRESS) before anything uses the bus, so the test program and
// every program it starts meet on it. Everything started here is killed and
// reaped when the bus goes.
//
// What a started program writes with syslog(3) is kept per program (a
// preloaded library catches the calls; the test machines have no syslog
// daemon), so tests assert a real daemon's exact lines and priorities.
#pragma once

#include "Log/Log.h"
#include "support/TemporaryFolder.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

class PrivateBus {
public:
    // The bus of this test program, started on first use: the program's bus
    // connection is made once, so every test of a program shares one bus.
    static PrivateBus& shared();

    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const std::string& address() const { return address_; }
    const TemporaryFolder& folder() const { return folder_; }

    // Starts a program on the bus with extra environment ("NAME=value"),
    // its standard output and error going to a file of the folder.
    pid_t start(const std::string& program, const std::vector<std::string>& arguments,
        const std::vector<std::string>& environment = {});
    // As start(), the program running with this user's real ids (group
    // staff, 20), as a user of the machine who starts it by hand; the test
    // must be root.
    pid_t startAsUser(std::uint32_t uid, const std::string& program, const std::vector<std::string>& arguments,
        const std::vector<std::string>& environment = {});
    // Waits for the program to end; its exit status, or -1 when it was
    // killed by a signal.
    int wait(pid_t pid);
    void kill(pid_t pid, int signal);
    // What the program wrote.
    std::string output(pid_t pid) const;
    // What the program wrote to syslog, oldest first, as a capturing log
    // sink holds it (the text trimmed, the priority without the facility).
    std::vector<CapturingLogSink::Entry> syslog(pid_t pid) const;
    std::vector<std::string> syslogLines(pid_t pid) const;

    // Ends the bus daemon itself (SIGKILL) and reaps it: every connection to
    // the bus breaks. The bus cannot be started again in this program.
    void killBus();
    // Sends the bus daemon a signal: SIGSTOP hangs the bus, SIGCONT lets it go on.
    void signalBus(int signal);

private:
    pid_t startProgram(std::optional<std::uint32_t> uid, const std::string& program, const std::vector<std::string>& arguments,
        const std::vector<std::string>& environment);

    TemporaryFolder folder_;
    pid_t busPid_ = -1;
    std::string address_;
    std::vector<pid_t> children_;
};

// Runs the current run loop in short slices until the condition holds or
// limitSeconds of real time have passed; whether it holds.
bool runLoopUntil(const std::function<bool()>& condition, double limitSeconds = 5.0);
