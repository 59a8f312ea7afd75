#include "service/HostPrograms.h"
#include "service/ProcStat.h"

#include "Bus/MessageBus.h"
#include "Environment/Environment.h"
#include "Log/Log.h"
#include "Paths/DiskRoot.h"
#include "RunLoop/RunLoop.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <map>
#include <set>
#include <sstream>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

sigset_t watchedSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGCHLD);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

// What the child writes back through its close-on-exec pipe when it cannot
// become the program: the step that failed and errno.
struct ChildFailure {
    int step;
    int error;
};
enum ChildStep { kStepIds = 1, kStepExec = 2 };

void writeFailure(int fd, int step)
{
    ChildFailure failure {step, errno};
    ssize_t ignored = ::write(fd, &failure, sizeof failure);
    (void)ignored;
}

std::vector<std::string> environmentFor(const ProgramLaunch& launch, const std::string& machineName)
{
    static const char* const replaced[] = {kDiskRootVariable, kMachineServiceVariable, kMachinePidVariable};
    std::vector<std::string> out;
    for (char** entry = environ; entry && *entry; ++entry) {
        std::string_view text(*entry);
        bool keep = true;
        for (const char* name : replaced) {
            std::string prefix = std::string(name) + "=";
            if (text.rfind(prefix, 0) == 0)
                keep = false;
        }
        if (keep)
            out.emplace_back(text);
    }
    out.push_back(std::string(kDiskRootVariable) + "=" + diskRoot());
    out.push_back(std::string(kMachineServiceVariable) + "=" + machineName);
    out.push_back(std::string(kMachinePidVariable) + "=" + std::to_string(launch.machinePid));
    return out;
}

} // namespace

std::unique_ptr<HostPrograms> HostPrograms::create(std::string machineName, EndedHandler ended, StopHandler stop)
{
    if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) {
        logError("HostPrograms error: Unable to become the subreaper of the programs: %s\n", std::strerror(errno));
        return nullptr;
    }
    sigset_t set = watchedSignals();
    if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) {
        logError("HostPrograms error: Unable to block the signals: %s\n", std::strerror(errno));
        return nullptr;
    }
    int fd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd < 0) {
        logError("HostPrograms error: Unable to watch the signals: %s\n", std::strerror(errno));
        sigprocmask(SIG_UNBLOCK, &set, nullptr);
        return nullptr;
    }
    return std::unique_ptr<HostPrograms>(new HostPrograms(std::move(machineName), std::move(ended), std::move(stop), fd));
}

HostPrograms::HostPrograms(std::string machineName, EndedHandler ended, StopHandler stop, int signalFd)
    : machineName_(std::move(machineName)), ended_(std::move(ended)), stop_(std::move(stop)), signalFd_(signalFd)
{
    source_ = FileDescriptorSource::create(signalFd_, FileDescriptorSource::Readable, [this](int, int) { signalsArrived(); });
    RunLoop::current().addFileDescriptorSource(source_, kCommonRunLoopModes);
}

