#include "RunLoop/Clock.h"

#include <chrono>
#include <mutex>
#include <thread>

namespace {

// Unix time of the reference date 2001-01-01 00:00:00 UTC.
constexpr double kReferenceDateUnixTime = 978307200.0;

std::mutex clockMutex;

std::shared_ptr<Clock>& clockSlot()
{
    static std::shared_ptr<Clock> clock = std::make_shared<SystemClock>();
    return clock;
}

std::shared_ptr<Clock> clockHandle()
{
    std::lock_guard lock(clockMutex);
    return clockSlot();
}

} // namespace

double SystemClock::now() const
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count() - kReferenceDateUnixTime;
}

void SystemClock::sleepFor(double seconds)
{
    if (seconds > 0)
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

Clock& currentClock()
{
    // The slot keeps the clock alive; a clock is only replaced between runs.
    return *clockHandle();
}

void setCurrentClock(std::shared_ptr<Clock> clock)
{
    std::lock_guard lock(clockMutex);
    clockSlot() = clock ? std::move(clock) : std::make_shared<SystemClock>();
}

double currentDate()
{
    return clockHandle()->now();
}

void platformSleep(double seconds)
{
    clockHandle()->sleepFor(seconds);
}

ScopedVirtualClock::ScopedVirtualClock() : clock_(std::make_shared<VirtualClock>()), previous_(clockHandle())
{
    setCurrentClock(clock_);
}

ScopedVirtualClock::~ScopedVirtualClock()
{
    setCurrentClock(previous_);
}
