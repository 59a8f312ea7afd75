// Accessibility observers, under their own names.
//
// An observer belongs to one process. Notifications registered on an
// element of that process ("AXWindowCreated", "AXSheetCreated" on the
// application element) are queued on the observer and signal its run-loop
// source; the callback runs, with the new element and the reference
// constant given at registration, when that source is served. An observer
// whose source is on no run loop hears nothing. Letting go of the last
// reference to an observer ends all its registrations.
//
// Failures can be injected as "AXObserverCreate",
// "AXObserverAddNotification:<notification>" and
// "AXObserverGetRunLoopSource".
#pragma once

#include "Accessibility/AXUIElement.h"

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>

class RunLoopSource;
// The platform's run-loop source, the same handle the other shims hand out.
using CFRunLoopSourceRef = std::shared_ptr<RunLoopSource>;

inline constexpr const char* kAXWindowCreatedNotification = "AXWindowCreated";
inline constexpr const char* kAXSheetCreatedNotification = "AXSheetCreated";

class AXObserver;
using AXObserverRef = std::shared_ptr<AXObserver>;
using AXObserverCallback = void (*)(AXObserverRef observer, AXUIElementRef element, const std::string& notification,
    void* refcon);

AXError AXObserverCreate(pid_t application, AXObserverCallback callback, AXObserverRef* outObserver);
AXError AXObserverAddNotification(const AXObserverRef& observer, const AXUIElementRef& element,
    const std::string& notification, void* refcon);
AXError AXObserverRemoveNotification(const AXObserverRef& observer, const AXUIElementRef& element,
    const std::string& notification);
// The observer's one source (the same each time); null on failure.
CFRunLoopSourceRef AXObserverGetRunLoopSource(const AXObserverRef& observer);

class AXObserver : public std::enable_shared_from_this<AXObserver> {
public:
    AXObserver(pid_t pid, AXObserverCallback callback) : pid_(pid), callback_(callback) {}
    ~AXObserver();
    AXObserver(const AXObserver&) = delete;
    AXObserver& operator=(const AXObserver&) = delete;

    pid_t pid() const { return pid_; }

private:
    friend AXError AXObserverCreate(pid_t, AXObserverCallback, AXObserverRef*);
    friend AXError AXObserverAddNotification(const AXObserverRef&, const AXUIElementRef&, const std::string&, void*);
    friend AXError AXObserverRemoveNotification(const AXObserverRef&, const AXUIElementRef&, const std::string&);
    friend CFRunLoopSourceRef AXObserverGetRunLoopSource(const AXObserverRef&);

    void start();
    void deliverQueued();

    struct Pending {
        std::uint64_t element;
        std::string notification;
    };
    pid_t pid_;
    AXObserverCallback callback_;
    std::uint64_t machineObserver_ = 0;
    // The reference constant of each registration on an element.
    std::map<std::pair<std::uint64_t, std::string>, void*> refcons_;
    std::deque<Pending> queue_;
    CFRunLoopSourceRef source_;
};
