#include "RunLoop/Clock.h"
#include "RunLoop/RunLoop.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

class ARunLoop : public ::testing::Test {
protected:
    ScopedVirtualClock time;
    RunLoop& loop = RunLoop::current();
    double start = currentDate();
    std::vector<std::string> events;

    ~ARunLoop() override { loop.removeAllSourcesForTesting(); }
    double elapsed() const { return currentDate() - start; }
};

TEST_F(ARunLoop, FiresTimersInDateOrder)
{
    auto late = Timer::create(2.0, false, [&](Timer&) { events.push_back("late@" + std::to_string(elapsed())); });
    auto early = Timer::create(0.5, false, [&](Timer&) { events.push_back("early@" + std::to_string(elapsed())); });
    auto same = Timer::create(2.0, false, [&](Timer&) { events.push_back("same@" + std::to_string(elapsed())); });
    loop.addTimer(late);
    loop.addTimer(early);
    loop.addTimer(same);
    loop.runUntilDate(start + 10);
    EXPECT_EQ(events, (std::vector<std::string> {"early@0.500000", "late@2.000000", "same@2.000000"}));
    EXPECT_DOUBLE_EQ(elapsed(), 10.0);
    EXPECT_FALSE(early->isValid());
}

TEST_F(ARunLoop, ReschedulesRepeatingTimersWithoutDrift)
{
    std::vector<double> fires;
    auto timer = Timer::scheduledTimer(0.5, true, [&](Timer& t) {
        fires.push_back(elapsed());
        // Work inside the callback takes time; the schedule must not slip.
        platformSleep(0.1);
        if (fires.size() == 61)
            t.invalidate();
    });
    loop.runUntilDate(start + 100);
    ASSERT_EQ(fires.size(), 61u);
    for (std::size_t i = 0; i < fires.size(); ++i)
        EXPECT_DOUBLE_EQ(fires[i], 0.5 * static_cast<double>(i + 1));
    EXPECT_FALSE(timer->isValid());
}

TEST_F(ARunLoop, SkipsMissedRepeatsInsteadOfBursting)
{
    std::vector<double> fires;
    auto timer = Timer::scheduledTimer(1.0, true, [&](Timer&) {
        fires.push_back(elapsed());
        if (fires.size() == 1)
            platformSleep(3.5); // the loop is held up past three more dates
    });
    loop.runUntilDate(start + 6);
    // The date missed while held up fires once, late; the rest are skipped and
    // the schedule stays on whole seconds.
    EXPECT_EQ(fires, (std::vector<double> {1.0, 4.5, 5.0, 6.0}));
    EXPECT_DOUBLE_EQ(timer->fireDate() - start, 7.0);
    timer->invalidate();
}

TEST_F(ARunLoop, RunsWhatIsDueExactlyAtTheLimit)
{
    bool fired = false;
    Timer::scheduledTimer(2.0, false, [&](Timer&) { fired = true; });
    loop.runUntilDate(start + 2.0);
    EXPECT_TRUE(fired);
}

TEST_F(ARunLoop, RunsANestedModalPanelRunWithOnlyThatModesSources)
{
    auto defaultOnly = RunLoopSource::create([&] { events.push_back("default source"); });
    auto common = RunLoopSource::create([&] { events.push_back("common source"); });
    loop.addSource(defaultOnly, kDefaultRunLoopMode);
    loop.addSource(common, kCommonRunLoopModes);
    auto defaultTimer = Timer::create(1.0, false, [&](Timer&) { events.push_back("default timer"); });
    loop.addTimer(defaultTimer, kDefaultRunLoopMode);
    auto panelTimer = Timer::create(2.0, false, [&](Timer&) {
        events.push_back("panel timer in " + loop.currentMode());
        loop.stop();
    });
    loop.addTimer(panelTimer, kModalPanelRunLoopMode);

    auto opener = Timer::create(0.5, false, [&](Timer&) {
        events.push_back("open panel");
        defaultOnly->signal();
        common->signal();
        auto result = loop.runInMode(kModalPanelRunLoopMode, start + 60);
        events.push_back(result == RunLoop::RunResult::Stopped ? "panel stopped" : "panel timed out");
        events.push_back("back in " + loop.currentMode());
    });
    loop.addTimer(opener, kDefaultRunLoopMode);
    loop.runUntilDate(start + 5);
    EXPECT_EQ(events,
        (std::vector<std::string> {"open panel", "common source", "panel timer in NSModalPanelRunLoopMode", "panel stopped",
            "back in kCFRunLoopDefaultMode", "default source", "default timer"}));
}

TEST_F(ARunLoop, ServesFileDescriptorsWhenTheyBecomeReadable)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::string received;
    auto source = FileDescriptorSource::create(fds[0], FileDescriptorSource::Readable, [&](int fd, int ready) {
        EXPECT_TRUE(ready & FileDescriptorSource::Readable);
        char buffer[16];
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0)
            received.append(buffer, static_cast<std::size_t>(n));
    });
    loop.addFileDescriptorSource(source);
    loop.runUntilDate(start + 1);
    EXPECT_EQ(received, "");
    Timer::scheduledTimer(1.0, false, [&](Timer&) { ASSERT_EQ(write(fds[1], "ping", 4), 4); });
    loop.runUntilDate(start + 3);
    EXPECT_EQ(received, "ping");
    source->invalidate();
    close(fds[0]);
    close(fds[1]);
}

