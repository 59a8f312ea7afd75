#include "Failures.h"

namespace machine {

void Failures::failNext(const std::string& operation, int result, int times)
{
    if (times == 0)
        pending_.erase(operation);
    else
        pending_[operation] = Pending {result, times};
}

int Failures::take(const std::string& operation)
{
    auto it = pending_.find(operation);
    if (it == pending_.end())
        return 0;
    int result = it->second.result;
    if (it->second.times > 0 && --it->second.times == 0)
        pending_.erase(it);
    return result;
}

int Failures::take(const std::string& operation, const std::string& qualifier)
{
    if (int result = take(operation + ":" + qualifier))
        return result;
    return take(operation);
}

} // namespace machine
