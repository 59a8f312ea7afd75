#include "support/PrivateBus.h"

#include "Bus/MessageBus.h"
#include "RunLoop/Clock.h"
#include "RunLoop/RunLoop.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <stdexcept>
#include <string>
#include <utility>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

namespace {

// The project's one private-bus configuration (dbus/), which includes the
// policy of who may own the system's names.
std::string configuration(const std::string& listenFolder)
{
    std::ifstream in(std::string(ARVEL_DBUS_FOLDER) + "/private-bus.conf.in");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.empty())
        throw std::runtime_error("no private bus configuration in " ARVEL_DBUS_FOLDER);
    for (const auto& [marker, value] : {std::pair<std::string, std::string> {"@LISTEN_FOLDER@", listenFolder},
             {"@DBUS_FOLDER@", ARVEL_DBUS_FOLDER}}) {
        for (std::size_t at; (at = text.find(marker)) != std::string::npos;)
            text.replace(at, marker.size(), value);
    }
    return text;
}

// The users a program of the tests may run as: the bus accepts a connection
// only from a user it can look up, and looks them up here (nss_wrapper), so
// programs the machine service runs with a simulated user's real ids reach it
// without an account on the host.
const char* const kAccounts = "root:x:0:0:root:/var/root:/bin/sh\n"
                              "nobody:x:65534:65534:nobody:/nonexistent:/bin/sh\n"
                              "alice:x:501:20:alice:/Users/alice:/bin/sh\n"
                              "bob:x:502:20:bob:/Users/bob:/bin/sh\n"
                              "carol:x:503:20:carol:/Users/carol:/bin/sh\n";
const char* const kGroups = "root:x:0:\nstaff:x:20:alice,bob,carol\nnogroup:x:65534:\n";

// In a child about to run a program: it goes with the test that started it,
// however the test ends (a crash or ctest's time-out included), rather than
// run on and hold the test's output open. Asked after any change of ids,
// which clears it.
void endWithParent(int signal, pid_t parent)
{
    if (prctl(PR_SET_PDEATHSIG, signal) != 0 || getppid() != parent)
        _exit(126);
}

} // namespace

PrivateBus& PrivateBus::shared()
{
    static PrivateBus bus;
    return bus;
}

PrivateBus::PrivateBus()
{
    folder_.write("bus.conf", configuration(folder_.path()));
    folder_.write("passwd", kAccounts);
    folder_.write("group", kGroups);
    // Programs running as another user reach the socket through the folder.
    chmod(folder_.path().c_str(), 0755);

    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        throw std::runtime_error("no pipe for the bus address");
    const pid_t test = getpid();
    busPid_ = fork();
    if (busPid_ == 0) {
        endWithParent(SIGTERM, test);
        dup2(pipeFds[1], 3);
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        std::string config = "--config-file=" + folder_.file("bus.conf");
        setenv("LD_PRELOAD", "libnss_wrapper.so", 1);
        setenv("NSS_WRAPPER_PASSWD", folder_.file("passwd").c_str(), 1);
        setenv("NSS_WRAPPER_GROUP", folder_.file("group").c_str(), 1);
        execlp("dbus-daemon", "dbus-daemon", config.c_str(), "--print-address=3", "--nofork", nullptr);
        _exit(127);
    }
    close(pipeFds[1]);
    char buffer[512];
    std::string line;
    ssize_t got;
    while (line.find('\n') == std::string::npos && (got = read(pipeFds[0], buffer, sizeof buffer)) > 0)
        line.append(buffer, static_cast<std::size_t>(got));
    close(pipeFds[0]);
    address_ = line.substr(0, line.find('\n'));
    if (address_.empty())
        throw std::runtime_error("dbus-daemon gave no address");
    setenv(kBusAddressVariable, address_.c_str(), 1);
}

