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
    std::string output;
    if (launchPath_ == "/bin/ps") {
        output = m.call(ops::processListing);
        status_ = 0;
    } else if (launchPath_ == "/usr/bin/open") {
        if (arguments_.size() > machine::kMaxOpenArguments)
            return NSException {"NSInvalidArgumentException", "too many arguments"};
        auto ran = m.call(ops::runOpen, machine::OpenArguments(arguments_));
        output = ran.value;
        status_ = ran.code;
    } else {
        return NSException {"NSInvalidArgumentException", "launch path not accessible"};
    }
    launched_ = true;
    endDate_ = currentDate() + kRunDuration;
    if (standardOutput_)
        standardOutput_->reading_.buffer_.insert(standardOutput_->reading_.buffer_.end(), output.begin(), output.end());
    return std::nullopt;
}

bool NSTask::isRunning() const
{
    return launched_ && currentDate() < endDate_;
}
