// MachineCommands: the words of the machine's command line, performed on
// the model.
//
// Each verb checks all of its words before it touches anything: a verb with
// bad arguments answers a message saying what is wrong, and changes
// nothing. Verbs that change the machine answer what they did in a few
// lines and note the same in the machine's system log under the program
// name "arvel-machine" (pid 0, the machine itself), so the log of a run
// reads as its story. Outputs of "show" are the models' own descriptions.
//
// Real programs (startup items at boot, login items at login, and what the
// machine opens for its users' programs or for "open") are started through
// the ProgramStarter, each registered first as a machine process whose host
// pid is then recorded; when a host process ends, its machine process quits
// (hostProgramEnded). The commands hand the machine's opener their starter
// while they live.
#pragma once

#include "service/ProgramStarter.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class Timer;

namespace machine {
class Machine;
struct Process;
struct ScreenWindow;
}

class MachineCommands {
public:
    struct Result {
        bool ok = true;
        std::string output; // the answer; on failure the message (no program prefix)
        bool operator==(const Result&) const = default;
    };

    MachineCommands(machine::Machine& machine, ProgramStarter& programs);
    ~MachineCommands();
    MachineCommands(const MachineCommands&) = delete;
    MachineCommands& operator=(const MachineCommands&) = delete;

    Result perform(const std::vector<std::string>& words);

    // A host process the service started (or one of its descendants) ended
    // with this waitpid status.
    void hostProgramEnded(int hostPid, int status);
    // A program the service started wrote to its standard output or error;
    // empty: that output closed.
    void hostProgramWrote(int hostPid, std::string_view bytes);

    // Whether "shutdown" was asked; the service stops after its answer.
    bool shutdownRequested() const { return shutdownRequested_; }
    bool booted() const { return booted_; }

    // The verbs, for --help.
    static const char* usage();

private:
    using Words = std::vector<std::string>;
    Result addUser(const Words& args);
    Result boot(const Words& args);
    Result startAsRoot(const Words& args);
    Result login(const Words& args);
    Result logout(const Words& args);
    Result switchUser(const Words& args);
    Result launch(const Words& args);
    Result addApp(const Words& args);
    Result operateControl(const std::string& operation, const Words& args);
    // A program's window by its number, or its newest window (the sheet in
    // front); null with *problem.
    const machine::ScreenWindow* windowOf(const std::string& word, std::string* problem) const;
    Result open(const Words& args);
    Result quit(const Words& args);
    Result front(const Words& args);
    Result window(const Words& args);
    Result close(const Words& args);
    Result pressButton(const Words& args);
    Result mouseButton(const Words& args, bool down);
    Result movePointer(const Words& args);
    Result finger(const Words& args);
    Result power(const std::string& verb, const Words& args);
    Result driver(bool load, const Words& args);
    Result accessibility(const Words& args);
    Result systemVersion(const Words& args);
    Result show(const Words& args);
    Result log(const Words& args);
    Result programConsole(const std::string& program);
    Result fail(const Words& args);
    Result check(const Words& args);
    Result shutdown(const Words& args);
    // --- the installer's road: passwords, the authorization prompt, tools
    // run as root, the Finder's restart
    Result setPassword(const Words& args);
    Result authorize(const Words& args);
    Result cancelPrompt(const Words& args);
    void runPrivileged(const std::string& path, const std::vector<std::string>& arguments, std::function<void(int, const std::string&)> finished);
    // Every program is asked to end; when all have (or after a grace
    // period, by force), the machine's state of a running system goes and
    // it boots again. The service serves its programs meanwhile: they may
    // still call the machine on their way out.
    void restart();
    void restartWhenAllEnded();
    double restartDeadline_ = 0;
    bool restarting_ = false;
    std::shared_ptr<Timer> restartPoll_;
    struct PrivilegedRun {
        int output; // the tool's standard output, kept in memory
        std::function<void(int, const std::string&)> finished;
    };
    std::map<int, PrivilegedRun> privilegedRuns_; // by host pid
    std::shared_ptr<Timer> restartTimer_;
    // --- end of the installer's road

    // Resolves "NAME" or "PID" to a machine process; null with *problem.
    const machine::Process* processNamed(const std::string& word, std::string* problem) const;
    // Registers and starts a program; the line to answer.
    std::string startProgram(const std::string& what, ProgramLaunch launch);
    std::string startLoginItems(const std::string& userName);
    // Ends a session's programs; how many were told to end.
    std::size_t endSessionPrograms(std::uint32_t session);
    std::string describeDriverWrites() const;
    std::string describeProcesses() const;
    std::string describeSessions() const;
    std::string describePointer() const;
    std::string describePower() const;
    // Answers a changing verb: the lines go to the system log as well.
    Result done(std::string output);
    void note(const std::string& message, int priority = 5);

    machine::Machine& machine_;
    ProgramStarter& programs_;
    bool booted_ = false;
    bool shutdownRequested_ = false;
};
