#include "Foundation/Task.h"

#include "RunLoop/Clock.h"
#include "MachineLink/MachineLink.h"

namespace {
// How long a program of the machine runs, on the clock.
constexpr double kRunDuration = 0.1;
} // namespace

Value::Bytes NSFileHandle::availableData()
{
    Value::Bytes out;
    out.swap(buffer_);
    return out;
}

std::optional<NSException> NSTask::launch()
{
    if (launched_)
        return NSException {"NSInvalidArgumentException", "task already launched"};
    auto& m = MachineLink::shared();
    if (m.take("NSTask.launch"))
        return NSException {"NSInvalidArgumentException", "launch path not accessible"};
    if (launchPath_ != "/bin/ps") {
        // Programs the machine runs for the caller, such as /usr/bin/open.
        if (!m.call(ops::launchTask, m.program().pid, launchPath_, arguments_))
            return NSException {"NSInvalidArgumentException", "launch path not accessible"};
        launched_ = true;
        endDate_ = currentDate();
        status_ = 0;
        return std::nullopt;
    }
    launched_ = true;
    endDate_ = currentDate() + kRunDuration;
    std::string output = m.call(ops::processListing);
    if (standardOutput_)
        standardOutput_->reading_.buffer_.insert(standardOutput_->reading_.buffer_.end(), output.begin(), output.end());
    status_ = 0;
    return std::nullopt;
}

bool NSTask::isRunning() const
{
    return launched_ && currentDate() < endDate_;
}
