#include "SystemLog.h"

namespace machine {

std::string priorityName(int priority)
{
    static const char* const names[] = {"Emergency", "Alert", "Critical", "Error", "Warning", "Notice", "Info", "Debug"};
    return priority >= 0 && priority <= 7 ? names[priority] : "Priority " + std::to_string(priority);
}

void SystemLog::append(Line line)
{
    if (lines_.size() >= kCapacity)
        lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(lines_.size() - kCapacity + 1));
    lines_.push_back(std::move(line));
}

std::string SystemLog::lineText(const Line& line)
{
    return line.program + "[" + std::to_string(line.pid) + "] <" + priorityName(line.priority) + ">: " + line.message;
}

std::string SystemLog::describe(std::size_t from) const
{
    std::string out;
    for (std::size_t i = from; i < lines_.size(); ++i)
        out += lineText(lines_[i]) + "\n";
    return out;
}

} // namespace machine
