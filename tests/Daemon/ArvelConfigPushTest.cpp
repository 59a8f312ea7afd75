// The daemon's main job, end to end in one process: the console, power and
// the driver change on the simulated machine, and the driver, the HID system
// and the login sessions show what the daemon made of it.
#include "Daemon/ArvelConfigPush.h"
#include "Common/ArvelNotifications.h"
#include "Daemon/arveld.h"
#include "IOKit/IOReturn.h"
#include "Foundation/PropertyList.h"
#include "Notifications/DistributedNotificationCenter.h"
#include "Paths/DiskRoot.h"
#include "Unix/Identity.h"
#include "tests/Daemon/DaemonFixture.h"

#include <filesystem>

using machine::DriverCall;

namespace {

Value dict(std::initializer_list<std::pair<const std::string, Value>> entries)
{
    return Value::dictionary(entries);
}

const Value kCalibration = dict({{"MinX", 120}, {"MinY", 96}, {"MaxX", 2880}, {"MaxY", 2304}});
const Value kEmptyApplicationSet = dict({{"ApplicationSet", Value::dictionary()}});

} // namespace

class TheConfigurationPush : public DaemonTest {
protected:
    std::unique_ptr<Arveld> daemon;
    // A login session's view: the notices every session gets.
    DistributedNotificationCenter session {101};
    int driverStateChanges = 0;

    TheConfigurationPush()
    {
        world.addUser("alice", 501);
        world.createHomeFolder("alice");
        world.writeUserSettings("alice", dict({{"PrefsVersion", 4}, {"CornerSize", 12}, {"Tap", dict({{"Action", 1}, {"Gesture", 2}})}}));
        world.writeUserGlobalPreferences("alice", dict({{"com.apple.trackpad.scaling", 1.25}}));
        world.writeSystemSettings(dict({{"PrefsVersion", 4}, {"Calibration", kCalibration}, {"LoginWindowTap", true}}));
        session.addObserver(this, [this](const Notification&) { ++driverStateChanges; }, kArvelDriverStateChangeNotification);
    }

    ~TheConfigurationPush() override
    {
        daemon.reset();
        session.removeObserver(this);
    }

    void startDaemon()
    {
        daemon = std::make_unique<Arveld>();
        ASSERT_EQ(daemon->startUp(), 0);
        world.runFor(1);
    }

    // Starts the daemon with the driver loaded and forgets what start-up did.
    void startQuietly()
    {
        world.loadDriver();
        startDaemon();
        clear();
    }

    void clear()
    {
        world.clearLog();
        world.driver().clearCalls();
        driverStateChanges = 0;
    }

    void loginAlice()
    {
        world.login("alice");
        world.runFor(1);
    }

    const Value& configuration() { return world.driver().hidConfiguration()["Arvel"]; }
};

TEST_F(TheConfigurationPush, AppliesAUsersMergedSettingsAtLoginReadingThemAsTheUser)
{
    startQuietly();
    loginAlice();
    EXPECT_EQ(world.logEntries(), (Entries {notice("ArvelConsoleUser: User \"alice\" UID 501 on console."),
                                      notice("ArvelConfigPush: Setting driver to configuration for UID 501.")}));
    EXPECT_EQ(world.driver().calls(), (std::vector<DriverCall> {{0, {}}}));
    // Alice's own settings (only her file holds them) over the machine's calibration.
    EXPECT_EQ(configuration().count(), 30u);
    EXPECT_EQ(configuration()["CornerSize"], Value(12));
    EXPECT_EQ(configuration()["Tap"], dict({{"Action", 1}, {"Gesture", 2}}));
    EXPECT_EQ(configuration()["Calibration"], kCalibration);
    EXPECT_EQ(world.hidSystem().parameters()["Arvel"], configuration());
    EXPECT_EQ(world.driver().acceleration("HIDTrackpadAcceleration"), 1.25);
    EXPECT_EQ(world.hidSystem().acceleration("HIDTrackpadAcceleration"), 1.25);
    EXPECT_EQ(world.hidSystem().openConnectionCount(), 0u);
    EXPECT_EQ(posix::geteuid(), 0u);
    EXPECT_EQ(posix::getegid(), 0u);
    EXPECT_EQ(posix::getgroups(), std::vector<posix::gid_t> {0});
    EXPECT_EQ(world.driver().lastApplicationProperties(), kEmptyApplicationSet);
    EXPECT_EQ(driverStateChanges, 1);
}

