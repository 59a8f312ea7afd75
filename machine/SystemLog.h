// The machine's system log: what the programs running on it wrote to
// syslog, in the order it arrived. A program that reaches the machine over
// the bus sends its syslog lines here; `arvel-machine log` prints them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace machine {

class SystemLog {
public:
    struct Line {
        double time = 0;     // seconds since 2001-01-01, as the clock said
        std::string program; // the sender's process name ("arveld")
        int pid = 0;         // the sender's pid on the machine (0: unknown)
        int priority = 5;    // LOG_ERR 3, LOG_NOTICE 5, ...
        std::string message; // trimmed, as the program wrote it
        bool operator==(const Line&) const = default;
    };

    void append(Line line);
    const std::vector<Line>& lines() const { return lines_; }
    // "arveld[12] <Notice>: Daemon started." one per line, oldest first;
    // only the lines after the first `from`.
    std::string describe(std::size_t from = 0) const;
    void reset() { lines_.clear(); }
    // One line as describe() prints it, without the newline.
    static std::string lineText(const Line& line);

    // At most this many lines are kept; older ones go first.
    static constexpr std::size_t kCapacity = 10000;

private:
    std::vector<Line> lines_;
};

std::string priorityName(int priority);

} // namespace machine
