// The Core Graphics pointer calls, under their own names, over the
// machine's pointer. A warp moves the pointer without posting any mouse
// event.
#pragma once

#include "CoreGraphics/CGGeometry.h"

using CFTimeInterval = double;

// A failure injected as "CGSetLocalEventsSuppressionInterval" or
// "CGWarpMouseCursorPosition" is answered (and nothing changes).
CGError CGSetLocalEventsSuppressionInterval(CFTimeInterval seconds);
CGError CGWarpMouseCursorPosition(CGPoint newCursorPosition);
