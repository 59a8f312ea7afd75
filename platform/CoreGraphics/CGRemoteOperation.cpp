#include "CoreGraphics/CGRemoteOperation.h"

#include "machine/Machine.h"

CGError CGSetLocalEventsSuppressionInterval(CFTimeInterval seconds)
{
    auto& m = machine::Machine::shared();
    if (int r = m.failures().take("CGSetLocalEventsSuppressionInterval"))
        return r;
    if (!(seconds >= 0))
        return kCGErrorIllegalArgument;
    m.pointer().setLocalEventsSuppressionInterval(seconds);
    return kCGErrorSuccess;
}

CGError CGWarpMouseCursorPosition(CGPoint newCursorPosition)
{
    auto& m = machine::Machine::shared();
    if (int r = m.failures().take("CGWarpMouseCursorPosition"))
        return r;
    m.pointer().warp({newCursorPosition.x, newCursorPosition.y});
    return kCGErrorSuccess;
}
