#include "Windows.h"

#include <algorithm>

namespace machine {

namespace {

bool knownKind(const std::string& kind)
{
    return kind == "window" || kind == "sheet" || kind == "panel" || kind == "alert" || kind == "authorization";
}

// One line per window whatever the message holds.
std::string oneLine(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '"')
            out += "\\\"";
        else
            out += c;
    }
    return out;
}

} // namespace

std::string Windows::bounded(std::string text)
{
    if (text.size() > kMaxTextLength)
        text.resize(kMaxTextLength);
    return text;
}

std::uint64_t Windows::addPressListener(PressDelivery delivery)
{
    std::uint64_t id = nextListener_++;
    listeners_[id] = std::move(delivery);
    return id;
}

void Windows::removePressListener(std::uint64_t listener)
{
    listeners_.erase(listener);
}

std::uint64_t Windows::open(ScreenWindow window)
{
    if (!knownKind(window.kind))
        return 0;
    auto count = std::count_if(shown_.begin(), shown_.end(), [&](const ScreenWindow& w) { return w.pid == window.pid; });
    if (static_cast<std::size_t>(count) >= kMaxWindowsPerProcess)
        return 0;
    window.id = nextId_++;
    window.title = bounded(std::move(window.title));
    window.message = bounded(std::move(window.message));
    if (window.buttons.size() > kMaxButtons)
        window.buttons.resize(kMaxButtons);
    for (auto& button : window.buttons)
        button.title = bounded(std::move(button.title));
    shown_.push_back(std::move(window));
    return shown_.back().id;
}

bool Windows::update(std::uint64_t id, std::string title, std::string message, std::vector<ScreenButton> buttons)
{
    auto it = std::find_if(shown_.begin(), shown_.end(), [id](const ScreenWindow& w) { return w.id == id; });
    if (it == shown_.end())
        return false;
    it->title = bounded(std::move(title));
    it->message = bounded(std::move(message));
    if (buttons.size() > kMaxButtons)
        buttons.resize(kMaxButtons);
    for (auto& button : buttons)
        button.title = bounded(std::move(button.title));
    it->buttons = std::move(buttons);
    return true;
}

bool Windows::close(std::uint64_t id)
{
    return std::erase_if(shown_, [id](const ScreenWindow& w) { return w.id == id; }) != 0;
}

void Windows::closeAllOf(int pid)
{
    std::erase_if(shown_, [pid](const ScreenWindow& w) { return w.pid == pid; });
}

Windows::PressResult Windows::press(std::uint64_t id, const std::string& button)
{
    const ScreenWindow* shown = window(id);
    if (!shown)
        return PressResult::NoWindow;
    auto found = std::find_if(shown->buttons.begin(), shown->buttons.end(), [&](const ScreenButton& b) { return b.title == button; });
    if (found == shown->buttons.end())
        return PressResult::NoButton;
    if (!found->enabled)
        return PressResult::Disabled;
    auto listener = listeners_.find(shown->listener);
    if (listener == listeners_.end())
        return PressResult::NobodyListens;
    // A copy: the program may close the window, or end its listener, in answer.
    PressDelivery deliver = listener->second;
    deliver(id, "press", button, "", 0);
    return PressResult::Pressed;
}

std::uint64_t Windows::operate(
    std::uint64_t id, const std::string& operation, const std::string& control, const std::string& value, PressResult* result)
{
    const ScreenWindow* shown = window(id);
    auto listener = shown ? listeners_.find(shown->listener) : listeners_.end();
    if (!shown || listener == listeners_.end()) {
        *result = shown ? PressResult::NobodyListens : PressResult::NoWindow;
        return 0;
    }
    // A program that never answers leaves as many requests as the operator
    // sent; the oldest are forgotten.
    while (pending_.size() >= kMaxAnswersKept)
        pending_.erase(pending_.begin());
    const std::uint64_t serial = nextSerial_++;
    pending_[serial] = shown->pid;
    PressDelivery deliver = listener->second;
    *result = PressResult::Pressed;
    deliver(id, operation, bounded(control), bounded(value), serial);
    return serial;
}

bool Windows::answer(std::uint64_t serial, int pid, std::string outcome)
{
    auto it = pending_.find(serial);
    if (it == pending_.end() || it->second != pid)
        return false;
    pending_.erase(it);
    answers_[serial] = bounded(std::move(outcome));
    while (answers_.size() > kMaxAnswersKept)
        answers_.erase(answers_.begin());
    return true;
}

std::optional<std::string> Windows::answerTo(std::uint64_t serial) const
{
    auto it = answers_.find(serial);
    return it == answers_.end() ? std::nullopt : std::optional<std::string>(it->second);
}

const ScreenWindow* Windows::window(std::uint64_t id) const
{
    auto it = std::find_if(shown_.begin(), shown_.end(), [id](const ScreenWindow& w) { return w.id == id; });
    return it == shown_.end() ? nullptr : &*it;
}

std::string Windows::describeOne(const ScreenWindow& w, const std::function<std::string(int)>& processName, int depth) const
{
    std::string out(static_cast<std::size_t>(depth) * 2, ' ');
    out += w.kind + " " + std::to_string(w.id);
    if (w.parent && window(w.parent))
        out += " on window " + std::to_string(w.parent);
    else
        out += " of " + processName(w.pid);
    out += ": \"" + oneLine(w.title) + "\"";
    if (!w.message.empty())
        out += " \"" + oneLine(w.message) + "\"";
    for (const ScreenButton& button : w.buttons)
        out += " [" + button.title + (button.enabled ? "" : " (disabled)") + "]";
    out += "\n";
    for (const ScreenWindow& child : shown_) {
        if (child.parent == w.id && depth < 8)
            out += describeOne(child, processName, depth + 1);
    }
    return out;
}

std::string Windows::describe(const std::function<std::string(int)>& processName) const
{
    if (shown_.empty())
        return "windows: none\n";
    std::string out;
    for (const ScreenWindow& w : shown_) {
        if (!w.parent || !window(w.parent))
            out += describeOne(w, processName, 0);
    }
    return out;
}

void Windows::reset()
{
    shown_.clear();
    listeners_.clear();
    nextId_ = 1;
    nextListener_ = 1;
}

} // namespace machine
