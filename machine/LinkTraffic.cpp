#include "LinkTraffic.h"

namespace machine {

namespace {

std::uint64_t total(const std::map<std::string, std::uint64_t, std::less<>>& counts)
{
    std::uint64_t sum = 0;
    for (const auto& [name, count] : counts)
        sum += count;
    return sum;
}

} // namespace

std::uint64_t LinkTraffic::calls() const
{
    return total(calls_);
}

std::uint64_t LinkTraffic::news() const
{
    return total(news_);
}

std::string LinkTraffic::describe() const
{
    std::string out = std::to_string(calls()) + " calls served, " + std::to_string(news()) + " news sent\n";
    for (const auto& [name, count] : calls_)
        out += "  call " + name + " " + std::to_string(count) + "\n";
    for (const auto& [kind, count] : news_)
        out += "  news " + kind + " " + std::to_string(count) + "\n";
    return out;
}

void LinkTraffic::reset()
{
    calls_.clear();
    news_.clear();
}

} // namespace machine
