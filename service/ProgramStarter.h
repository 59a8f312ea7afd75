// ProgramStarter: how the machine's command verbs start and end the real
// programs behind the machine's processes. The service's own starter runs
// them on the host (HostPrograms); tests of the verbs hand in one that only
// records what it was asked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ProgramLaunch {
    int machinePid = 0;      // the machine process registered for it
    std::string executable;  // system path on the disk root
    std::vector<std::string> arguments;
    std::uint32_t uid = 0;   // who it runs as
    std::uint32_t gid = 0;
    // A descriptor to take as its standard output (-1: the pipe it shares
    // with its standard error, which the machine keeps as its console).
    int standardOutput = -1;
    bool operator==(const ProgramLaunch&) const = default;
};

class ProgramStarter {
public:
    virtual ~ProgramStarter() = default;
    // Starts the program; its host pid, or -1 with the reason in *problem.
    virtual int start(const ProgramLaunch& launch, std::string* problem) = 0;
    // Asks a running program, and what it started in its process group, to
    // end (SIGTERM); its end comes later.
    virtual void terminate(int hostPid) = 0;
    // Whether programs really take the ids they are given: only a service
    // running as root may switch users. Otherwise they run with the
    // service's and the service tells them whom it meant.
    virtual bool switchesUsers() const = 0;
    // The host pids of every program started that still runs (and of what
    // they started).
    virtual std::vector<int> running() const { return {}; }
    // Ends every program started and waits for their ends; graceSeconds
    // between asking and forcing.
    virtual void endAll(double graceSeconds) { (void)graceSeconds; }
};
