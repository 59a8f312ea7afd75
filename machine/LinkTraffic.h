// What crossed the machine link over the bus: the calls the machine served
// and the news it sent, counted by operation and by kind of news, so that
// an operator can see what a step of the system cost (arvel-machine
// show link) and a benchmark can count it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace machine {

class LinkTraffic {
public:
    void noteCall(std::string_view operation) { ++calls_[std::string(operation)]; }
    void noteNews(std::string_view kind) { ++news_[std::string(kind)]; }
    std::uint64_t calls() const;
    std::uint64_t news() const;
    // "N calls served, M news sent", then one line per operation and kind.
    std::string describe() const;
    void reset();

private:
    std::map<std::string, std::uint64_t, std::less<>> calls_;
    std::map<std::string, std::uint64_t, std::less<>> news_;
};

} // namespace machine
