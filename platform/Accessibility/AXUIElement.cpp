#include "Accessibility/AXUIElement.h"

#include "MachineLink/MachineLink.h"

AXUIElementRef CFTypeRef::element() const
{
    auto* e = std::get_if<AXUIElementRef>(&storage_);
    return e ? *e : nullptr;
}

AXValueRef CFTypeRef::axValue() const
{
    auto* v = std::get_if<AXValueRef>(&storage_);
    return v ? *v : nullptr;
}

Boolean AXAPIEnabled()
{
    return MachineLink::shared().call(ops::accessibilityEnabled);
}

AXUIElementRef AXUIElementCreateApplication(pid_t pid)
{
    if (MachineLink::shared().take("AXUIElementCreateApplication"))
        return nullptr;
    return std::make_shared<AXUIElement>(pid, 0);
}

namespace {

CFTypeRef platformValue(const MachineLink::Attribute& attribute)
{
    if (auto* v = std::get_if<Value>(&attribute))
        return CFTypeRef(*v);
    if (auto* e = std::get_if<MachineLink::Element>(&attribute))
        return CFTypeRef(std::make_shared<AXUIElement>(e->pid, e->element));
    if (auto* p = std::get_if<MachineLink::Point>(&attribute)) {
        CGPoint point {static_cast<CGFloat>(p->x), static_cast<CGFloat>(p->y)};
        return CFTypeRef(AXValueCreate(kAXValueCGPointType, &point));
    }
    const auto& s = std::get<MachineLink::Size>(attribute);
    CGSize size {static_cast<CGFloat>(s.width), static_cast<CGFloat>(s.height)};
    return CFTypeRef(AXValueCreate(kAXValueCGSizeType, &size));
}

} // namespace

AXError AXUIElementCopyAttributeValue(const AXUIElementRef& element, const std::string& attribute, CFTypeRef* value)
{
    if (!element || !value)
        return kAXErrorIllegalArgument;
    auto& m = MachineLink::shared();
    if (int r = m.take("AXUIElementCopyAttributeValue:" + attribute))
        return r;
    auto [r, read] = m.call(ops::copyAttribute, element->pid(), element->element(), attribute);
    if (r != kAXErrorSuccess)
        return r;
    *value = platformValue(read);
    return kAXErrorSuccess;
}

AXError AXUIElementGetPid(const AXUIElementRef& element, pid_t* pid)
{
    if (!element || !pid)
        return kAXErrorIllegalArgument;
    if (int r = MachineLink::shared().take("AXUIElementGetPid"))
        return r;
    *pid = element->pid();
    return kAXErrorSuccess;
}

Boolean CFEqual(const AXUIElementRef& a, const AXUIElementRef& b)
{
    return a && b && a->pid() == b->pid() && a->element() == b->element();
}
