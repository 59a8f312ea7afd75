#include "Accessibility/AXValue.h"

AXValueRef AXValueCreate(AXValueType type, const void* valuePtr)
{
    if (!valuePtr)
        return nullptr;
    if (type == kAXValueCGPointType)
        return std::make_shared<AXValue>(type, *static_cast<const CGPoint*>(valuePtr), CGSize {});
    if (type == kAXValueCGSizeType)
        return std::make_shared<AXValue>(type, CGPoint {}, *static_cast<const CGSize*>(valuePtr));
    return nullptr;
}

AXValueType AXValueGetType(const AXValueRef& value)
{
    return value ? value->type() : kAXValueIllegalType;
}

Boolean AXValueGetValue(const AXValueRef& value, AXValueType type, void* valuePtr)
{
    if (!value || !valuePtr || value->type() != type)
        return false;
    if (type == kAXValueCGPointType) {
        *static_cast<CGPoint*>(valuePtr) = value->point();
        return true;
    }
    if (type == kAXValueCGSizeType) {
        *static_cast<CGSize*>(valuePtr) = value->size();
        return true;
    }
    return false;
}
