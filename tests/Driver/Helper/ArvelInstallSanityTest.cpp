// The install check on the virtual clock: what it says, whom it warns and
// when, and how long it keeps trying.
#include "Driver/Helper/ArvelInstallSanity.h"
#include "Paths/DiskRoot.h"
#include "RunLoop/RunLoop.h"
#include "support/MachineHarness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>

namespace {

using Entries = std::vector<CapturingLogSink::Entry>;

const char* const kPane = "/Library/PreferencePanes/Arvel.prefPane";
const char* const kDriver = "/System/Library/Extensions/Arvel.kext";
const char* const kStartupItem = "/Library/StartupItems/Arvel";

const std::string kAlert = "alert 1 (caution) from pid 0: \"Arvel Installation Error\" \"The Arvel driver is present but the Arvel "
                           "support files are missing. You should reinstall Arvel.\\n\\nIf you are attempting to uninstall Arvel "
                           "please use the Uninstall function of the installer to properly remove Arvel.\" [OK]\n";

class AnInstallCheck : public ::testing::Test {
protected:
    void install(std::initializer_list<const char*> paths)
    {
        for (const char* path : paths)
            std::filesystem::create_directories(hostPath(path));
    }

    // The person at the console presses OK as soon as the alert is up (the
    // check waits in the modal-panel mode), after noting when it came and
    // what it said.
    void answerAlertWhenShown()
    {
        answer_ = Timer::create(0, false, [this](Timer&) {
            alertShownAt_ = harness.elapsed();
            alertsShown_ = harness.machine().alerts().describe();
            const auto& shown = harness.machine().windows().shown();
            ASSERT_EQ(shown.size(), 1u);
            EXPECT_EQ(shown[0].kind, "alert");
            EXPECT_EQ(harness.machine().windows().press(shown[0].id, "OK"), machine::Windows::PressResult::Pressed);
        });
        RunLoop::current().addTimer(answer_, kModalPanelRunLoopMode);
    }

    MachineHarness harness;
    std::shared_ptr<Timer> answer_;
    double alertShownAt_ = -1;
    std::string alertsShown_;
};

TEST_F(AnInstallCheck, SaysSoInOneNoticeWhenEveryPartIsThere)
{
    install({kPane, kDriver, kStartupItem});
    harness.addUser("alice", 501);
    harness.login("alice");

    EXPECT_EQ(ArvelInstallSanity().run(), 0);
    EXPECT_EQ(harness.logEntries(), (Entries {MachineHarness::notice("ArvelInstallSanity: Arvel installation appears correct.")}));
    EXPECT_EQ(harness.machine().alerts().describe(), "alerts: none\n");
}

TEST_F(AnInstallCheck, WarnsTheUserOnTheConsoleAtOnceInACautionAlertAndTakesItAwayWhenAnswered)
{
    install({kDriver, kStartupItem});
    harness.addUser("alice", 501);
    harness.login("alice");
    answerAlertWhenShown();

    ArvelInstallSanity check;
    EXPECT_EQ(check.run(), 0);
    EXPECT_TRUE(check.warned());
    EXPECT_EQ(alertShownAt_, 0.0);
    EXPECT_EQ(alertsShown_, kAlert);
    EXPECT_EQ(harness.logEntries(), (Entries {MachineHarness::error("ArvelInstallSanity: Arvel installation sanity check failed.")}));
    EXPECT_EQ(harness.machine().alerts().describe(), "alerts: none\n");
    EXPECT_TRUE(harness.machine().windows().shown().empty());
}

TEST_F(AnInstallCheck, LooksEvery30SecondsUntilARealUserLogsInAndThenStopsLooking)
{
    install({kPane, kDriver});
    harness.addUser("alice", 501);
    harness.showLoginWindow();
    answerAlertWhenShown();
    auto login = Timer::create(70, false, [this](Timer&) { harness.login("alice"); });
    RunLoop::current().addTimer(login);

    ArvelInstallSanity check;
    EXPECT_EQ(check.run(), 0);
    // Looked at 0, 30 and 60 s (the login window is nobody), found her at 90.
    EXPECT_EQ(alertShownAt_, 90.0);
    EXPECT_EQ(alertsShown_, kAlert);
    // The run ends with the slice in which she was warned (its last moment),
    // and nothing looks again.
    EXPECT_EQ(harness.elapsed(), 90.0);
    EXPECT_EQ(RunLoop::current().nextTimerDate(kDefaultRunLoopMode), std::numeric_limits<double>::infinity());
    EXPECT_EQ(harness.logEntries(), (Entries {MachineHarness::error("ArvelInstallSanity: Arvel installation sanity check failed.")}));
}

TEST_F(AnInstallCheck, TriesTheAlertFiveTimes20SecondsApartThenLogsTheLastError)
{
    install({kPane});
    harness.addUser("alice", 501);
    harness.login("alice");
    harness.failNext("CFUserNotificationDisplayAlert", -2, -1);

    EXPECT_EQ(ArvelInstallSanity().run(), 0);
    EXPECT_EQ(harness.elapsed(), 100.0);
    EXPECT_EQ(harness.logEntries(),
        (Entries {MachineHarness::error("ArvelInstallSanity: Arvel installation sanity check failed."),
            MachineHarness::error("ArvelInstallSanity: Error -2 displaying user warning dialog.")}));
    EXPECT_EQ(harness.machine().alerts().describe(), "alerts: none\n");
}

TEST_F(AnInstallCheck, ShowsTheAlertOnTheThirdAttemptAfterTwoFailures)
{
    install({kPane, kStartupItem});
    harness.addUser("alice", 501);
    harness.login("alice");
    harness.failNext("CFUserNotificationDisplayAlert", -1, 2);
    answerAlertWhenShown();

    EXPECT_EQ(ArvelInstallSanity().run(), 0);
    EXPECT_EQ(alertShownAt_, 40.0);
    EXPECT_EQ(harness.logEntries(), (Entries {MachineHarness::error("ArvelInstallSanity: Arvel installation sanity check failed.")}));
}

} // namespace
