// Core Graphics geometry: single-precision points and sizes, in the global
// screen coordinates of the accessibility interface (origin top left).
#pragma once

using CGFloat = float;

struct CGPoint {
    CGFloat x = 0;
    CGFloat y = 0;
};

struct CGSize {
    CGFloat width = 0;
    CGFloat height = 0;
};

using CGError = int;
inline constexpr CGError kCGErrorSuccess = 0;
inline constexpr CGError kCGErrorFailure = 1000;
inline constexpr CGError kCGErrorIllegalArgument = 1001;
