// The processes running on the simulated machine.
//
// An application is known to the Process Manager: it has a process serial
// number, a name, and may have a bundle identifier, a bundle path and a
// four-character creator. Other processes (daemons) are Unix processes only:
// they show in the process listing of "/bin/ps", nowhere else. The login
// window is in between: the Process Manager knows it by pid, but never
// enumerates it. One application at a time is the front process: one of the
// login session on the console. Each session keeps its own front
// application while it is in the background, and has it back when it
// returns to the console.
//
// Every launch, quit and front switch of an application is an application
// event, handed to each listener (the application event targets of the
// programs running on the machine, one per program). A listener must not
// call into the program from inside the verb: it queues the event for the
// program's run loop.
#pragma once

#include "link/MachineValues.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace machine {

// A process as the machine keeps it: what any program may learn of it
// (ProcessInfo), and the machine's own bookkeeping.
struct Process : ProcessInfo {
    std::string command;           // what the process listing shows
    int hostPid = 0;               // the real process behind it, where one runs (the service's programs)
    std::uint32_t uid = 0;         // the user the service started that real process as
};

// What a test launches. A serial left at {0, 0} is given the next free one.
struct ApplicationSpec {
    ApplicationSpec(std::string name, std::string bundleIdentifier = {}, std::string bundlePath = {}, std::string creator = {},
        std::uint32_t session = 0, ProcessSerial serial = {})
        : name(std::move(name)), bundleIdentifier(std::move(bundleIdentifier)), bundlePath(std::move(bundlePath)),
          creator(std::move(creator)), session(session), serial(serial)
    {
    }
    std::string name;
    std::string bundleIdentifier;
    std::string bundlePath;
    std::string creator;
    std::uint32_t session = 0;
    ProcessSerial serial;
    // What its executable is given, shown after it in the process listing.
    std::vector<std::string> arguments;
};

class Processes {
public:
    using Listener = std::function<void(const ApplicationEvent&)>;

    Processes();

    // Verbs. launch() and bringToFront() tell the listeners; quitting the
    // front application leaves no front process (nothing is switched to).
    const Process& launch(const ApplicationSpec& spec);
    const Process& startUnixProcess(const std::string& command, std::uint32_t session = 0);
    // The login window's process ("loginwindow").
    const Process& startLoginWindow();
    bool quit(int pid);
    bool bringToFront(int pid);
    // Fast user switching put this session (0: the login window) on the
    // console: the front process becomes the session's own last front
    // application, none when it has had none. No application event: the
    // programs hear of the switch through their session's news.
    void setConsoleSession(std::uint32_t session);

    const Process* processWithPid(int pid) const;
    const Process* processWithSerial(const ProcessSerial& serial) const;
    // The real process behind a machine process: set when the service starts
    // a program, and again when the program detaches into a new process.
    bool setHostPid(int pid, int hostPid);
    bool setUserId(int pid, std::uint32_t uid);
    const Process* processWithHostPid(int hostPid) const;
    // Null when no application is in front.
    const Process* frontProcess() const;
    // Every process, Unix processes and the login window included, in pid order.
    std::vector<const Process*> all() const;
    // The enumerated applications in launch order.
    std::vector<const Process*> applications() const;
    // The applications, the front one and the count of events told so far.
    ApplicationSnapshot snapshot() const;
    // What "/bin/ps -axww" prints: a header line, then one line per process
    // in pid order, "  PID  TT  STAT      TIME COMMAND".
    std::string processListing() const;

    int addListener(Listener listener);
    void removeListener(int id);

    // Only the machine's own first process (pid 1, "/sbin/launchd") runs.
    void reset();

private:
    Process& add(Process process);
    void tell(ApplicationEventKind kind, const Process& process);

    std::map<int, Process> processes_; // by pid: launch order, stable references
    int nextPid_ = 1;
    std::uint32_t nextSerialLow_ = 0x1001;
    int frontPid_ = 0;
    std::map<std::uint32_t, int> frontBySession_; // the last front application of each session
    std::map<int, Listener> listeners_;
    int nextListener_ = 1;
    // Application events told since the machine started; never reset, so
    // that a program's table is never ahead of a machine that was reset.
    std::uint64_t sequence_ = 0;
};

} // namespace machine
