#include "CoreGraphics/CGRemoteOperation.h"

#include "MachineLink/MachineLink.h"

CGError CGSetLocalEventsSuppressionInterval(CFTimeInterval seconds)
{
    auto& m = MachineLink::shared();
    if (int r = m.take("CGSetLocalEventsSuppressionInterval"))
        return r;
    if (!(seconds >= 0))
        return kCGErrorIllegalArgument;
    m.call(ops::setLocalEventsSuppressionInterval, seconds);
    return kCGErrorSuccess;
}

CGError CGWarpMouseCursorPosition(CGPoint newCursorPosition)
{
    auto& m = MachineLink::shared();
    if (int r = m.take("CGWarpMouseCursorPosition"))
        return r;
    m.call(ops::warp, newCursorPosition.x, newCursorPosition.y);
    return kCGErrorSuccess;
}