TEST_F(TheConfigurationPush, ReadsWithTheUsersGroupsTooAndTakesRootsBackAfterwards)
{
    startQuietly();
    // Root's groups kept for the read would open what only root's group may.
    world.failNext("setgroups", -1);
    loginAlice();
    EXPECT_EQ(world.logLines().back(), "ArvelConfigPush error: Unable to take group 20 for defaults read for UID 501.");
    EXPECT_EQ(world.hidSystem().propertiesWrites(), 0u);
    EXPECT_EQ(posix::geteuid(), 0u);
    EXPECT_EQ(driverStateChanges, 1);

    // What the read ran with shows when root's group cannot be taken back.
    clear();
    world.failNext("setegid:0", -1);
    world.logout();
    world.runFor(1);
    loginAlice();
    EXPECT_EQ(world.logLines().back(), "ArvelConfigPush error: After driver configuration unable to take back root's groups.");
    EXPECT_EQ(configuration()["CornerSize"], Value(12));
    EXPECT_EQ(posix::getegid(), 20u);
    EXPECT_EQ(posix::getgroups(), std::vector<posix::gid_t> {20});
    world.logout();
    world.runFor(1);
    loginAlice();
    EXPECT_EQ(posix::getegid(), 0u);
    EXPECT_EQ(posix::getgroups(), std::vector<posix::gid_t> {0});
}

TEST_F(TheConfigurationPush, GivesTheDefaultsForWhatAUserPutInPlaceOfHisSettings)
{
    // A link to a file only root may read, and a speed the pane never offers.
    const std::string settings = "/Users/alice/Library/Preferences/com.tessmoor.Arvel.plist";
    writePropertyListFile(hostPath("/private/var/root.plist"), dict({{"Secret", "root's"}, {"CornerSize", 20}}), nullptr, true);
    std::filesystem::remove(hostPath(settings));
    std::filesystem::create_symlink(hostPath("/private/var/root.plist"), hostPath(settings));
    world.writeUserGlobalPreferences("alice", dict({{"com.apple.trackpad.scaling", 1e300}}));
    startQuietly();
    loginAlice();
    EXPECT_EQ(world.logEntries(),
        (Entries {notice("ArvelConsoleUser: User \"alice\" UID 501 on console."),
            notice("ArvelConfigPush: Setting driver to configuration for UID 501."),
            error("Preferences error: \"" + settings + "\" cannot be read (a symbolic link); moved it aside to \"" + settings
                + ".unreadable\"."),
            error("ArvelUserDefaults error: Ignoring com.apple.trackpad.scaling 1e+300 from the global preferences: not "
                  "between 0 and 1.7; using 0.5.")}));
    EXPECT_EQ(configuration()["CornerSize"], Value(15));
    EXPECT_EQ(world.driver().acceleration("HIDTrackpadAcceleration"), 0.5);
    EXPECT_EQ(readPropertyList(hostPath(settings)).value, dict({{"ApplicationSet", dict({})}, {"PrefsVersion", 4}}));
    EXPECT_TRUE(std::filesystem::is_symlink(hostPath(settings + ".unreadable")));
}

