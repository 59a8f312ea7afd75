#include "Accessibility/AXUIElement.h"

#include "machine/Machine.h"

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
    return machine::Machine::shared().accessibility().enabled();
}

AXUIElementRef AXUIElementCreateApplication(pid_t pid)
{
    if (machine::Machine::shared().failures().take("AXUIElementCreateApplication"))
        return nullptr;
    return std::make_shared<AXUIElement>(pid, 0);
}

namespace {

CFTypeRef platformValue(const machine::Attribute& attribute)
{
    if (auto* v = std::get_if<Value>(&attribute))
        return CFTypeRef(*v);
    if (auto* e = std::get_if<machine::ElementRef>(&attribute))
        return CFTypeRef(std::make_shared<AXUIElement>(e->pid, e->element));
    if (auto* p = std::get_if<machine::ScreenPoint>(&attribute)) {
        CGPoint point {static_cast<CGFloat>(p->x), static_cast<CGFloat>(p->y)};
        return CFTypeRef(AXValueCreate(kAXValueCGPointType, &point));
    }
    const auto& s = std::get<machine::ScreenSize>(attribute);
    CGSize size {static_cast<CGFloat>(s.width), static_cast<CGFloat>(s.height)};
    return CFTypeRef(AXValueCreate(kAXValueCGSizeType, &size));
}

} // namespace

AXError AXUIElementCopyAttributeValue(const AXUIElementRef& element, const std::string& attribute, CFTypeRef* value)
{
    if (!element || !value)
        return kAXErrorIllegalArgument;
    auto& m = machine::Machine::shared();
    if (int r = m.failures().take("AXUIElementCopyAttributeValue:" + attribute))
        return r;
    machine::Attribute read;
    int r = m.accessibility().copyAttribute({element->pid(), element->element()}, attribute, read);
    if (r != kAXErrorSuccess)
        return r;
    *value = platformValue(read);
    return kAXErrorSuccess;
}

AXError AXUIElementGetPid(const AXUIElementRef& element, pid_t* pid)
{
    if (!element || !pid)
        return kAXErrorIllegalArgument;
    if (int r = machine::Machine::shared().failures().take("AXUIElementGetPid"))
        return r;
    *pid = element->pid();
    return kAXErrorSuccess;
}

Boolean CFEqual(const AXUIElementRef& a, const AXUIElementRef& b)
{
    return a && b && a->pid() == b->pid() && a->element() == b->element();
}
