// RunLoopPump: the waiting half of a run loop.
//
// A run loop's pass serves what is due (timers, signalled sources, ready
// descriptors); between passes its pump waits until a watched descriptor is
// ready, the loop is woken (a source was signalled, possibly from another
// thread, or a run was stopped), or the time given runs out. The default
// pump waits in poll(); a GUI toolkit supplies a pump of its own that waits
// in the toolkit's event loop, serving the toolkit's events while it waits,
// so that one thread serves both without polling.
//
// Under a virtual clock the loop never asks a pump to wait: it passes a
// time-out of zero and moves the clock itself.
#pragma once

#include <vector>

class RunLoopPump {
public:
    // A descriptor to watch, and what was found ready on it.
    struct Watch {
        int fd = -1;
        bool readable = false;
        bool writable = false;
        // Filled by wait(): ready to read (or hung up, or in error), ready
        // to write, or not a descriptor at all (closed behind the loop's back).
        bool readyToRead = false;
        bool readyToWrite = false;
        bool invalid = false;
    };

    virtual ~RunLoopPump() = default;
    // Waits until a watch is ready, wakeUp() was called, or `timeoutSeconds`
    // passed (zero: look, do not wait; infinity: no limit). Answers whether
    // any watch was found ready; what a toolkit pump handles of its own
    // while it waits does not count.
    virtual bool wait(std::vector<Watch>& watches, double timeoutSeconds) = 0;
    // Ends the current wait, or the next one at once; from any thread.
    virtual void wakeUp() = 0;
};

// The default pump: poll() on the watched descriptors and an eventfd that
// wakeUp() writes.
class PollRunLoopPump final : public RunLoopPump {
public:
    PollRunLoopPump();
    ~PollRunLoopPump() override;
    PollRunLoopPump(const PollRunLoopPump&) = delete;
    PollRunLoopPump& operator=(const PollRunLoopPump&) = delete;

    bool wait(std::vector<Watch>& watches, double timeoutSeconds) override;
    void wakeUp() override;

private:
    int wakeFd_ = -1;
};
