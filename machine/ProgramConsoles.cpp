#include "ProgramConsoles.h"

#include <algorithm>

namespace machine {

ProgramConsoles::Writer& ProgramConsoles::writer(int hostPid, int pid, std::string_view name)
{
    for (Writer& w : writers_)
        if (w.hostPid == hostPid && !w.ended)
            return w;
    const auto endedCount = static_cast<std::size_t>(std::count_if(writers_.begin(), writers_.end(), [](const Writer& w) { return w.ended; }));
    if (endedCount >= kEndedKept) {
        auto oldest = std::find_if(writers_.begin(), writers_.end(), [](const Writer& w) { return w.ended; });
        writers_.erase(oldest);
    }
    writers_.push_back(Writer {hostPid, pid, std::string(name), {}, {}, false});
    return writers_.back();
}

void ProgramConsoles::keep(Writer& writer, std::string line)
{
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.size() > kLineLength)
        line.resize(kLineLength);
    writer.lines.push_back(std::move(line));
    if (writer.lines.size() > kLinesPerProgram)
        writer.lines.pop_front();
}

void ProgramConsoles::wrote(int hostPid, int pid, std::string_view name, std::string_view bytes)
{
    Writer& w = writer(hostPid, pid, name);
    while (!bytes.empty()) {
        std::size_t end = bytes.find('\n');
        std::string_view piece = bytes.substr(0, end);
        // A line that never ends is cut where it reaches the length kept.
        std::size_t room = kLineLength + 1 > w.partial.size() ? kLineLength + 1 - w.partial.size() : 0;
        w.partial.append(piece.substr(0, room));
        if (end == std::string_view::npos)
            return;
        keep(w, std::move(w.partial));
        w.partial.clear();
        bytes.remove_prefix(end + 1);
    }
}

void ProgramConsoles::closed(int hostPid)
{
    for (Writer& w : writers_) {
        if (w.hostPid != hostPid || w.ended)
            continue;
        if (!w.partial.empty())
            keep(w, std::move(w.partial));
        w.partial.clear();
        w.ended = true;
    }
}

} // namespace machine
