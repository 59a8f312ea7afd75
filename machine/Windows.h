// The windows that the machine's GUI programs show: each window, sheet,
// panel and alert with its title, its message and its buttons, as the
// programs report them (the pane's host, later the installer). The
// operator sees them ("show windows") and presses a button by its title,
// as the person at the console would: the press goes to the program that
// showed the window, through the listener it registered, and the program
// clicks its own button.
//
// The operator also works a window's other controls as that person would
// (click a check box, choose a pop-up item, drag a slider): the machine
// does not know a program's controls, so such a request goes to the
// program as it is, numbered, and the program answers what came of it
// ("done", or why not), which the operator reads back by that number.
//
// What a program reports is bounded: titles, messages and button lists are
// cut to a fixed size, and a process keeps at most kMaxWindowsPerProcess on
// the screen; anything past that is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace machine {

struct ScreenButton {
    std::string title;
    bool enabled = true;
    bool operator==(const ScreenButton&) const = default;
};

struct ScreenWindow {
    std::uint64_t id = 0;       // given by open(); never reused
    int pid = 0;                // the machine process that shows it
    std::string kind;           // "window", "sheet", "panel" or "alert"
    std::uint64_t parent = 0;   // the window a sheet or alert sits on (0: none)
    std::string title;
    std::string message;        // an alert's message; empty otherwise
    std::vector<ScreenButton> buttons;
    std::uint64_t listener = 0; // where presses go (0: nowhere)
};

class Windows {
public:
    static constexpr std::size_t kMaxWindowsPerProcess = 64;
    static constexpr std::size_t kMaxTextLength = 1024;
    static constexpr std::size_t kMaxButtons = 32;

    static constexpr std::size_t kMaxAnswersKept = 64;

    // Told the window, the operation ("press" a button by its title;
    // "click", "choose", "slide" a control by its name or title), the
    // control, the value (the item, the slider's value) and the request's
    // number (0 for a press).
    using PressDelivery = std::function<void(
        std::uint64_t window, const std::string& operation, const std::string& control, const std::string& value, std::uint64_t serial)>;
    std::uint64_t addPressListener(PressDelivery delivery);
    void removePressListener(std::uint64_t listener);
    bool hasPressListener(std::uint64_t listener) const { return listeners_.count(listener) != 0; }

    // Puts a window on the screen (its id; 0 when the process shows too
    // many already or the kind is unknown).
    std::uint64_t open(ScreenWindow window);
    // New title, message and buttons for a shown window; false when gone.
    bool update(std::uint64_t id, std::string title, std::string message, std::vector<ScreenButton> buttons);
    bool close(std::uint64_t id);
    // Every window of a process goes (it ended).
    void closeAllOf(int pid);

    enum class PressResult { Pressed, NoWindow, NoButton, Disabled, NobodyListens };
    PressResult press(std::uint64_t id, const std::string& button);
    // Sends an operation on a control; its number, or 0 with *result saying
    // why not (NoWindow, NobodyListens).
    std::uint64_t operate(std::uint64_t id, const std::string& operation, const std::string& control, const std::string& value,
        PressResult* result);
    // The program's answer to a request it was sent (false: no such request
    // pending); and the answer kept, nullopt while none came.
    bool answer(std::uint64_t serial, int pid, std::string outcome);
    std::optional<std::string> answerTo(std::uint64_t serial) const;
    bool isPending(std::uint64_t serial) const { return pending_.count(serial) != 0; }

    const ScreenWindow* window(std::uint64_t id) const;
    const std::vector<ScreenWindow>& shown() const { return shown_; }

    // "windows: none", or one line per window, sheets and alerts under the
    // window they sit on:
    // window 3 of pid 7: "Arvel"
    //   alert 4 on window 3: "Title" "Message" [OK]
    // processName names each pid.
    std::string describe(const std::function<std::string(int pid)>& processName) const;

    void reset();

private:
    static std::string bounded(std::string text);
    std::string describeOne(const ScreenWindow& window, const std::function<std::string(int)>& processName, int depth) const;

    std::vector<ScreenWindow> shown_;
    std::map<std::uint64_t, PressDelivery> listeners_;
    std::map<std::uint64_t, int> pending_;             // request -> the pid asked
    std::map<std::uint64_t, std::string> answers_;     // the last kMaxAnswersKept
    std::uint64_t nextSerial_ = 1;
    std::uint64_t nextId_ = 1;
    std::uint64_t nextListener_ = 1;
};

} // namespace machine
