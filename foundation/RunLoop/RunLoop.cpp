#include "RunLoop/RunLoop.h"

#include "RunLoop/Clock.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>

const char* const kDefaultRunLoopMode = "kCFRunLoopDefaultMode";
const char* const kModalPanelRunLoopMode = "NSModalPanelRunLoopMode";
const char* const kCommonRunLoopModes = "kCFRunLoopCommonModes";

namespace {
// The shortest interval a repeating timer may have; keeps a zero interval
// from spinning the loop.
constexpr double kMinimumTimerInterval = 0.0001;
} // namespace

// ---- Timer

Timer::Timer(double interval, bool repeats, Callback callback)
    : interval_(std::max(interval, repeats ? kMinimumTimerInterval : 0.0))
    , repeats_(repeats)
    , callback_(std::move(callback))
{
}

std::shared_ptr<Timer> Timer::create(double interval, bool repeats, Callback callback)
{
    auto timer = std::shared_ptr<Timer>(new Timer(interval, repeats, std::move(callback)));
    timer->fireDate_ = currentDate() + timer->interval_;
    return timer;
}

std::shared_ptr<Timer> Timer::scheduledTimer(double interval, bool repeats, Callback callback)
{
    auto timer = create(interval, repeats, std::move(callback));
    RunLoop::current().addTimer(timer, kDefaultRunLoopMode);
    return timer;
}

void Timer::invalidate()
{
    valid_ = false;
}

void Timer::fire()
{
    double now = currentDate();
    if (repeats_) {
        // The next date follows from the scheduled date, not from now, so a
        // repeating timer does not drift; fires missed while the loop was
        // busy are skipped rather than delivered in a burst.
        double next = fireDate_ + interval_;
        if (next <= now)
            next += interval_ * std::floor((now - next) / interval_ + 1.0);
        fireDate_ = next;
    } else {
        valid_ = false;
    }
    if (callback_)
        callback_(*this);
}

// ---- RunLoopSource

std::shared_ptr<RunLoopSource> RunLoopSource::create(Callback callback, int order)
{
    return std::shared_ptr<RunLoopSource>(new RunLoopSource(std::move(callback), order));
}

void RunLoopSource::signal()
{
    if (!valid_)
        return;
    signalled_ = true;
    for (RunLoop* loop : loops_)
        loop->wakeUp();
}

void RunLoopSource::invalidate()
{
    valid_ = false;
    signalled_ = false;
}

// ---- FileDescriptorSource

std::shared_ptr<FileDescriptorSource> FileDescriptorSource::create(int fd, int events, Callback callback)
{
    return std::shared_ptr<FileDescriptorSource>(new FileDescriptorSource(fd, events, std::move(callback)));
}

// ---- RunLoop

RunLoop& RunLoop::current()
{
    thread_local std::unique_ptr<RunLoop> loop(new RunLoop);
    return *loop;
}

RunLoop::RunLoop() : pump_(std::make_unique<PollRunLoopPump>()) {}

RunLoop::~RunLoop()
{
    for (auto& entry : sources_)
        std::erase(entry.item->loops_, this);
}

void RunLoop::setPump(std::unique_ptr<RunLoopPump> pump)
{
    pump_ = pump ? std::move(pump) : std::make_unique<PollRunLoopPump>();
}

void RunLoop::wakeUp()
{
    pump_->wakeUp();
}

std::set<RunLoopMode> RunLoop::expandModes(const RunLoopMode& mode)
{
    if (mode == kCommonRunLoopModes)
        return {kDefaultRunLoopMode, kModalPanelRunLoopMode};
    return {mode};
}

template <class T>
static void addToModes(std::vector<T>& entries, decltype(T::item) item, const std::set<RunLoopMode>& modes)
{
    for (auto& entry : entries) {
        if (entry.item == item) {
            entry.modes.insert(modes.begin(), modes.end());
            return;
        }
    }
    entries.push_back({std::move(item), modes});
}

