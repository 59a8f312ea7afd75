// HostPrograms: the real processes behind the machine's processes.
//
// The service starts each program with fork and exec, in a process group of
// its own, standard input from the null device, the working folder at the
// disk root, and an environment that leads it to this machine:
// ARVEL_BUS_ADDRESS, ARVEL_ROOT (the disk root), ARVEL_MACHINE (the
// service's bus name) and ARVEL_MACHINE_PID (its machine process). When the
// service is root, the program takes the user's real group and user ids
// before exec; otherwise it runs with the service's and asks the service
// who it is (MachineLinkService: program.identity). A program
// that cannot be started (missing, not executable, refused its ids) is
// reported by start() itself, never as a process that ends at once.
//
// The service is a child subreaper: a program that detaches (daemon()) and
// every other descendant falls back to it when its parent ends, so each end
// is reaped here. The news comes from the run loop: SIGCHLD, SIGTERM and
// SIGINT are blocked and read from a signal descriptor, which is a source
// of the run loop; nothing runs on a thread or in a signal handler.
//
// endAll() is the service's last act: every descendant gets SIGTERM, those
// still running after the grace period SIGKILL, and all are reaped, so the
// service leaves no process behind.
//
// A program's standard output and error are one pipe the run loop reads:
// what it writes is copied to the service's output, as if it wrote there,
// and handed to the output handler, so that the machine keeps each
// program's console.
#pragma once

#include "service/ProgramStarter.h"

#include <functional>
#include <map>
#include <string_view>
#include <memory>

class FileDescriptorSource;

class HostPrograms final : public ProgramStarter {
public:
    using EndedHandler = std::function<void(int hostPid, int status)>;   // status as waitpid gives it
    using StopHandler = std::function<void(int signal)>;
    // What a program wrote to its standard output or error; empty when that
    // output closed.
    using OutputHandler = std::function<void(int hostPid, std::string_view bytes)>;

    // Becomes the subreaper and watches the signals from the current run
    // loop; null with one logged line when the host refuses.
    static std::unique_ptr<HostPrograms> create(std::string machineName, EndedHandler ended, StopHandler stop);
    ~HostPrograms() override;

    int start(const ProgramLaunch& launch, std::string* problem) override;
    void terminate(int hostPid) override;
    bool switchesUsers() const override;

    // Each program's standard output and error come to the service through
    // a pipe: they are copied to the service's own output and handed here.
    void setOutputHandler(OutputHandler output) { output_ = std::move(output); }

    // Ends and reaps every descendant; graceSeconds between SIGTERM and
    // SIGKILL. Each one reaped is told to the ended handler.
    void endAll(double graceSeconds = 2.0) override;
    std::vector<int> running() const override { return descendants(); }

    // The service's descendants on the host (any depth), from /proc.
    static std::vector<int> descendants();

private:
    HostPrograms(std::string machineName, EndedHandler ended, StopHandler stop, int signalFd);
    void signalsArrived();
    void reap();
    void watchOutput(int hostPid, int fd);
    void outputArrived(int hostPid, int fd);

    std::string machineName_;
    EndedHandler ended_;
    StopHandler stop_;
    int signalFd_ = -1;
    std::shared_ptr<FileDescriptorSource> source_;
    OutputHandler output_;
    std::map<int, std::shared_ptr<FileDescriptorSource>> outputs_; // by host pid
};
