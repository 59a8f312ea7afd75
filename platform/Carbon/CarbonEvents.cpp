#include "Carbon/CarbonEvents.h"

#include "MachineLink/MachineLink.h"
#include "ProcessManager/ProcessTable.h"

EventHandlerUPP NewEventHandlerUPP(EventHandlerProcPtr handler)
{
    return handler;
}

EventTargetRef GetApplicationEventTarget()
{
    return &ApplicationEventTarget::shared();
}

OSStatus InstallEventHandler(EventTargetRef target, EventHandlerUPP handler, UInt32 numTypes, const EventTypeSpec* list,
    void* userData, EventHandlerRef* outRef)
{
    if (!target || !handler || (numTypes && !list))
        return paramErr;
    if (OSStatus r = MachineLink::shared().take("InstallEventHandler"))
        return r;
    OSStatus result = target->installHandler(handler, std::vector<EventTypeSpec>(list, list + numTypes), userData);
    if (outRef)
        *outRef = nullptr;
    return result;
}

UInt32 GetCurrentButtonState()
{
    return MachineLink::shared().call(ops::buttonState);
}

ApplicationEventTarget& ApplicationEventTarget::shared()
{
    static ApplicationEventTarget target;
    return target;
}

OSStatus ApplicationEventTarget::installHandler(EventHandlerUPP handler, const std::vector<EventTypeSpec>& types, void* userData)
{
    handlers_.push_back({handler, types, userData});
    if (!machineListener_) {
        // The program keeps its own table of the applications from now on;
        // each event reaches the table before the handlers hear it.
        auto processTable = ProcessTable::sharedInstance();
        if (processTable)
            processTable->arm();
        machineListener_ = MachineLink::shared().subscribe(ops::applicationListener, [this](const machine::ApplicationEvent& event) {
            if (auto processTable = ProcessTable::sharedInstance())
                processTable->apply(event);
            EventKind kind = event.kind == machine::ApplicationEventKind::Launched ? kEventAppLaunched
                : event.kind == machine::ApplicationEventKind::Terminated         ? kEventAppTerminated
                                                                                   : kEventAppFrontSwitched;
            hear({kind, event.serial.high, event.serial.low});
        });
    }
    return noErr;
}

bool ApplicationEventTarget::handles(EventKind kind) const
{
    for (const auto& h : handlers_) {
        for (const auto& t : h.types) {
            if (t.eventClass == kEventClassApplication && t.eventKind == kind)
                return true;
        }
    }
    return false;
}

void ApplicationEventTarget::hear(const CarbonApplicationEvent& event)
{
    if (!handles(event.kind))
        return;
    auto sinks = sinks_;
    for (auto& [id, sink] : sinks) {
        if (sinks_.count(id))
            sink(event);
    }
}

int ApplicationEventTarget::attach(Sink sink)
{
    int id = nextSink_++;
    sinks_.emplace(id, std::move(sink));
    return id;
}

void ApplicationEventTarget::detach(int id)
{
    sinks_.erase(id);
}

void ApplicationEventTarget::callHandlers(const CarbonApplicationEvent& event)
{
    auto handlers = handlers_;
    for (const auto& h : handlers) {
        for (const auto& t : h.types) {
            if (t.eventClass == kEventClassApplication && t.eventKind == event.kind) {
                h.handler(nullptr, &event, h.userData);
                break;
            }
        }
    }
}

void ApplicationEventTarget::resetForTesting()
{
    handlers_.clear();
    if (machineListener_)
        MachineLink::shared().unsubscribe(ops::applicationListener, machineListener_);
    machineListener_ = 0;
    ProcessTable::releaseSharedInstance();
}
