#include "CoreGraphics/CGRemoteOperation.h"

#include "MachineLink/MachineLink.h"

CGError CGSetLocalEventsSuppressionInterval(CFTimeInterval seconds)
{
    auto& m = MachineLink::shared();
    if (int r = m.take("CGSetLocalEventsSuppressionInterval"))
        return r;
    if (!(seconds >= 0))
        return kCGErrorIllegalArgument;
    m.setLocalEventsSuppressionInterval(seconds);
    return kCGErrorSuccess;
}

CGError CGWarpMouseCursorPosition(CGPoint newCursorPosition)
{
    auto& m = MachineLink::shared();
    if (int r = m.take("CGWarpMouseCursorPosition"))
        return r;
    m.warp(newCursorPosition.x, newCursorPosition.y);
    return kCGErrorSuccess;
}
