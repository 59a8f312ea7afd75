#include "AppKit/NSApplication.h"

#include "Carbon/CarbonEvents.h"
#include "RunLoop/Clock.h"
#include "RunLoop/RunLoop.h"

#include <algorithm>
#include <limits>

namespace {

std::vector<NSApplication*>& liveApplications()
{
    static std::vector<NSApplication*> applications;
    return applications;
}

short subtypeFor(EventKind kind)
{
    switch (kind) {
    case kEventAppLaunched: return kNSApplicationLaunchedSubtype;
    case kEventAppTerminated: return kNSApplicationTerminatedSubtype;
    default: return kNSApplicationFrontSwitchedSubtype;
    }
}

} // namespace

NSApplication::NSApplication()
{
    source_ = RunLoopSource::create([this] { deliverQueued(); });
    RunLoop::current().addSource(source_, kCommonRunLoopModes);
    targetSink_ = ApplicationEventTarget::shared().attach([this](const CarbonApplicationEvent& e) {
        queue_.emplace_back(kNSApplicationEventType, subtypeFor(e.kind), static_cast<NSInteger>(e.psnHigh),
            static_cast<NSInteger>(e.psnLow));
        source_->signal();
    });
    liveApplications().push_back(this);
}

NSApplication::~NSApplication()
{
    ApplicationEventTarget::shared().detach(targetSink_);
    source_->invalidate();
    std::erase(liveApplications(), this);
}

NSApplication* NSApplication::sharedApplication()
{
    auto& live = liveApplications();
    return live.empty() ? nullptr : live.back();
}

void NSApplication::deliverQueued()
{
    while (!queue_.empty()) {
        NSEvent event = queue_.front();
        queue_.pop_front();
        EventKind kind = event.subtype() == kNSApplicationLaunchedSubtype ? kEventAppLaunched
            : event.subtype() == kNSApplicationTerminatedSubtype          ? kEventAppTerminated
                                                                          : kEventAppFrontSwitched;
        ApplicationEventTarget::shared().callHandlers(
            {kind, static_cast<UInt32>(event.data1()), static_cast<UInt32>(event.data2())});
        sendEvent(event);
    }
}

void NSApplication::sendEvent(const NSEvent& event)
{
    ++dispatchedCount_;
    lastDispatched_ = event;
}

void NSApplication::terminate(const void*)
{
    terminated_ = true;
    stop();
}

void NSApplication::run()
{
    running_ = true;
    stopRequested_ = false;
    while (!stopRequested_ && !terminated_)
        RunLoop::current().runInMode(kDefaultRunLoopMode, std::numeric_limits<double>::infinity(), true);
    running_ = false;
}

void NSApplication::stop()
{
    stopRequested_ = true;
    RunLoop::current().stop();
}
