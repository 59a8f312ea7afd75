#include "Accessibility/AXObserver.h"

#include "RunLoop/RunLoop.h"
#include "MachineLink/MachineLink.h"

namespace {

MachineLink& theTrees()
{
    return MachineLink::shared();
}

} // namespace

AXObserver::~AXObserver()
{
    if (source_)
        source_->invalidate();
    theTrees().unsubscribe(ops::axObserver, machineObserver_);
}

void AXObserver::start()
{
    std::weak_ptr<AXObserver> weak = weak_from_this();
    source_ = RunLoopSource::create([weak] {
        if (auto self = weak.lock())
            self->deliverQueued();
    });
    machineObserver_ = theTrees().subscribe(
        ops::axObserver,
        [weak](const MachineLink::Element& element, const std::string& notification) {
            auto self = weak.lock();
            if (!self)
                return;
            self->queue_.push_back({element.element, notification});
            self->source_->signal();
        },
        pid_);
}

void AXObserver::deliverQueued()
{
    // The callback may let go of this observer (and of its last reference).
    AXObserverRef self = shared_from_this();
    while (!queue_.empty()) {
        Pending next = std::move(queue_.front());
        queue_.pop_front();
        // The registration is on the application element; the element told
        // is the new window or sheet.
        auto refcon = refcons_.find({0, next.notification});
        if (refcon == refcons_.end())
            continue;
        if (callback_)
            callback_(self, std::make_shared<AXUIElement>(pid_, next.element), next.notification, refcon->second);
    }
}

AXError AXObserverCreate(pid_t application, AXObserverCallback callback, AXObserverRef* outObserver)
{
    if (!callback || !outObserver)
        return kAXErrorIllegalArgument;
    if (int r = theTrees().take("AXObserverCreate"))
        return r;
    auto observer = std::make_shared<AXObserver>(application, callback);
    observer->start();
    *outObserver = std::move(observer);
    return kAXErrorSuccess;
}

AXError AXObserverAddNotification(const AXObserverRef& observer, const AXUIElementRef& element,
    const std::string& notification, void* refcon)
{
    if (!observer)
        return kAXErrorInvalidUIElementObserver;
    if (!element)
        return kAXErrorIllegalArgument;
    if (int r = theTrees().take("AXObserverAddNotification:" + notification))
        return r;
    int r = theTrees().call(ops::addNotification, observer->machineObserver_, element->pid(), element->element(), notification);
    if (r == kAXErrorSuccess)
        observer->refcons_[{element->element(), notification}] = refcon;
    return r;
}

AXError AXObserverRemoveNotification(const AXObserverRef& observer, const AXUIElementRef& element,
    const std::string& notification)
{
    if (!observer)
        return kAXErrorInvalidUIElementObserver;
    if (!element)
        return kAXErrorIllegalArgument;
    int r = theTrees().call(ops::removeNotification, observer->machineObserver_, element->pid(), element->element(), notification);
    if (r == kAXErrorSuccess)
        observer->refcons_.erase({element->element(), notification});
    return r;
}

CFRunLoopSourceRef AXObserverGetRunLoopSource(const AXObserverRef& observer)
{
    if (!observer || theTrees().take("AXObserverGetRunLoopSource"))
        return nullptr;
    return observer->source_;
}
