#include "Alerts.h"

#include <algorithm>

namespace machine {

namespace {

std::string oneLine(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += c == '\n' ? std::string("\\n") : c == '"' ? std::string("\\\"") : std::string(1, c);
    return out;
}

} // namespace

std::uint64_t Alerts::show(Alert alert)
{
    alert.id = nextId_++;
    shown_.push_back(std::move(alert));
    return shown_.back().id;
}

bool Alerts::dismiss(std::uint64_t id)
{
    return std::erase_if(shown_, [id](const Alert& alert) { return alert.id == id; }) != 0;
}

bool Alerts::dismissShownIn(std::uint64_t window)
{
    return window && std::erase_if(shown_, [window](const Alert& alert) { return alert.window == window; }) != 0;
}

std::string Alerts::describe() const
{
    if (shown_.empty())
        return "alerts: none\n";
    std::string out;
    for (const Alert& alert : shown_) {
        out += "alert " + std::to_string(alert.id) + (alert.level.empty() ? "" : " (" + alert.level + ")") + " from pid "
            + std::to_string(alert.pid) + ": \"" + oneLine(alert.title) + "\" \"" + oneLine(alert.message) + "\"";
        for (const std::string& button : alert.buttons)
            out += " [" + button + "]";
        out += "\n";
    }
    return out;
}

void Alerts::reset()
{
    shown_.clear();
    nextId_ = 1;
}

} // namespace machine