PrivateBus::~PrivateBus()
{
    for (pid_t pid : children_) {
        ::kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    if (busPid_ > 0) {
        ::kill(busPid_, SIGTERM);
        waitpid(busPid_, nullptr, 0);
    }
}

pid_t PrivateBus::start(const std::string& program, const std::vector<std::string>& arguments,
    const std::vector<std::string>& environment)
{
    return startProgram(std::nullopt, program, arguments, environment);
}

pid_t PrivateBus::startAsUser(std::uint32_t uid, const std::string& program, const std::vector<std::string>& arguments,
    const std::vector<std::string>& environment)
{
    return startProgram(uid, program, arguments, environment);
}

pid_t PrivateBus::startProgram(std::optional<std::uint32_t> uid, const std::string& program,
    const std::vector<std::string>& arguments, const std::vector<std::string>& environment)
{
    const pid_t test = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        for (const auto& entry : environment)
            putenv(const_cast<char*>(entry.c_str()));
        const std::string syslogFile = folder_.file("syslog-" + std::to_string(getpid()));
        setenv("ARVEL_TEST_SYSLOG_FILE", syslogFile.c_str(), 1);
#ifdef PRIVATE_BUS_SYSLOG_LIBRARY
        setenv("LD_PRELOAD", PRIVATE_BUS_SYSLOG_LIBRARY, 1);
        // A sanitized program wants its runtime first in the list; the
        // catcher is not sanitized and intercepts nothing the runtime does.
        std::string asan = getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "";
        asan += std::string(asan.empty() ? "" : ":") + "verify_asan_link_order=0";
        setenv("ASAN_OPTIONS", asan.c_str(), 1);
#endif
        int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        std::string log = folder_.file("output-" + std::to_string(getpid()));
        int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(out, 2);
        if (uid) {
            // The user's syslog lines still land where the test reads them.
            int lines = open(syslogFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const gid_t staff = 20;
            if (lines < 0 || fchown(lines, *uid, staff) != 0 || setgroups(1, &staff) != 0 || setgid(staff) != 0
                || setuid(*uid) != 0)
                _exit(126);
            close(lines);
        }
        endWithParent(SIGKILL, test);
        std::vector<char*> argv {const_cast<char*>(program.c_str())};
        for (const auto& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    children_.push_back(pid);
    return pid;
}

int PrivateBus::wait(pid_t pid)
{
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    std::erase(children_, pid);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void PrivateBus::kill(pid_t pid, int signal)
{
    ::kill(pid, signal);
}

std::string PrivateBus::output(pid_t pid) const
{
    return folder_.read("output-" + std::to_string(pid));
}

std::vector<CapturingLogSink::Entry> PrivateBus::syslog(pid_t pid) const
{
    std::vector<CapturingLogSink::Entry> entries;
    std::ifstream file(folder_.file("syslog-" + std::to_string(pid)));
    std::string line;
    while (std::getline(file, line)) {
        auto space = line.find(' ');
        if (space == std::string::npos)
            continue;
        entries.push_back({std::atoi(line.substr(0, space).c_str()), trimLogMessage(line.substr(space + 1))});
    }
    return entries;
}

std::vector<std::string> PrivateBus::syslogLines(pid_t pid) const
{
    std::vector<std::string> lines;
    for (const auto& entry : syslog(pid))
        lines.push_back(entry.text);
    return lines;
}

void PrivateBus::killBus()
{
    if (busPid_ <= 0)
        return;
    ::kill(busPid_, SIGKILL);
    waitpid(busPid_, nullptr, 0);
    busPid_ = -1;
}

void PrivateBus::signalBus(int signal)
{
    if (busPid_ > 0)
        ::kill(busPid_, signal);
}

bool runLoopUntil(const std::function<bool()>& condition, double limitSeconds)
{
    double limit = currentDate() + limitSeconds;
    while (!condition()) {
        if (currentDate() >= limit)
            return false;
        RunLoop::current().runUntilDate(std::min(limit, currentDate() + 0.02));
    }
    return true;
}
