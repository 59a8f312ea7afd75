// InstalledSystem: the whole system as real processes, for the end-to-end
// tests. A disk root laid out as an install leaves it (scripts/install-layout:
// the daemon as the startup item, the agent inside the pane bundle, each
// user's login items), arvel-machine serving it on the tests' private bus,
// and verbs that drive the machine the way a person at it would: boot, log
// in, bring an application to the front, sleep, reload the driver.
//
// What the programs did is read back as they left it: the machine's system
// log (the daemon's syslog lines), the agents' console lines (the service's
// standard error, where the programs it starts write theirs), the driver's
// and the HID system's state as the machine shows it, and the files on the
// disk.
//
// Every host pid the machine names (in a verb's answer, the system log or
// the process listing) is remembered; finish() shuts the machine down and
// answers those still alive, so a test can insist that nothing is left.
#pragma once

#include "support/PrivateBus.h"
#include "support/TemporaryFolder.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <sys/types.h>
#include <vector>

// Polls the condition every 20 ms until it holds or the time is up; whether
// it held.
bool eventually(const std::function<bool()>& condition, double timeoutSeconds = 10);

class InstalledSystem {
public:
    using Words = std::vector<std::string>;

    struct Ran {
        bool ok = false;
        std::string output;
        bool operator==(const Ran&) const = default;
    };

    // Lays out the install for these users ("alice:501") on a fresh disk
    // root; nothing runs yet. problem() says what failed, empty when all went.
    explicit InstalledSystem(const std::vector<std::string>& users);
    // A fresh disk root with nothing on it, for the installer to install on.
    struct EmptyDisk {};
    explicit InstalledSystem(EmptyDisk);
    ~InstalledSystem();
    InstalledSystem(const InstalledSystem&) = delete;
    InstalledSystem& operator=(const InstalledSystem&) = delete;

    const std::string& problem() const { return problem_; }
    const std::string& root() const { return root_; }

    // Stored settings, written (or read) as the defaults command does, with
    // this extra environment (the machine service's name, to reach it).
    bool defaults(const Words& arguments, std::string* output = nullptr, const std::vector<std::string>& environment = {});

    // Starts arvel-machine serve with this extra environment ("ArvelDebug=YES")
    // and waits until it answers.
    bool serve(const std::vector<std::string>& environment = {});

    // One verb, performed by the service (its Perform call).
    Ran perform(const Words& words);
    // A program run to its end by another user of the machine, by hand,
    // with this extra environment; whether it exited 0, and what it wrote.
    Ran runAsUser(std::uint32_t uid, const std::string& program, const Words& arguments,
        const std::vector<std::string>& environment = {});
    // A program run to its end by hand, as root or as the user uid, with
    // this extra environment: its exit status (-1: killed by a signal) and
    // what it wrote.
    struct Exited {
        int status = -1;
        std::string output;
        bool operator==(const Exited&) const = default;
    };
    Exited runByHand(std::optional<std::uint32_t> uid, const std::string& program, const Words& arguments,
        const std::vector<std::string>& environment = {});
    // The verb's answer; a refusal is a test failure.
    std::string ok(const Words& words);
    // arvel-machine wait, from the command line: whether it held in time.
    bool waitFor(const Words& condition, double timeoutSeconds = 10);
    // Polls until the line of "show driver" that starts with this key
    // ("per-application dictionary") reads "key = value"; whether it did.
    bool waitForDriver(const std::string& key, const std::string& value, double timeoutSeconds = 10);
    std::string driverValue(const std::string& key);

    // The system log as "log" prints it, one entry a line, from line `since`.
    std::vector<std::string> logLines(std::size_t since = 0);
    std::size_t logLength() { return logLines().size(); }
    // The lines of one program ("arveld[2]") from line `since`.
    std::vector<std::string> logLinesOf(const std::string& program, std::size_t since = 0);

    // Waits until the program has written at least `count` lines from line
    // `since` of the system log.
    bool waitForLogLinesOf(const std::string& program, std::size_t since, std::size_t count, double timeoutSeconds = 10);

    // The texts of one agent's console lines (its host pid), without the
    // date and the program's name, from its line `since`. The default
    // button mover's lines are left out: its house keeping writes on a
    // timer of its own.
    std::vector<std::string> agentLines(pid_t hostPid, std::size_t since = 0);
    // The same for any program the machine started ("System Preferences").
    std::vector<std::string> consoleLines(const std::string& program, pid_t hostPid, std::size_t since = 0);
    // Waits until the agent's lines from `since` hold this run of lines, one
    // after the other.
    bool waitForAgentRun(pid_t hostPid, std::size_t since, const std::vector<std::string>& run, double timeoutSeconds = 10);

    // The host pid of the machine process whose command is this system
    // path, as "show processes" lists it; -1 when none runs.
    pid_t hostPidOf(const std::string& command);
    // The host pid a verb's answer gives ("login item ...: pid 4, host pid 812, UID 501").
    static pid_t hostPidIn(const std::string& answer);

    // Shuts the machine down ("shutdown", then the service's own end) and
    // answers the host pids it named that still run. Also done, quietly,
    // by the destructor.
    std::vector<pid_t> finish();
    int serviceStatus() const { return serviceStatus_; }
    const std::set<pid_t>& hostPidsSeen() const { return hostPids_; }

private:
    // The disk root's folder, which every user may pass through; false
    // (with the problem) when they cannot.
    bool makeRoot();
    void noteHostPids(const std::string& text);
    bool run(const std::string& program, const Words& arguments, const std::vector<std::string>& environment, std::string* output);

    PrivateBus* bus_ = nullptr;
    TemporaryFolder disk_;
    std::string root_;
    std::string problem_;
    pid_t service_ = -1;
    pid_t serviceOutput_ = -1; // whose output holds the agents' console lines
    int serviceStatus_ = -1;
    std::set<pid_t> hostPids_;
};
