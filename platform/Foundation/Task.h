// NSTask with an NSPipe: child programs of the machine.
//
// The machine runs the programs it knows, each for a tenth of a second of
// the clock: "/bin/ps" prints the machine's process listing
// (Processes::processListing) into its standard output pipe at launch;
// "/usr/bin/open" opens what its arguments name as the program's user, in
// its login session (machine/ApplicationOpener.h), writes its lines to its
// standard output pipe when it has one, and ends with open's exit status.
// Any other launch path is not accessible. What the original raises on a
// bad launch is handed back as the exception instead: nothing is thrown.
#pragma once

#include "Foundation/Value.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

struct NSException {
    std::string name;
    std::string reason;
};

// The reading end of a pipe.
class NSFileHandle {
public:
    // What has been written and not read yet (empty when nothing is there).
    Value::Bytes availableData();
    Value::Bytes readDataToEndOfFile() { return availableData(); }

private:
    friend class NSTask;
    Value::Bytes buffer_;
};

class NSPipe {
public:
    static std::shared_ptr<NSPipe> pipe() { return std::make_shared<NSPipe>(); }
    NSFileHandle& fileHandleForReading() { return reading_; }

private:
    friend class NSTask;
    NSFileHandle reading_;
};

class NSTask {
public:
    // A task launched at once (launchedTaskWithLaunchPath:arguments:); the
    // exception, if any, in *failure.
    static std::shared_ptr<NSTask> launchedTaskWithLaunchPathArguments(std::string path, std::vector<std::string> arguments,
        std::optional<NSException>* failure = nullptr)
    {
        auto task = std::make_shared<NSTask>();
        task->setLaunchPath(std::move(path));
        task->setArguments(std::move(arguments));
        auto raised = task->launch();
        if (failure)
            *failure = std::move(raised);
        return task;
    }

    void setLaunchPath(std::string path) { launchPath_ = std::move(path); }
    void setArguments(std::vector<std::string> arguments) { arguments_ = std::move(arguments); }
    void setStandardOutput(std::shared_ptr<NSPipe> pipe) { standardOutput_ = std::move(pipe); }

    // Nothing on success; otherwise the exception the original would raise
    // ("NSInvalidArgumentException", or a failure injected as
    // "NSTask.launch" with the same name), and the task never runs.
    std::optional<NSException> launch();
    bool isRunning() const;
    int terminationStatus() const { return status_; }

private:
    std::string launchPath_;
    std::vector<std::string> arguments_;
    std::shared_ptr<NSPipe> standardOutput_;
    bool launched_ = false;
    double endDate_ = 0;
    int status_ = 0;
};