void RunLoop::addTimer(std::shared_ptr<Timer> timer, const RunLoopMode& mode)
{
    if (!timer || !timer->isValid())
        return;
    if (timer->order_ == 0)
        timer->order_ = ++nextTimerOrder_;
    addToModes(timers_, std::move(timer), expandModes(mode));
}

void RunLoop::addSource(std::shared_ptr<RunLoopSource> source, const RunLoopMode& mode)
{
    if (!source)
        return;
    if (std::find(source->loops_.begin(), source->loops_.end(), this) == source->loops_.end())
        source->loops_.push_back(this);
    addToModes(sources_, std::move(source), expandModes(mode));
}

void RunLoop::removeSource(const std::shared_ptr<RunLoopSource>& source, const RunLoopMode& mode)
{
    auto modes = expandModes(mode);
    for (auto it = sources_.begin(); it != sources_.end(); ++it) {
        if (it->item != source)
            continue;
        for (const auto& m : modes)
            it->modes.erase(m);
        if (it->modes.empty()) {
            std::erase(source->loops_, this);
            sources_.erase(it);
        }
        return;
    }
}

void RunLoop::addFileDescriptorSource(std::shared_ptr<FileDescriptorSource> source, const RunLoopMode& mode)
{
    if (!source)
        return;
    addToModes(fdSources_, std::move(source), expandModes(mode));
}

void RunLoop::removeFileDescriptorSource(const std::shared_ptr<FileDescriptorSource>& source)
{
    std::erase_if(fdSources_, [&](const auto& entry) { return entry.item == source; });
}

void RunLoop::removeAllSourcesForTesting()
{
    for (auto& entry : sources_)
        std::erase(entry.item->loops_, this);
    timers_.clear();
    sources_.clear();
    fdSources_.clear();
}

double RunLoop::nextTimerDate(const RunLoopMode& mode) const
{
    double next = std::numeric_limits<double>::infinity();
    for (const auto& entry : timers_) {
        if (entry.item->isValid() && entry.modes.count(mode))
            next = std::min(next, entry.item->fireDate());
    }
    return next;
}