TEST_F(TheConfigurationPush, AppliesTheLoginWindowSettingsWithTheMachinesTapAtLogout)
{
    startQuietly();
    loginAlice();
    clear();
    world.logout();
    world.runFor(1);
    EXPECT_EQ(world.logEntries(), (Entries {notice("ArvelConsoleUser: No user on console."),
                                      notice("ArvelConfigPush: Setting driver to loginwindow defaults.")}));
    EXPECT_EQ(world.driver().calls(), (std::vector<DriverCall> {{1, {}}}));
    auto corner = dict({{"Action", 0}});
    EXPECT_EQ(world.driver().hidConfiguration(),
        dict({{"Arvel", dict({{"Calibration", kCalibration}, {"Button", dict({{"Action", 1}})},
                            {"Tap", dict({{"Action", 1}, {"Gesture", 0}})}, {"IgnoreWhileTyping", false},
                            {"IgnoreWhileExternalMouse", false}, {"VerticalScrollEdge", 0}, {"VerticalScrollEdgeSize", 10},
                            {"VerticalScrollInvert", false}, {"HorizontalScrollEdge", 0}, {"HorizontalScrollEdgeSize", 10},
                            {"HorizontalScrollInvert", false}, {"VerticalScrollScale", 15}, {"HorizontalScrollScale", 15},
                            {"IgnoreTapInScroll", false}, {"ConvertOffAxis", false}, {"TapThreshold", 20},
                            {"NWCorner", corner}, {"NECorner", corner}, {"SWCorner", corner}, {"SECorner", corner},
                            {"CornerSize", 15}, {"AccelerationCurve", 0}})}}));
    EXPECT_EQ(world.driver().lastApplicationProperties(), kEmptyApplicationSet);
    EXPECT_EQ(driverStateChanges, 1);
}

TEST_F(TheConfigurationPush, OnlyTellsTheSessionsWhileNoDriverIsLoaded)
{
    startDaemon();
    clear();
    loginAlice();
    world.logout();
    world.runFor(1);
    EXPECT_EQ(world.logEntries(), (Entries {notice("ArvelConsoleUser: User \"alice\" UID 501 on console."),
                                      notice("ArvelConfigPush: UID 501 on console, no driver loaded."),
                                      notice("ArvelConsoleUser: No user on console."),
                                      notice("ArvelConfigPush: No driver loaded, unable to set loginwindow defaults.")}));
    EXPECT_EQ(world.hidSystem().propertiesWrites(), 0u);
    EXPECT_FALSE(world.hidSystem().acceleration("HIDTrackpadAcceleration"));
    EXPECT_EQ(driverStateChanges, 2);
    EXPECT_EQ(posix::geteuid(), 0u);
}

TEST_F(TheConfigurationPush, PushesAtOnceForAUserAlreadyOnTheConsoleAtStart)
{
    world.loadDriver();
    world.login("alice");
    startDaemon();
    EXPECT_EQ(world.logLines(), (Lines {"ArvelDriverAccess: Driver initial load.", "ArvelConfigPush: User \"alice\" on console.",
                                    "ArvelConfigPush: Setting driver to configuration for UID 501.", "arveld: Daemon started."}));
    EXPECT_EQ(configuration()["CornerSize"], Value(12));
    EXPECT_EQ(driverStateChanges, 1);
}

TEST_F(TheConfigurationPush, PushesNothingAtStartWithNobodyOnTheConsole)
{
    world.loadDriver();
    startDaemon();
    EXPECT_EQ(world.logLines(), (Lines {"ArvelDriverAccess: Driver initial load.", "arveld: Daemon started."}));
    EXPECT_EQ(world.hidSystem().propertiesWrites(), 0u);
    EXPECT_EQ(driverStateChanges, 0);
}

TEST_F(TheConfigurationPush, PushesTheUserAgainWhenTheDriverIsReloaded)
{
    startQuietly();
    loginAlice();
    world.unloadDriver();
    world.runFor(1);
    clear();
    world.loadDriver();
    world.runFor(2);
    EXPECT_EQ(world.logLines(), (Lines {"ArvelDriverAccess: Driver was loaded.", "ArvelConfigPush: User \"alice\" on console.",
                                    "ArvelConfigPush: Setting driver to configuration for UID 501."}));
    EXPECT_EQ(world.driver().calls(), (std::vector<DriverCall> {{0, {}}}));
    EXPECT_EQ(configuration()["CornerSize"], Value(12));
    EXPECT_EQ(world.driver().acceleration("HIDTrackpadAcceleration"), 1.25);
    EXPECT_EQ(world.driver().lastApplicationProperties(), kEmptyApplicationSet);
    EXPECT_EQ(driverStateChanges, 1);
}

