// Screen geometry in the global coordinates of the accessibility interface:
// origin at the top left of the main screen, y growing downwards.
#pragma once

namespace machine {

struct ScreenPoint {
    double x = 0;
    double y = 0;
    bool operator==(const ScreenPoint&) const = default;
};

struct ScreenSize {
    double width = 0;
    double height = 0;
    bool operator==(const ScreenSize&) const = default;
};

} // namespace machine
