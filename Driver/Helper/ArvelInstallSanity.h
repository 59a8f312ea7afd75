// ArvelInstallSanity: checks, once at boot, that Arvel is installed whole.
//
// The driver can be left behind when the rest was thrown away by hand (a
// pane dragged to the trash instead of the installer's Uninstall). The
// pane, the driver and the startup item are looked for in that order; the
// first one missing makes the check fail, and the person at the console is
// told in a caution alert to reinstall or to uninstall properly. With
// nobody logged in yet (or the login window on the console) the check
// looks again every 30 s, in the default mode, for as long as it takes,
// and warns the first real user who appears; the warning is tried up to 5
// times, 20 s apart. Every line goes to syslog; the exit status is always 0.
#pragma once

#include <memory>

class Timer;

class ArvelInstallSanity {
public:
    static constexpr double kConsolePollSeconds = 30.0;
    static constexpr double kRunLoopSliceSeconds = 30.0;
    static constexpr int kWarningAttempts = 5;
    static constexpr double kWarningRetrySeconds = 20.0;

    ArvelInstallSanity() = default;
    ~ArvelInstallSanity();
    ArvelInstallSanity(const ArvelInstallSanity&) = delete;
    ArvelInstallSanity& operator=(const ArvelInstallSanity&) = delete;

    // The whole check, waiting for a user when it has to; returns the exit
    // status, 0.
    int run();
    bool warned() const { return warned_; }

private:
    static bool _installationIsWhole();
    // A real user on the console: not nobody, not the login window.
    static bool _userIsOnConsole();
    void _consolePollFired();
    static void _warnUser();

    bool warned_ = false;
    std::shared_ptr<Timer> consolePoll_;
};
