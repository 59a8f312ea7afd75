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

// Where the machine's presses go: the window's id and the button's title.
// Set once; presses arrive from the run loop.
void setPressHandler(std::function<void(std::uint64_t window, const std::string& button)> handler);
// A window shown: its id on the machine's screen, 0 when refused.
std::uint64_t open(const std::string& kind, std::uint64_t parent, const std::string& title, const std::string& message,
    const std::vector<ScreenButtonState>& buttons);
void update(std::uint64_t window, const std::string& title, const std::string& message, const std::vector<ScreenButtonState>& buttons);
void close(std::uint64_t window);
// Ends the press handler's registration.
void stopPresses();

} // namespace ScreenWindows