HostPrograms::~HostPrograms()
{
    for (auto& [hostPid, source] : outputs_) {
        RunLoop::current().removeFileDescriptorSource(source);
        ::close(source->fileDescriptor());
    }
    RunLoop::current().removeFileDescriptorSource(source_);
    ::close(signalFd_);
    sigset_t set = watchedSignals();
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

bool HostPrograms::switchesUsers() const
{
    return ::geteuid() == 0;
}

int HostPrograms::start(const ProgramLaunch& launch, std::string* problem)
{
    // Everything the child needs is made before the fork.
    const std::string executable = hostPath(launch.executable);
    const std::string folder = diskRoot();
    std::vector<std::string> arguments {executable};
    arguments.insert(arguments.end(), launch.arguments.begin(), launch.arguments.end());
    std::vector<std::string> environment = environmentFor(launch, machineName_);
    std::vector<char*> argv, envp;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    for (auto& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    const bool switchIds = switchesUsers() && (launch.uid != ::getuid() || launch.gid != ::getgid());
    const gid_t gid = launch.gid;
    const uid_t uid = launch.uid;
    const int standardOutput = launch.standardOutput;

    int report[2], output[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        *problem = std::string("no pipe: ") + std::strerror(errno);
        return -1;
    }
    if (pipe2(output, O_CLOEXEC) != 0) {
        *problem = std::string("no pipe: ") + std::strerror(errno);
        ::close(report[0]);
        ::close(report[1]);
        return -1;
    }
    pid_t pid = fork();
    if (pid < 0) {
        *problem = std::string("unable to fork: ") + std::strerror(errno);
        for (int fd : {report[0], report[1], output[0], output[1]})
            ::close(fd);
        return -1;
    }
    if (pid == 0) {
        ::close(report[0]);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        setpgid(0, 0);
        int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0 && null != 0) {
            dup2(null, 0);
            ::close(null);
        }
        dup2(standardOutput >= 0 ? standardOutput : output[1], 1);
        dup2(output[1], 2);
        if (chdir(folder.c_str()) != 0 && chdir("/") != 0) {
            // The working folder is a courtesy; the program still runs.
        }
        if (switchIds && (setgroups(1, &gid) != 0 || setgid(gid) != 0 || setuid(uid) != 0)) {
            writeFailure(report[1], kStepIds);
            _exit(126);
        }
        execve(executable.c_str(), argv.data(), envp.data());
        writeFailure(report[1], kStepExec);
        _exit(127);
    }
    ::close(report[1]);
    ::close(output[1]);
    ChildFailure failure {};
    ssize_t got;
    do {
        got = ::read(report[0], &failure, sizeof failure);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    if (got == static_cast<ssize_t>(sizeof failure)) {
        ::close(output[0]);
        waitpid(pid, nullptr, 0);
        *problem = (failure.step == kStepIds
                           ? "unable to take UID " + std::to_string(uid) + " GID " + std::to_string(gid) + ": "
                           : "unable to start \"" + launch.executable + "\": ")
            + std::strerror(failure.error);
        return -1;
    }
    watchOutput(pid, output[0]);
    return pid;
}

void HostPrograms::watchOutput(int hostPid, int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    auto source = FileDescriptorSource::create(fd, FileDescriptorSource::Readable, [this, hostPid](int ready, int) { outputArrived(hostPid, ready); });
    RunLoop::current().addFileDescriptorSource(source, kCommonRunLoopModes);
    // A host pid comes back only after its program was reaped and its output
    // closed; an output still open under it belongs to a descendant.
    if (auto old = outputs_.find(hostPid); old != outputs_.end()) {
        old->second->invalidate();
        ::close(old->second->fileDescriptor());
    }
    outputs_[hostPid] = std::move(source);
}

void HostPrograms::outputArrived(int hostPid, int fd)
{
    char buffer[16384];
    // A program that writes without end gets a bounded share of each pass.
    for (int reads = 0; reads < 16; ++reads) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            std::fwrite(buffer, 1, static_cast<std::size_t>(got), stdout);
            std::fflush(stdout);
            if (output_)
                output_(hostPid, std::string_view(buffer, static_cast<std::size_t>(got)));
            continue;
        }
        if (got < 0 && (errno == EINTR))
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // The end of its output: every writer closed it.
        auto it = outputs_.find(hostPid);
        if (it != outputs_.end() && it->second->fileDescriptor() == fd) {
            it->second->invalidate();
            outputs_.erase(it);
        }
        ::close(fd);
        if (output_)
            output_(hostPid, {});
        return;
    }
}

void HostPrograms::terminate(int hostPid)
{
    // Each program leads a process group of its own: what it started ends
    // with it. One that detached into a process of its own is told alone.
    if (hostPid > 0 && ::kill(-hostPid, SIGTERM) != 0)
        ::kill(hostPid, SIGTERM);
}

void HostPrograms::signalsArrived()
{
    signalfd_siginfo info;
    int stopSignal = 0;
    while (::read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo == SIGTERM || info.ssi_signo == SIGINT)
            stopSignal = static_cast<int>(info.ssi_signo);
    }
    // Several ends may come as one SIGCHLD: reap until nothing is left.
    reap();
    if (stopSignal && stop_)
        stop_(stopSignal);
}

void HostPrograms::reap()
{
    int status = 0;
    pid_t pid;
    while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
        if (ended_)
            ended_(pid, status);
    }
}

std::vector<int> HostPrograms::descendants()
{
    std::map<int, int> parents;
    if (DIR* proc = opendir("/proc")) {
        while (dirent* entry = readdir(proc)) {
            char* end = nullptr;
            long pid = std::strtol(entry->d_name, &end, 10);
            if (pid <= 0 || *end)
                continue;
            const std::string text = procStatOf(entry->d_name);
            // "pid (command) state ppid ...": the command may hold anything,
            // so the fields are read after its last ')'.
            std::size_t close = text.rfind(')');
            if (close == std::string::npos)
                continue;
            std::istringstream fields(text.substr(close + 1));
            std::string state;
            int ppid = 0;
            if (fields >> state >> ppid)
                parents[static_cast<int>(pid)] = ppid;
        }
        closedir(proc);
    }
    const int self = ::getpid();
    std::vector<int> out;
    for (const auto& [pid, ppid] : parents) {
        int ancestor = ppid;
        for (int depth = 0; ancestor > 1 && depth < 64; ++depth) {
            if (ancestor == self) {
                out.push_back(pid);
                break;
            }
            auto it = parents.find(ancestor);
            ancestor = it == parents.end() ? 0 : it->second;
        }
    }
    return out;
}

void HostPrograms::endAll(double graceSeconds)
{
    using Clock = std::chrono::steady_clock;
    // Each descendant is signalled once per round, when first seen: one
    // that forks while it ends is caught at the next look.
    auto until = [&](double seconds, int signal) {
        const auto limit = Clock::now() + std::chrono::duration<double>(seconds);
        std::set<int> signalled;
        for (;;) {
            std::vector<int> left = descendants();
            reap();
            if (left.empty())
                return true;
            for (int pid : left) {
                if (signalled.insert(pid).second)
                    ::kill(pid, signal);
            }
            if (Clock::now() >= limit)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    };
    if (!until(graceSeconds, SIGTERM))
        until(graceSeconds, SIGKILL);
    reap();
}
