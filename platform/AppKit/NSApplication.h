// NSApplication: the application object of a program.
//
// Each application object has its own event queue, fed by the program's
// application event target (Carbon/CarbonEvents.h): the machine's
// application events that an installed handler lets in arrive there as
// NSEvents and are handed to sendEvent: from a run-loop source of the
// thread that made the object, in every common mode. A program has one
// application object; a test may make two, and each gets every event.
//
// terminate: ends the program: in-process it marks the object terminated
// and stops run().
#pragma once

#include "AppKit/NSEvent.h"

#include <deque>
#include <memory>
#include <optional>

class RunLoopSource;

class NSApplication {
public:
    NSApplication();
    virtual ~NSApplication();
    NSApplication(const NSApplication&) = delete;
    NSApplication& operator=(const NSApplication&) = delete;

    // The program's application object (the last one made that still
    // lives), or null.
    static NSApplication* sharedApplication();

    // Dispatches the event; subclasses that inspect events pass them on here.
    virtual void sendEvent(const NSEvent& event);
    virtual void terminate(const void* sender);

    // Runs the current run loop until terminate: (or stop()).
    void run();
    void stop();
    bool isRunning() const { return running_; }
    bool isTerminated() const { return terminated_; }

    // How many events reached this class's sendEvent:, and the last one.
    std::size_t dispatchedEventCount() const { return dispatchedCount_; }
    const std::optional<NSEvent>& lastDispatchedEvent() const { return lastDispatched_; }
    std::size_t pendingEventCount() const { return queue_.size(); }

private:
    void deliverQueued();

    std::deque<NSEvent> queue_;
    std::shared_ptr<RunLoopSource> source_;
    int targetSink_ = 0;
    std::size_t dispatchedCount_ = 0;
    std::optional<NSEvent> lastDispatched_;
    bool running_ = false;
    bool stopRequested_ = false;
    bool terminated_ = false;
};
