// RunLoop: one per thread, single-threaded, driven by the current Clock.
//
// Sources are timers (one-shot and repeating), file descriptors and signalled
// sources (what notification ports are made of). Each is added in one or
// more modes; a run in a mode only serves the sources of that mode. The
// common modes are the default mode and the modal-panel mode.
//
// Runs nest: a modal panel runs the loop again, in the modal-panel mode,
// inside a callback of the outer run; only the innermost run is served until
// it returns. runUntilDate() runs until the date has come, whatever else
// happens; under a virtual clock, time jumps straight to the next timer when
// nothing is ready, so a test of a 30.5 s wait takes no real time.
//
// Each pass has two halves: the loop serves what is due, then its pump
// (RunLoopPump.h) waits for what comes next. The default pump waits in
// poll(); a GUI toolkit installs its own with setPump(), and the same
// loop, nested runs and modes included, then serves the toolkit's events too.
#pragma once

#include "RunLoop/RunLoopPump.h"

#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

using RunLoopMode = std::string;
extern const char* const kDefaultRunLoopMode;     // "kCFRunLoopDefaultMode"
extern const char* const kModalPanelRunLoopMode;  // "NSModalPanelRunLoopMode"
extern const char* const kCommonRunLoopModes;     // "kCFRunLoopCommonModes"

class RunLoop;

class Timer : public std::enable_shared_from_this<Timer> {
public:
    using Callback = std::function<void(Timer&)>;

    // A timer that fires after interval seconds, and then every interval
    // seconds when it repeats. It does nothing until added to a run loop.
    static std::shared_ptr<Timer> create(double interval, bool repeats, Callback callback);
    // The same, added to the current thread's run loop in the default mode.
    static std::shared_ptr<Timer> scheduledTimer(double interval, bool repeats, Callback callback);

    void invalidate();
    bool isValid() const { return valid_; }
    double fireDate() const { return fireDate_; }
    void setFireDate(double date) { fireDate_ = date; }
    double timeInterval() const { return interval_; }
    bool repeats() const { return repeats_; }

private:
    friend class RunLoop;
    Timer(double interval, bool repeats, Callback callback);
    void fire();

    double interval_;
    bool repeats_;
    Callback callback_;
    double fireDate_ = 0;
    bool valid_ = true;
    std::uint64_t order_ = 0;
};

// A source that a run loop serves once each time it is signalled; signal()
// may be called from any thread and wakes the loop.
class RunLoopSource : public std::enable_shared_from_this<RunLoopSource> {
public:
    using Callback = std::function<void()>;
    static std::shared_ptr<RunLoopSource> create(Callback callback, int order = 0);

    void signal();
    void invalidate();
    bool isValid() const { return valid_; }
    bool isSignalled() const { return signalled_; }
    int order() const { return order_; }

private:
    friend class RunLoop;
    RunLoopSource(Callback callback, int order) : callback_(std::move(callback)), order_(order) {}
    Callback callback_;
    int order_;
    std::atomic<bool> signalled_ {false};
    std::atomic<bool> valid_ {true};
    std::vector<RunLoop*> loops_;
};

// A file descriptor watched for reading (or writing); the callback runs each
// time the run loop finds it ready.
class FileDescriptorSource : public std::enable_shared_from_this<FileDescriptorSource> {
public:
    enum Events { Readable = 1, Writable = 2 };
    using Callback = std::function<void(int fd, int readyEvents)>;
    static std::shared_ptr<FileDescriptorSource> create(int fd, int events, Callback callback);

    int fileDescriptor() const { return fd_; }
    int events() const { return events_; }
    void invalidate() { valid_ = false; }
    bool isValid() const { return valid_; }

private:
    friend class RunLoop;
    FileDescriptorSource(int fd, int events, Callback callback) : fd_(fd), events_(events), callback_(std::move(callback)) {}
    int fd_;
    int events_;
    Callback callback_;
    bool valid_ = true;
};

class RunLoop {
public:
    enum class RunResult { Finished, Stopped, TimedOut, HandledSource };

    static RunLoop& current();
    ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    void addTimer(std::shared_ptr<Timer> timer, const RunLoopMode& mode = kDefaultRunLoopMode);
    void addSource(std::shared_ptr<RunLoopSource> source, const RunLoopMode& mode = kDefaultRunLoopMode);
    void removeSource(const std::shared_ptr<RunLoopSource>& source, const RunLoopMode& mode = kDefaultRunLoopMode);
    void addFileDescriptorSource(std::shared_ptr<FileDescriptorSource> source, const RunLoopMode& mode = kDefaultRunLoopMode);
    void removeFileDescriptorSource(const std::shared_ptr<FileDescriptorSource>& source);

    // Runs in the default mode until the date has come (or stop()).
    void runUntilDate(double date);
    // Runs in a mode until the date, stop(), or, when asked, until one
    // source other than a timer was handled.
    RunResult runInMode(const RunLoopMode& mode, double limitDate, bool returnAfterSourceHandled = false);
    // One pass in a mode: serves what is ready, waiting at most until the
    // date; false when the mode has no sources at all.
    bool runModeBeforeDate(const RunLoopMode& mode, double limitDate);

    // Ends the innermost run of this loop.
    void stop();
    // The mode of the innermost run, empty when the loop is not running.
    RunLoopMode currentMode() const;
    // Date of the next valid timer in the mode, or +infinity.
    double nextTimerDate(const RunLoopMode& mode) const;
    // Drops every source and timer (tests start from a clean loop).
    void removeAllSourcesForTesting();

    // The waiting half of each pass; null puts the default (poll) pump back.
    // A pump is set between runs, never from inside one.
    void setPump(std::unique_ptr<RunLoopPump> pump);

private:
    friend class RunLoopSource;
    RunLoop();
    void wakeUp();
    struct Pass {
        bool handledTimer = false;
        bool handledSource = false;
    };
    Pass runOnePass(const RunLoopMode& mode, double limitDate, bool mayWait);
    static std::set<RunLoopMode> expandModes(const RunLoopMode& mode);

    template <class T>
    struct Entry {
        std::shared_ptr<T> item;
        std::set<RunLoopMode> modes;
    };
    std::vector<Entry<Timer>> timers_;
    std::vector<Entry<RunLoopSource>> sources_;
    std::vector<Entry<FileDescriptorSource>> fdSources_;
    struct RunFrame {
        RunLoopMode mode;
        bool stopped = false;
    };
    std::vector<RunFrame> frames_;
    std::unique_ptr<RunLoopPump> pump_;
    std::uint64_t nextTimerOrder_ = 0;
};
