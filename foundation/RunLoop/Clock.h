// Clock: where every piece of the system gets the time from.
//
// Programs run on the SystemClock. Tests install a VirtualClock, which only
// moves when the run loop has nothing to do before its next timer (or when a
// test or a platform sleep moves it), so a 30.5 s wait runs in microseconds
// and lands exactly on its date. Dates are seconds since 2001-01-01 UTC.
#pragma once

#include <memory>

class Clock {
public:
    virtual ~Clock() = default;
    virtual double now() const = 0;
    // Blocks the calling thread for the interval (virtual: moves time on).
    virtual void sleepFor(double seconds) = 0;
    virtual bool isVirtual() const = 0;
};

class SystemClock final : public Clock {
public:
    double now() const override;
    void sleepFor(double seconds) override;
    bool isVirtual() const override { return false; }
};

class VirtualClock final : public Clock {
public:
    // The start date is arbitrary but fixed, so runs repeat exactly.
    explicit VirtualClock(double start = 820000000.0) : now_(start) {}
    double now() const override { return now_; }
    void sleepFor(double seconds) override { advanceBy(seconds); }
    bool isVirtual() const override { return true; }
    void advanceBy(double seconds)
    {
        if (seconds > 0)
            now_ += seconds;
    }
    void advanceTo(double date)
    {
        if (date > now_)
            now_ = date;
    }

private:
    double now_;
};

// The process-wide clock; the system clock unless a test installs another.
Clock& currentClock();
void setCurrentClock(std::shared_ptr<Clock> clock);
double currentDate();
// A blocking sleep that goes through the current clock.
void platformSleep(double seconds);

// Installs a virtual clock for a scope and restores the previous clock.
class ScopedVirtualClock {
public:
    ScopedVirtualClock();
    ~ScopedVirtualClock();
    ScopedVirtualClock(const ScopedVirtualClock&) = delete;
    ScopedVirtualClock& operator=(const ScopedVirtualClock&) = delete;
    VirtualClock& clock() { return *clock_; }

private:
    std::shared_ptr<VirtualClock> clock_;
    std::shared_ptr<Clock> previous_;
};
