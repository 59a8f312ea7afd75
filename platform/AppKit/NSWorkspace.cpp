#include "AppKit/NSWorkspace.h"

#include "RunLoop/RunLoop.h"
#include "MachineLink/MachineLink.h"

const char* const NSWorkspaceSessionDidBecomeActiveNotification = "NSWorkspaceSessionDidBecomeActiveNotification";
const char* const NSWorkspaceSessionDidResignActiveNotification = "NSWorkspaceSessionDidResignActiveNotification";

namespace {

std::unique_ptr<NSWorkspace>& sharedSlot()
{
    static std::unique_ptr<NSWorkspace> workspace;
    return workspace;
}

} // namespace

NSWorkspace& NSWorkspace::sharedWorkspace()
{
    auto& slot = sharedSlot();
    if (!slot)
        slot.reset(new NSWorkspace);
    return *slot;
}

void NSWorkspace::resetForTesting()
{
    sharedSlot().reset();
}

NSWorkspace::NSWorkspace()
{
    source_ = RunLoopSource::create([this] { deliverQueued(); });
    RunLoop::current().addSource(source_, kCommonRunLoopModes);
    sessionListener_ = MachineLink::shared().subscribe(ops::sessionListener, [this](std::uint32_t resigned, std::uint32_t activated) {
        std::uint32_t mine = MachineLink::shared().programSession();
        if (mine == 0)
            return;
        if (resigned == mine)
            queue_.push_back(NSWorkspaceSessionDidResignActiveNotification);
        if (activated == mine)
            queue_.push_back(NSWorkspaceSessionDidBecomeActiveNotification);
        if (!queue_.empty())
            source_->signal();
    });
}

NSWorkspace::~NSWorkspace()
{
    MachineLink::shared().unsubscribe(ops::sessionListener, sessionListener_);
    source_->invalidate();
}

void NSWorkspace::deliverQueued()
{
    while (!queue_.empty()) {
        std::string name = std::move(queue_.front());
        queue_.pop_front();
        centre_.postNotificationName(name);
    }
}
