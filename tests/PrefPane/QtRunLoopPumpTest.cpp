// The run loop inside Qt's event loop: Qt's events are served while the
// loop waits, a ready descriptor wakes it, and a modal run serves only the
// modal-panel mode's sources and timers, with widgets alive.
#include "AppKitGUI/GUIApplication.h"
#include "RunLoop/Clock.h"
#include "RunLoop/RunLoop.h"
#include "support/MachineHarness.h"

#include <QDialog>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

namespace {

TEST(QtRunLoopPump, ServesQtWhileItWaitsAndWakesForAReadyDescriptor)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    GUIApplication application;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    bool qtRan = false, read = false;
    // Only a Qt timer, served inside the pump's wait, makes the descriptor ready.
    QTimer::singleShot(20, [&] {
        qtRan = true;
        char byte = 1;
        ASSERT_EQ(write(fds[1], &byte, 1), 1);
    });
    auto source = FileDescriptorSource::create(fds[0], FileDescriptorSource::Readable, [&](int fd, int) {
        char byte;
        read = ::read(fd, &byte, 1) == 1;
        RunLoop::current().stop();
    });
    RunLoop::current().addFileDescriptorSource(source);
    RunLoop::current().runUntilDate(currentDate() + 60);
    EXPECT_TRUE(qtRan);
    EXPECT_TRUE(read);
    RunLoop::current().removeFileDescriptorSource(source);
    close(fds[0]);
    close(fds[1]);
}

TEST(QtRunLoopPump, AModalRunServesTheModalModeAndQtButNotTheDefaultMode)
{
    MachineHarness world;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    GUIApplication application;
    QDialog panel;
    int modalFires = 0, defaultFires = 0;
    bool qtRan = false;
    auto outside = Timer::scheduledTimer(0.05, true, [&](Timer&) { ++defaultFires; });
    auto inside = Timer::create(0.1, true, [&](Timer&) {
        if (++modalFires == 3)
            application.stopModalWithCode(7);
    });
    RunLoop::current().addTimer(inside, kModalPanelRunLoopMode);
    QTimer::singleShot(0, [&] { qtRan = panel.isVisible(); });
    EXPECT_EQ(application.runModalForWindow(&panel), 7);
    EXPECT_EQ(modalFires, 3);
    EXPECT_EQ(defaultFires, 0);
    EXPECT_TRUE(qtRan);
    EXPECT_EQ(application.modalDepth(), 0u);
    inside->invalidate();
    // Back outside, the default mode's timer is served again.
    world.runFor(0);
    EXPECT_EQ(defaultFires, 1);
    outside->invalidate();
}

TEST(QtRunLoopPump, ModalRunsNestAndStopEndsTheInnermost)
{
    MachineHarness world;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    GUIApplication application;
    QDialog outer, inner;
    std::vector<std::string> order;
    auto start = Timer::create(0.1, false, [&](Timer&) {
        order.push_back("inner begins");
        order.push_back("inner ends " + std::to_string(application.runModalForWindow(&inner)));
        application.stopModalWithCode(1);
    });
    auto stopInner = Timer::create(0.2, false, [&](Timer&) { application.stopModalWithCode(2); });
    RunLoop::current().addTimer(start, kModalPanelRunLoopMode);
    RunLoop::current().addTimer(stopInner, kModalPanelRunLoopMode);
    order.push_back("outer ends " + std::to_string(application.runModalForWindow(&outer)));
    EXPECT_EQ(order, (std::vector<std::string> {"inner begins", "inner ends 2", "outer ends 1"}));
}

} // namespace
