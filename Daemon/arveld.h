// arveld: the root daemon's entry.
//
// Start-up checks that the daemon runs as root, detaches, builds the
// daemon's long-lived objects in a fixed order, publishes the driver access
// under "com.tessmoor.Arvel.DaemonDriverAccess" and the system defaults
// under "com.tessmoor.Arvel.DaemonSystemDefaults", and says "Daemon started.";
// any failure is logged once and ends the start with -1 (exit status 255).
// After that everything happens in callbacks of the run loop, which runs in
// slices of at most 300 s for ever.
//
// Tests and the demo build an Arveld, run startUp() and then serve the run
// loop themselves (or runSlice()); the program's main calls arveldMain().
#pragma once

#include <memory>

class ArvelConfigPush;
class ArvelConsoleUser;
class ArvelDOServer;
class ArvelDriverAccess;
class ArvelSystemDefaults;
class ArvelSystemPower;

class Arveld {
public:
    static constexpr double kRunLoopSliceSeconds = 300.0;

    Arveld();
    // Lets go of everything obtained, published connections included.
    ~Arveld();
    Arveld(const Arveld&) = delete;
    Arveld& operator=(const Arveld&) = delete;

    // 0 when the daemon is up, -1 after a logged failure.
    int startUp();
    // Runs the current run loop until 300 s from now.
    void runSlice();

    const std::shared_ptr<ArvelDOServer>& server() const { return doServer_; }
    const std::shared_ptr<ArvelDriverAccess>& driverAccess() const { return driverAccess_; }
    const std::shared_ptr<ArvelConsoleUser>& consoleUser() const { return consoleUser_; }
    const std::shared_ptr<ArvelSystemDefaults>& systemDefaults() const { return systemDefaults_; }
    const std::shared_ptr<ArvelSystemPower>& systemPower() const { return systemPower_; }
    const std::shared_ptr<ArvelConfigPush>& configPush() const { return configPush_; }

private:
    std::shared_ptr<ArvelDOServer> doServer_;
    std::shared_ptr<ArvelDriverAccess> driverAccess_;
    std::shared_ptr<ArvelSystemDefaults> systemDefaults_;
    std::shared_ptr<ArvelConsoleUser> consoleUser_;
    std::shared_ptr<ArvelSystemPower> systemPower_;
    std::shared_ptr<ArvelConfigPush> configPush_;
};

// The program: syslog as the log channel, start-up, then the run loop for
// ever. Returns -1 only when start-up failed.
int arveldMain();
