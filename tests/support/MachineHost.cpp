// machine-host [BUSNAME]: a machine of the tests' own, served on the bus
// named by the environment under BUSNAME (default "org.arvel.Machine"),
// through MachineLinkService, so that the test program's shims reach it as
// a real program's reach arvel-machine.
//
// The test drives it with one method of its own on "/org/arvel/MachineHost",
// interface "org.arvel.MachineHost": Verb(as words) -> s answer, which runs
// a machine verb and answers what the machine now holds:
//   add-user NAME UID        login NAME               load-driver
//   unload-driver            driver                   sleep
//   wake                     power                    launch NAME BUNDLEID  -> "pid high low"
//   start-process COMMAND    -> pid                   open-window PID       -> window
//   warps                    log                      registrations
//   host-pid PID             session-login NAME       -> session
//   start-process-in SESSION COMMAND -> pid
//   run UID OUTPUT [NAME=VALUE...] PROGRAM [ARGUMENT...]   -> "pid hostpid"
//   status HOSTPID           -> "running", "exited N", "signal N" or "unknown"
// "run" starts a real program as the machine service does when it cannot
// switch users: with this program's own ids, its machine process in
// ARVEL_MACHINE_PID, its standard output and error in OUTPUT, and the
// machine told which user it is meant to be. "status" reaps it once ended.
// An unknown verb answers "unknown verb".
#include "MachineLink/MachineLinkProtocol.h"
#include "service/MachineLinkService.h"
#include "machine/Machine.h"

#include <sdbus-c++/sdbus-c++.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

std::string join(const std::vector<std::string>& words, std::size_t from)
{
    std::string out;
    for (std::size_t i = from; i < words.size(); ++i)
        out += (i > from ? " " : "") + words[i];
    return out;
}

// Forks and execs as HostPrograms does for a service that is not root; the
// machine knows the host pid before the program can ask anything.
std::string runProgram(machine::Machine& m, const std::vector<std::string>& w)
{
    if (w.size() < 4)
        return "usage: run UID OUTPUT [NAME=VALUE...] PROGRAM [ARGUMENT...]";
    const auto uid = static_cast<std::uint32_t>(std::strtoul(w[1].c_str(), nullptr, 10));
    const std::string output = w[2];
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry)
        environment.emplace_back(*entry);
    std::size_t i = 3;
    for (; i < w.size() && w[i].find('=') != std::string::npos && w[i][0] != '/'; ++i)
        environment.push_back(w[i]);
    if (i >= w.size())
        return "no program";
    std::vector<std::string> arguments(w.begin() + static_cast<std::ptrdiff_t>(i), w.end());
    const machine::Process& process = m.processes().startUnixProcess(arguments[0]);
    environment.push_back("ARVEL_MACHINE_PID=" + std::to_string(process.pid));
    std::vector<char*> argv, envp;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    for (auto& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(out, 1);
        dup2(out, 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    m.processes().setHostPid(process.pid, pid);
    m.processes().setUserId(process.pid, uid);
    return std::to_string(process.pid) + " " + std::to_string(pid);
}

std::string programStatus(pid_t pid)
{
    int status = 0;
    pid_t ended = waitpid(pid, &status, WNOHANG);
    if (ended == 0)
        return "running";
    if (ended != pid)
        return "unknown";
    if (WIFEXITED(status))
        return "exited " + std::to_string(WEXITSTATUS(status));
    return "signal " + std::to_string(WTERMSIG(status));
}

std::string runVerb(machine::Machine& m, MachineLinkService& service, const std::vector<std::string>& w)
{
    auto arg = [&](std::size_t i) { return i < w.size() ? w[i] : std::string(); };
    const std::string verb = arg(0);
    if (verb == "add-user") {
        m.users().addUser(arg(1), static_cast<std::uint32_t>(std::strtoul(arg(2).c_str(), nullptr, 10)));
        return "ok";
    }
    if (verb == "login")
        return m.console().login(arg(1)) ? "ok" : "unknown user";
    if (verb == "load-driver") {
        m.driver().load();
        return "ok";
    }
    if (verb == "unload-driver") {
        m.driver().unload();
        return "ok";
    }
    if (verb == "driver")
        return m.driver().describe();
    if (verb == "sleep") {
        m.power().sleep();
        return "ok";
    }
    if (verb == "wake") {
        m.power().wake();
        return "ok";
    }
    if (verb == "power") {
        std::string out = "clients " + std::to_string(m.power().clientCount()) + "\n";
        for (const auto& message : m.power().messages())
            out += machine::SystemPower::messageName(message.type) + (message.acknowledged ? " acknowledged\n" : " unanswered\n");
        return out;
    }
    if (verb == "launch") {
        const machine::Process& p = m.processes().launch({arg(1), arg(2)});
        return std::to_string(p.pid) + " " + std::to_string(p.serial.high) + " " + std::to_string(p.serial.low);
    }
    if (verb == "start-process")
        return std::to_string(m.processes().startUnixProcess(join(w, 1)).pid);
    if (verb == "session-login") {
        const machine::LoginSession* session = m.loginSessions().login(arg(1));
        return session ? std::to_string(session->id) : "unknown user";
    }
    if (verb == "start-process-in")
        return std::to_string(m.processes().startUnixProcess(join(w, 2), static_cast<std::uint32_t>(std::stoul(arg(1)))).pid);
    if (verb == "open-window") {
        int pid = std::atoi(arg(1).c_str());
        return std::to_string(m.accessibility().openWindow(pid));
    }
    if (verb == "warps") {
        std::string out;
        for (const auto& point : m.pointer().warps())
            out += std::to_string(static_cast<int>(point.x)) + "," + std::to_string(static_cast<int>(point.y)) + "\n";
        return out;
    }
    if (verb == "log")
        return m.systemLog().describe();
    if (verb == "registrations")
        return std::to_string(service.registrationCount());
    if (verb == "run")
        return runProgram(m, w);
    if (verb == "status")
        return programStatus(static_cast<pid_t>(std::atoi(arg(1).c_str())));
    if (verb == "host-pid") {
        const machine::Process* p = m.processes().processWithPid(std::atoi(arg(1).c_str()));
        return p ? std::to_string(p->hostPid) : "no process";
    }
    return "unknown verb";
}

} // namespace

int main(int argc, char** argv)
{
    const char* address = std::getenv("ARVEL_BUS_ADDRESS");
    if (!address) {
        std::fprintf(stderr, "machine-host: no bus\n");
        return 2;
    }
    std::string name = argc > 1 ? argv[1] : kMachineLinkDefaultServiceName;
    try {
        auto connection = sdbus::createSessionBusConnectionWithAddress(address);
        machine::Machine& m = machine::Machine::shared();
        MachineLinkService service(*connection, m);
        auto control = sdbus::createObject(*connection, "/org/arvel/MachineHost");
        control->registerMethod("org.arvel.MachineHost", "Verb", "as", "s", [&](sdbus::MethodCall call) {
            std::vector<std::string> words;
            call >> words;
            auto reply = call.createReply();
            reply << runVerb(m, service, words);
            reply.send();
        });
        control->finishRegistration();
        // The name comes last: whoever sees it owned finds everything served.
        connection->requestName(name);
        connection->enterEventLoop();
    } catch (const sdbus::Error& error) {
        std::fprintf(stderr, "machine-host: %s\n", error.getMessage().c_str());
        return 1;
    }
    return 0;
}