TEST_F(TheConfigurationPush, GivesAnIdWithoutAUserTheDefaultsAndIsRootAgainAfterwards)
{
    startQuietly();
    NotificationCenter::defaultCenter().postNotificationName(kArvelConsoleUserLoginNotification, 777u);
    // The store's first write has nowhere to go; that costs a line, not the push.
    const std::string noHome = "NSUserDefaults error: Unable to write domain \"com.tessmoor.Arvel\": user id 777 has no home folder.";
    EXPECT_EQ(world.logLines(), (Lines {"ArvelConfigPush: Setting driver to configuration for UID 777.", noHome, noHome}));
    EXPECT_EQ(configuration().count(), 30u);
    EXPECT_EQ(configuration()["CornerSize"], Value(15));
    EXPECT_EQ(configuration()["Tap"], dict({{"Action", 0}, {"Gesture", 0}}));
    EXPECT_EQ(world.driver().acceleration("HIDTrackpadAcceleration"), 0.5);
    EXPECT_EQ(posix::geteuid(), 0u);
    world.runFor(1);
    EXPECT_EQ(driverStateChanges, 1);
}

TEST_F(TheConfigurationPush, StaysRootAndStillTellsTheSessionsWhenItCannotBecomeTheUser)
{
    startQuietly();
    world.failNext("seteuid:501", -1);
    loginAlice();
    EXPECT_EQ(world.logEntries(), (Entries {notice("ArvelConsoleUser: User \"alice\" UID 501 on console."),
                                      notice("ArvelConfigPush: Setting driver to configuration for UID 501."),
                                      error("ArvelConfigPush error: Unable to seteuid for defaults read for UID 501.")}));
    EXPECT_EQ(world.hidSystem().propertiesWrites(), 0u);
    EXPECT_EQ(posix::geteuid(), 0u);
    EXPECT_EQ(world.driver().lastApplicationProperties(), kEmptyApplicationSet);
    EXPECT_EQ(driverStateChanges, 1);
}

TEST_F(TheConfigurationPush, ReportsAFailedReturnToRootAndRecoversAtTheNextPush)
{
    startQuietly();
    world.failNext("seteuid:0", -1);
    loginAlice();
    // Still the user, the daemon cannot write the driver, which is root's.
    auto lines = world.logLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
        (std::vector<std::string> {"ArvelConfigPush error: After driver configuration unable to seteuid root.",
            "ArvelDriverAccess error: Driver properties could not be written due to kernel error: e00002c1."}));
    EXPECT_EQ(posix::geteuid(), 501u);
    EXPECT_EQ(configuration()["CornerSize"], Value(12));
    clear();
    world.logout();
    world.runFor(1);
    world.login("alice");
    world.runFor(1);
    EXPECT_EQ(posix::geteuid(), 0u);
}

TEST_F(TheConfigurationPush, LogsADriverThatRefusesTheConsoleCallAndCarriesOn)
{
    startQuietly();
    world.failNext("IOConnectMethodScalarIScalarO:0", kIOReturnError);
    loginAlice();
    EXPECT_EQ(world.logEntries(), (Entries {notice("ArvelConsoleUser: User \"alice\" UID 501 on console."),
                                      error("ArvelDriverAccess error: userOnConsole failed 0xe00002bc."),
                                      error("ArvelConfigPush: Unable to notify driver of user on console."),
                                      notice("ArvelConfigPush: Setting driver to configuration for UID 501.")}));
    EXPECT_EQ(configuration()["CornerSize"], Value(12));
}

TEST_F(TheConfigurationPush, WritesTheMergedPropertiesToTheLogWhenVerbose)
{
    setVerboseLoggingForTesting(true);
    startQuietly();
    loginAlice();
    auto lines = world.logLines();
    auto verbose = std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l.starts_with("ArvelConfigPush: UID 501 properties {Arvel = {"); });
    ASSERT_NE(verbose, lines.end());
    EXPECT_NE(verbose->find("Calibration = {MaxX = 2880; MaxY = 2304; MinX = 120; MinY = 96; }; "), std::string::npos);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "ArvelHIDAccess: Sending " + world.driver().hidConfiguration().description()), lines.end());
}

