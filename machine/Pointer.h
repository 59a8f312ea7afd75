// The pointer and the mouse buttons.
//
// The position is in screen coordinates (link/MachineValues.h). Programs move the
// pointer only by warping it; each warp is recorded, so a test can tell
// "the pointer was not moved" from "it was moved to where it already was".
#pragma once

#include "link/MachineValues.h"

#include <cstdint>
#include <vector>

namespace machine {

class Pointer {
public:
    ScreenPoint position() const { return position_; }
    // The user moves the pointer (no warp).
    void moveTo(ScreenPoint point) { position_ = point; }
    // Buttons are numbered from 0 (the primary button).
    void press(int button = 0) { buttons_ |= 1u << button; }
    void release(int button = 0) { buttons_ &= ~(1u << button); }
    // Bit n set: button n is held.
    std::uint32_t buttonState() const { return buttons_; }

    // What programs do.
    void warp(ScreenPoint point);
    const std::vector<ScreenPoint>& warps() const { return warps_; }
    double localEventsSuppressionInterval() const { return suppression_; }
    void setLocalEventsSuppressionInterval(double seconds) { suppression_ = seconds; }

    // At (0, 0), no button held, nothing warped, suppression 0.25 s.
    void reset();

private:
    ScreenPoint position_;
    std::uint32_t buttons_ = 0;
    std::vector<ScreenPoint> warps_;
    double suppression_ = 0.25;
};

} // namespace machine