TEST_F(ARunLoop, ReturnsAfterTheFirstHandledSourceWhenAsked)
{
    auto source = RunLoopSource::create([&] { events.push_back("source"); });
    loop.addSource(source);
    Timer::scheduledTimer(3.0, false, [&](Timer&) { source->signal(); });
    auto result = loop.runInMode(kDefaultRunLoopMode, start + 100, true);
    EXPECT_EQ(result, RunLoop::RunResult::HandledSource);
    EXPECT_DOUBLE_EQ(elapsed(), 3.0);
    EXPECT_EQ(events, std::vector<std::string> {"source"});
}

TEST_F(ARunLoop, DropsRemovedAndInvalidatedSources)
{
    auto removed = RunLoopSource::create([&] { events.push_back("removed"); });
    auto invalid = RunLoopSource::create([&] { events.push_back("invalid"); });
    loop.addSource(removed);
    loop.addSource(invalid);
    removed->signal();
    invalid->signal();
    loop.removeSource(removed);
    invalid->invalidate();
    loop.runUntilDate(start + 1);
    EXPECT_TRUE(events.empty());
    EXPECT_FALSE(loop.runModeBeforeDate(kDefaultRunLoopMode, start + 2));
}

TEST(ARunLoopOnTheSystemClock, WakesForASignalFromAnotherThread)
{
    RunLoop& loop = RunLoop::current();
    bool served = false;
    auto source = RunLoopSource::create([&] { served = true; });
    loop.addSource(source);
    double start = currentDate();
    std::thread signaller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        source->signal();
    });
    loop.runInMode(kDefaultRunLoopMode, start + 10, true);
    signaller.join();
    EXPECT_TRUE(served);
    EXPECT_LT(currentDate() - start, 5.0);
    loop.removeAllSourcesForTesting();
}

namespace {

// A pump that answers as a toolkit's would, and notes what it was asked.
class ScriptedPump final : public RunLoopPump {
public:
    std::vector<double> timeouts;
    std::vector<int> watchedFds;
    int readyFd = -1;
    int wakeUps = 0;

    bool wait(std::vector<Watch>& watches, double timeoutSeconds) override
    {
        timeouts.push_back(timeoutSeconds);
        bool any = false;
        for (Watch& watch : watches) {
            watchedFds.push_back(watch.fd);
            watch.readyToRead = watch.fd == readyFd;
            any = any || watch.readyToRead;
        }
        readyFd = -1;
        return any;
    }
    void wakeUp() override { ++wakeUps; }
};

} // namespace

TEST(ARunLoopOnTheSystemClock, WaitsInItsPumpUntilTheNextTimerAndServesWhatThePumpFoundReady)
{
    RunLoop& loop = RunLoop::current();
    auto owned = std::make_unique<ScriptedPump>();
    ScriptedPump& pump = *owned;
    loop.setPump(std::move(owned));
    int served = 0;
    auto source = FileDescriptorSource::create(42, FileDescriptorSource::Readable, [&](int fd, int events) {
        served += fd == 42 && events == FileDescriptorSource::Readable;
    });
    loop.addFileDescriptorSource(source, kModalPanelRunLoopMode);
    pump.readyFd = 42;
    EXPECT_EQ(loop.runInMode(kModalPanelRunLoopMode, currentDate() + 60, true), RunLoop::RunResult::HandledSource);
    EXPECT_EQ(served, 1);
    ASSERT_EQ(pump.timeouts.size(), 1u);
    EXPECT_GT(pump.timeouts[0], 59.0);
    EXPECT_EQ(pump.watchedFds, std::vector<int> {42});

    // A timer due in a second bounds the wait; a signalled source wakes the pump.
    pump.timeouts.clear();
    auto timer = Timer::create(1.0, false, [](Timer&) {});
    loop.addTimer(timer, kModalPanelRunLoopMode);
    loop.runModeBeforeDate(kModalPanelRunLoopMode, currentDate() + 60);
    ASSERT_EQ(pump.timeouts.size(), 1u);
    EXPECT_LE(pump.timeouts[0], 1.0);
    auto signalled = RunLoopSource::create([] {});
    loop.addSource(signalled, kModalPanelRunLoopMode);
    signalled->signal();
    EXPECT_EQ(pump.wakeUps, 1);
    loop.removeAllSourcesForTesting();
    loop.setPump(nullptr);
}

TEST_F(ARunLoop, NeverLetsItsPumpWaitUnderAVirtualClock)
{
    auto owned = std::make_unique<ScriptedPump>();
    ScriptedPump& pump = *owned;
    loop.setPump(std::move(owned));
    auto timer = Timer::scheduledTimer(30.5, false, [&](Timer&) { events.push_back("fired"); });
    loop.runUntilDate(start + 40);
    EXPECT_EQ(events, std::vector<std::string> {"fired"});
    EXPECT_FALSE(pump.timeouts.empty());
    for (double timeout : pump.timeouts)
        EXPECT_EQ(timeout, 0.0);
    loop.setPump(nullptr);
}
