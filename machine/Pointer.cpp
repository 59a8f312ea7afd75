#include "Pointer.h"

namespace machine {

void Pointer::warp(ScreenPoint point)
{
    position_ = point;
    warps_.push_back(point);
}

void Pointer::reset()
{
    position_ = {};
    buttons_ = 0;
    warps_.clear();
    suppression_ = 0.25;
}

} // namespace machine
