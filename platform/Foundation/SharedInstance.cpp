#include "Foundation/SharedInstance.h"

#include "Log/Log.h"

#include <algorithm>
#include <vector>

namespace {

// The classes that hold an instance, oldest first; each once.
std::vector<void (*)()>& madeInstances()
{
    static std::vector<void (*)()> made;
    return made;
}

} // namespace

void releaseSharedInstances()
{
    auto& made = madeInstances();
    // One at a time from the end: an instance's going may make or let go
    // of another.
    while (!made.empty()) {
        void (*release)() = made.back();
        made.pop_back();
        release();
    }
}

namespace shared_instance_detail {

void noteMade(void (*release)())
{
    auto& made = madeInstances();
    std::erase(made, release);
    made.push_back(release);
}

void logFailure(const char* failureLine)
{
    logError(failureLine);
}

std::string_view classNameOf(std::string_view failureLine)
{
    return failureLine.substr(0, failureLine.find(" error: "));
}

} // namespace shared_instance_detail
