// What the real programs the machine started wrote to their standard output
// and error, line by line, kept per program so that an operator can read an
// agent's console without the service's own output (arvel-machine show
// console PROGRAM). A program may write without end: each keeps only its last
// lines, a line is cut at a length, and the programs that ended longest ago
// are forgotten first.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

namespace machine {

class ProgramConsoles {
public:
    struct Writer {
        int hostPid = 0;       // the real process behind it
        int pid = 0;           // the machine's pid
        std::string name;      // the process name, as show processes lists it
        std::deque<std::string> lines;
        std::string partial;   // a line not yet ended
        bool ended = false;
    };

    static constexpr std::size_t kLinesPerProgram = 500;
    static constexpr std::size_t kLineLength = 1024;
    static constexpr std::size_t kEndedKept = 32;

    // Bytes as the program wrote them; whole lines are kept, the rest waits.
    // The program is named when its output begins; what comes after it
    // ended is still its own.
    void wrote(int hostPid, int pid, std::string_view name, std::string_view bytes);
    // Its output closed (it ended): an unfinished line is kept as a line.
    void closed(int hostPid);
    const std::deque<Writer>& writers() const { return writers_; }
    void reset() { writers_.clear(); }

private:
    Writer& writer(int hostPid, int pid, std::string_view name);
    static void keep(Writer& writer, std::string line);

    std::deque<Writer> writers_;
};

} // namespace machine