class TheDaemonAcrossSleep : public TheConfigurationPush {
};

TEST_F(TheDaemonAcrossSleep, RestoresTheUserWhoWasOnTheConsole)
{
    startQuietly();
    loginAlice();
    clear();
    world.sleep();
    world.runFor(10);
    world.wake();
    world.runFor(1);
    EXPECT_EQ(world.logLines(), (Lines {"ArvelSystemPower: System going to sleep, caching user \"alice\" UID 501.",
                                    "ArvelSystemPower: System wake, restoring settings for user \"alice\" UID 501.",
                                    "ArvelConfigPush: Setting driver to configuration for UID 501."}));
    EXPECT_EQ(world.driver().calls(), (std::vector<DriverCall> {{0, {}}}));
    EXPECT_EQ(driverStateChanges, 1);
    EXPECT_EQ(world.power().messages().size(), 2u);
    EXPECT_TRUE(world.power().everyMessageAcknowledged());
}

TEST_F(TheDaemonAcrossSleep, LeavesTheWakeToTheConsoleChangeWhenTheUserLeftMeanwhile)
{
    startQuietly();
    loginAlice();
    clear();
    world.sleep();
    world.runFor(1);
    world.logout();
    world.runFor(1);
    world.wake();
    world.runFor(1);
    EXPECT_EQ(world.logLines(), (Lines {"ArvelSystemPower: System going to sleep, caching user \"alice\" UID 501.",
                                    "ArvelConsoleUser: No user on console.",
                                    "ArvelSystemPower: Console user change invalidating cached sleep/wake console user.",
                                    "ArvelConfigPush: Setting driver to loginwindow defaults."}));
    EXPECT_EQ(driverStateChanges, 1);
    EXPECT_TRUE(world.power().everyMessageAcknowledged());
}

TEST_F(TheDaemonAcrossSleep, WakesTheLoginWindowWithNilAfterASleepWithNobody)
{
    startQuietly();
    world.showLoginWindow();
    world.runFor(1);
    clear();
    world.sleep();
    world.runFor(1);
    // A login meanwhile does not matter: nobody was cached.
    loginAlice();
    world.wake();
    world.runFor(1);
    EXPECT_EQ(world.logLines(), (Lines {"ArvelSystemPower: System going to sleep, no user on console.",
                                    "ArvelConsoleUser: User \"alice\" UID 501 on console.",
                                    "ArvelConfigPush: Setting driver to configuration for UID 501.",
                                    "ArvelSystemPower: System wake, no prior user settings to restore.",
                                    "ArvelConfigPush: User \"alice\" on console.",
                                    "ArvelConfigPush: Setting driver to configuration for UID 501."}));
    EXPECT_EQ(driverStateChanges, 2);
}

TEST_F(TheDaemonAcrossSleep, AnswersEveryMessageButActsOnlyOnTheFirstWake)
{
    startQuietly();
    loginAlice();
    clear();
    world.askCanSleep();
    world.runFor(1);
    EXPECT_TRUE(world.logLines().empty());
    world.sleep();
    world.runFor(1);
    world.wake();
    world.runFor(1);
    world.wake();
    world.runFor(1);
    EXPECT_EQ(world.logLines(), (Lines {"ArvelSystemPower: System going to sleep, caching user \"alice\" UID 501.",
                                    "ArvelSystemPower: System wake, restoring settings for user \"alice\" UID 501.",
                                    "ArvelConfigPush: Setting driver to configuration for UID 501."}));
    EXPECT_EQ(world.power().messages().size(), 4u);
    EXPECT_TRUE(world.power().everyMessageAcknowledged());
    EXPECT_EQ(driverStateChanges, 1);
}

TEST_F(TheDaemonAcrossSleep, StopsListeningWhenItGoes)
{
    startQuietly();
    EXPECT_EQ(world.power().clientCount(), 1u);
    daemon.reset();
    releaseSharedInstances();
    EXPECT_EQ(world.power().clientCount(), 0u);
    world.sleep();
    world.runFor(1);
    EXPECT_TRUE(world.logLines().empty());
}