RunLoop::Pass RunLoop::runOnePass(const RunLoopMode& mode, double limitDate, bool mayWait)
{
    Pass pass;
    Clock& clock = currentClock();
    double now = clock.now();

    // Timers due now, in date order (then in the order they were added).
    std::vector<std::shared_ptr<Timer>> due;
    for (const auto& entry : timers_) {
        if (entry.item->isValid() && entry.modes.count(mode) && entry.item->fireDate() <= now)
            due.push_back(entry.item);
    }
    std::sort(due.begin(), due.end(), [](const auto& a, const auto& b) {
        return a->fireDate() != b->fireDate() ? a->fireDate() < b->fireDate() : a->order_ < b->order_;
    });
    for (auto& timer : due) {
        if (timer->isValid() && timer->fireDate() <= now) {
            timer->fire();
            pass.handledTimer = true;
        }
    }

    // Signalled sources, by order.
    std::vector<std::shared_ptr<RunLoopSource>> signalled;
    for (const auto& entry : sources_) {
        if (entry.item->isValid() && entry.item->isSignalled() && entry.modes.count(mode))
            signalled.push_back(entry.item);
    }
    std::stable_sort(signalled.begin(), signalled.end(), [](const auto& a, const auto& b) { return a->order() < b->order(); });
    for (auto& source : signalled) {
        if (source->isValid() && source->signalled_.exchange(false)) {
            if (source->callback_)
                source->callback_();
            pass.handledSource = true;
        }
    }

    // File descriptors, waiting for them (or the next timer) in the pump
    // when allowed; under a virtual clock the pump only looks.
    std::vector<std::shared_ptr<FileDescriptorSource>> watched;
    std::vector<RunLoopPump::Watch> watches;
    for (const auto& entry : fdSources_) {
        if (entry.item->isValid() && entry.modes.count(mode)) {
            RunLoopPump::Watch watch;
            watch.fd = entry.item->fileDescriptor();
            watch.readable = entry.item->events() & FileDescriptorSource::Readable;
            watch.writable = entry.item->events() & FileDescriptorSource::Writable;
            watches.push_back(watch);
            watched.push_back(entry.item);
        }
    }
    double timeout = 0;
    bool handled = pass.handledTimer || pass.handledSource;
    if (mayWait && !handled && !clock.isVirtual())
        timeout = std::max(0.0, std::min(nextTimerDate(mode), limitDate) - clock.now());
    if (pump_->wait(watches, timeout)) {
        for (std::size_t i = 0; i < watches.size(); ++i) {
            const auto& watch = watches[i];
            if (!watched[i]->isValid())
                continue;
            if (watch.invalid) {
                // A closed descriptor would be reported for ever; drop it.
                watched[i]->invalidate();
                continue;
            }
            int readyEvents = (watch.readyToRead ? FileDescriptorSource::Readable : 0)
                | (watch.readyToWrite ? FileDescriptorSource::Writable : 0);
            if (!readyEvents)
                continue;
            if (watched[i]->callback_)
                watched[i]->callback_(watch.fd, readyEvents);
            pass.handledSource = true;
        }
    }

    // Nothing was ready: a virtual clock jumps to whatever comes next.
    if (mayWait && clock.isVirtual() && !pass.handledTimer && !pass.handledSource) {
        bool signalledMeanwhile = std::any_of(sources_.begin(), sources_.end(), [&](const auto& entry) {
            return entry.item->isValid() && entry.item->isSignalled() && entry.modes.count(mode);
        });
        if (!signalledMeanwhile)
            static_cast<VirtualClock&>(clock).advanceTo(std::min(nextTimerDate(mode), limitDate));
    }

    std::erase_if(timers_, [](const auto& entry) { return !entry.item->isValid(); });
    std::erase_if(fdSources_, [](const auto& entry) { return !entry.item->isValid(); });
    for (auto it = sources_.begin(); it != sources_.end();) {
        if (!it->item->isValid()) {
            std::erase(it->item->loops_, this);
            it = sources_.erase(it);
        } else {
            ++it;
        }
    }
    return pass;
}

RunLoop::RunResult RunLoop::runInMode(const RunLoopMode& mode, double limitDate, bool returnAfterSourceHandled)
{
    frames_.push_back({mode, false});
    std::size_t depth = frames_.size();
    RunResult result = RunResult::TimedOut;
    for (;;) {
        if (frames_[depth - 1].stopped) {
            result = RunResult::Stopped;
            break;
        }
        // The pass that starts at (or after) the limit waits for nothing and
        // is the last: what is due exactly at the limit still runs.
        bool mayWait = currentDate() < limitDate;
        Pass pass = runOnePass(mode, limitDate, mayWait);
        if (returnAfterSourceHandled && pass.handledSource) {
            result = RunResult::HandledSource;
            break;
        }
        if (!mayWait) {
            if (frames_[depth - 1].stopped)
                result = RunResult::Stopped;
            break;
        }
    }
    frames_.pop_back();
    return result;
}

void RunLoop::runUntilDate(double date)
{
    runInMode(kDefaultRunLoopMode, date, false);
}

bool RunLoop::runModeBeforeDate(const RunLoopMode& mode, double limitDate)
{
    auto inMode = [&](const auto& entries) {
        return std::any_of(entries.begin(), entries.end(), [&](const auto& e) { return e.item->isValid() && e.modes.count(mode); });
    };
    if (!inMode(timers_) && !inMode(sources_) && !inMode(fdSources_))
        return false;
    frames_.push_back({mode, false});
    runOnePass(mode, limitDate, currentDate() < limitDate);
    frames_.pop_back();
    return true;
}

void RunLoop::stop()
{
    if (!frames_.empty())
        frames_.back().stopped = true;
    wakeUp();
}

RunLoopMode RunLoop::currentMode() const
{
    return frames_.empty() ? RunLoopMode() : frames_.back().mode;
}
