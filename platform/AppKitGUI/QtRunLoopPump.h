// QtRunLoopPump: the run loop's waiting half inside Qt's event loop.
//
// A program with windows has one thread and one loop: while the run loop
// waits for its descriptors, its next timer or a wake-up, Qt serves its own
// events (input, painting, its timers) in processEvents(WaitForMoreEvents),
// and nothing polls. The watched descriptors become socket notifiers, the
// time-out a single-shot timer, and wakeUp() the event dispatcher's own
// wake-up, which any thread may call. With a time-out of zero (and always
// under a virtual clock) the pump serves what Qt has ready and returns.
#pragma once

#include "RunLoop/RunLoopPump.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>

class QAbstractEventDispatcher;
class QSocketNotifier;
class QTimer;

class QtRunLoopPump final : public RunLoopPump {
public:
    // Needs the program's QApplication (or QCoreApplication) made first.
    QtRunLoopPump();
    ~QtRunLoopPump() override;
    QtRunLoopPump(const QtRunLoopPump&) = delete;
    QtRunLoopPump& operator=(const QtRunLoopPump&) = delete;

    bool wait(std::vector<Watch>& watches, double timeoutSeconds) override;
    void wakeUp() override;

private:
    struct Notifiers {
        std::unique_ptr<QSocketNotifier> read;
        std::unique_ptr<QSocketNotifier> write;
        bool readReady = false;
        bool writeReady = false;
    };
    void watch(const std::vector<Watch>& watches);

    QAbstractEventDispatcher* dispatcher_ = nullptr;
    // Each on the heap, so that the notifier's slot may keep its address.
    std::map<int, std::unique_ptr<Notifiers>> notifiers_;
    // Counts the waits begun; a wait that finds it moved on was nested
    // under (a modal run began in a handler Qt called) and returns.
    std::uint64_t waits_ = 0;
    std::unique_ptr<QTimer> timeout_;
    bool timedOut_ = false;
    std::atomic<bool> woken_ {false};
};
