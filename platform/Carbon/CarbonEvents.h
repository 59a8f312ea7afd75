// The Carbon Event Manager calls the system makes, under their own names.
//
// The application event target of a program receives the machine's
// application events (launch, quit, front switch) once a handler for them
// is installed on it: that is what makes them reach the application. The
// application objects of the program (NSApplication) attach to the target
// and each gets every event in its own queue, as an NSEvent of type 21;
// when an application dispatches such an event, the installed handlers run
// first.
#pragma once

#include "Carbon/MacTypes.h"

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

using EventClass = UInt32;
using EventKind = UInt32;

struct EventTypeSpec {
    EventClass eventClass;
    EventKind eventKind;
};

inline constexpr EventClass kEventClassApplication = fourCharCode("appl");
inline constexpr EventKind kEventAppLaunched = 5;
inline constexpr EventKind kEventAppTerminated = 6;
inline constexpr EventKind kEventAppFrontSwitched = 7;

inline constexpr OSStatus eventNotHandledErr = -9874;

// One application event as the Carbon layer hands it on.
struct CarbonApplicationEvent {
    EventKind kind;
    UInt32 psnHigh;
    UInt32 psnLow;
};

class ApplicationEventTarget;
using EventTargetRef = ApplicationEventTarget*;
struct OpaqueEventHandlerCallRef;
using EventHandlerCallRef = OpaqueEventHandlerCallRef*;
using EventRef = const CarbonApplicationEvent*;
struct OpaqueEventHandlerRef;
using EventHandlerRef = OpaqueEventHandlerRef*;
using EventHandlerProcPtr = OSStatus (*)(EventHandlerCallRef handlerCallRef, EventRef event, void* userData);
using EventHandlerUPP = EventHandlerProcPtr;

EventHandlerUPP NewEventHandlerUPP(EventHandlerProcPtr handler);
EventTargetRef GetApplicationEventTarget();
// paramErr for a null target or handler; outRef may be null.
OSStatus InstallEventHandler(EventTargetRef target, EventHandlerUPP handler, UInt32 numTypes, const EventTypeSpec* list,
    void* userData, EventHandlerRef* outRef);
// The mouse buttons held now: bit 0 the primary button.
UInt32 GetCurrentButtonState();

class ApplicationEventTarget {
public:
    using Sink = std::function<void(const CarbonApplicationEvent&)>;

    static ApplicationEventTarget& shared();

    OSStatus installHandler(EventHandlerUPP handler, const std::vector<EventTypeSpec>& types, void* userData);
    // An application object attaches to hear the events its handlers let in.
    int attach(Sink sink);
    void detach(int id);
    // Runs the handlers installed for the event's kind.
    void callHandlers(const CarbonApplicationEvent& event);

    // No handlers; stops listening to the machine (tests).
    void resetForTesting();

private:
    ApplicationEventTarget() = default;
    struct Handler {
        EventHandlerUPP handler;
        std::vector<EventTypeSpec> types;
        void* userData;
    };
    bool handles(EventKind kind) const;
    void hear(const CarbonApplicationEvent& event);

    std::vector<Handler> handlers_;
    std::map<int, Sink> sinks_;
    int nextSink_ = 1;
    std::uint64_t machineListener_ = 0;
};
