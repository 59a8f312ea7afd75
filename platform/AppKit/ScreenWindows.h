// ScreenWindows: what a program with windows tells the machine of them,
// and the presses the machine passes back (the GUI layer's WindowReporter
// speaks through it; it needs no toolkit).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct ScreenButtonState {
    std::string title;
    bool enabled = true;
};

namespace ScreenWindows {

// Where the machine's presses go: the window's id, the operation ("press"
// a button by its title; "click", "choose", "slide" a control), the
// control, the value and the request's number (0 for a press). Set once;
// presses arrive from the run loop.
using PressHandler = std::function<void(
    std::uint64_t window, const std::string& operation, const std::string& control, const std::string& value, std::uint64_t serial)>;
void setPressHandler(PressHandler handler);
// What came of a numbered request: "done", or why not.
void answer(std::uint64_t serial, const std::string& outcome);
// A window shown: its id on the machine's screen, 0 when refused.
std::uint64_t open(const std::string& kind, std::uint64_t parent, const std::string& title, const std::string& message,
    const std::vector<ScreenButtonState>& buttons);
void update(std::uint64_t window, const std::string& title, const std::string& message, const std::vector<ScreenButtonState>& buttons);
void close(std::uint64_t window);
// Ends the press handler's registration.
void stopPresses();

} // namespace ScreenWindows
