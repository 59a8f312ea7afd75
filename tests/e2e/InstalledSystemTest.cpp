// The whole system as real processes: arveld started by the machine's boot
// from its startup item, each user's ArvelSessionAgent started by the login
// window from the login items, both on arvel-machine over the tests' private
// bus. Each test drives the machine as a person would and checks what the
// programs left: the daemon's system-log lines, the agents' console lines,
// the driver's and the HID system's state, the user's files. At the end the
// machine shuts down and no process it started may be left.
//
// The login items run with the users' own ids, which only a root service
// can give them: the tests run as root, and skip otherwise.
#include "e2e/InstalledSystem.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

const char* const kStartupItem = "/Library/StartupItems/Arvel/Arvel";
const char* const kHost = "/Applications/System Preferences.app/Contents/MacOS/System Preferences";
const char* const kAgent = "/Library/PreferencePanes/Arvel.prefPane/Contents/Resources/ArvelSessionAgent.app/Contents/MacOS/ArvelSessionAgent";

const char* const kEmptyApplicationSet = "{ApplicationSet = {}; }";

// alice's application sets: Safari by its bundle identifier, Editor by its
// creator and bundle name (its bundle identifier has no set), Tool by its
// bare bundle name (its creator is "????").
const char* const kAliceApplicationSets = R"(<dict>
  <key>com.apple.Safari</key><dict>
    <key>ApplicationName</key><string>Safari</string>
    <key>NWCorner</key><dict><key>Action</key><integer>7</integer><key>Data</key><integer>65571</integer></dict>
    <key>NECorner</key><dict><key>Action</key><integer>4</integer></dict>
    <key>SECorner</key><dict><key>Action</key><integer>1</integer></dict>
  </dict>
  <key>'ttxt'Editor.app</key><dict>
    <key>ApplicationName</key><string>Editor</string>
    <key>SWCorner</key><dict><key>Action</key><integer>2</integer><key>Data</key><integer>131072</integer></dict>
  </dict>
  <key>Tool.app</key><dict>
    <key>ApplicationName</key><string>Tool</string>
  </dict>
</dict>)";

// What the driver is given for each (a corner the set lacks, or holds
// without the data its action needs, goes as action 0; the name never goes).
const char* const kSafariCorners
    = "{ApplicationSet = {NECorner = {Action = 4; }; NWCorner = {Action = 7; Data = 65571; }; SECorner = {Action = 0; }; "
      "SWCorner = {Action = 0; }; }; }";
const char* const kEditorCorners
    = "{ApplicationSet = {NECorner = {Action = 0; }; NWCorner = {Action = 0; }; SECorner = {Action = 0; }; "
      "SWCorner = {Action = 2; Data = 131072; }; }; }";
const char* const kToolCorners
    = "{ApplicationSet = {NECorner = {Action = 0; }; NWCorner = {Action = 0; }; SECorner = {Action = 0; }; "
      "SWCorner = {Action = 0; }; }; }";

// The daemon's verbose lines that print whole dictionaries or object
// addresses; the tests that run it verbose compare the rest exactly.
Lines withoutDumps(const Lines& lines)
{
    Lines out;
    for (const std::string& line : lines) {
        if (line.find("ArvelDOServer: Published") == std::string::npos && line.find(" properties {") == std::string::npos
            && line.find("ArvelHIDAccess: Sending {") == std::string::npos
            && line.find("ArvelDriverAccess: Sending properties") == std::string::npos)
            out.push_back(line);
    }
    return out;
}

std::string firstLine(const std::string& text)
{
    return text.substr(0, text.find('\n'));
}

std::string joined(const Lines& lines)
{
    std::string out;
    for (const std::string& line : lines)
        out += "\n  " + line;
    return out;
}

class AnInstalledSystem : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "the login items take the users' ids, which only a root machine service can give";
    }
    void TearDown() override
    {
        if (!system)
            return;
        std::vector<pid_t> left = system->finish();
        EXPECT_FALSE(system->hostPidsSeen().empty()) << "the machine named no program it started";
        EXPECT_EQ(left, std::vector<pid_t> {}) << "processes the machine started are still running";
        EXPECT_EQ(system->serviceStatus(), 0);
    }

    // The install for alice (501) and bob (502), alice's stored settings
    // (and application sets when asked), the machine serving it, booted:
    // the driver loaded and the daemon started from its startup item.
    bool bootInstalled(bool withApplicationSets, const std::vector<std::string>& environment = {"ArvelDebug="})
    {
        system = std::make_unique<InstalledSystem>(std::vector<std::string> {"alice:501", "bob:502"});
        if (!system->problem().empty())
            return fail();
        for (const InstalledSystem::Words& words : std::vector<InstalledSystem::Words> {
                 {"--user", "alice", "write", "com.tessmoor.Arvel", "PrefsVersion", "-int", "3"},
                 {"--user", "alice", "write", "com.tessmoor.Arvel", "VerticalScroll", "-int", "2"},
                 {"--user", "alice", "write", "com.tessmoor.Arvel", "CornerSize", "-int", "12"},
                 {"--user", "alice", "write", "com.tessmoor.Arvel", "NWCorner", "-dict", "Action", "-int", "7", "Data", "-int", "65571"},
                 {"--user", "alice", "write", "NSGlobalDomain", "com.apple.trackpad.scaling", "-float", "1.25"},
                 {"--any-user", "write", "-currentHost", "com.tessmoor.Arvel", "PrefsVersion", "-int", "4"},
                 {"--any-user", "write", "-currentHost", "com.tessmoor.Arvel", "Calibration", "-dict", "MinX", "-int", "100", "MinY", "-int",
                     "80", "MaxX", "-int", "2900", "MaxY", "-int", "2320"},
             }) {
            if (!system->defaults(words))
                return fail();
        }
        if (withApplicationSets && !system->defaults({"--user", "alice", "write", "com.tessmoor.Arvel", "ApplicationSet", kAliceApplicationSets}))
            return fail();
        if (!system->serve(environment))
            return fail();
        system->ok({"add-user", "alice", "501"});
        system->ok({"add-user", "bob", "502"});
        const std::string boot = system->ok({"boot"});
        if (boot.rfind("driver /System/Library/Extensions/Arvel.kext loaded\nstartup item Arvel: pid 2, host pid ", 0) != 0) {
            ADD_FAILURE() << "boot answered: " << boot;
            return false;
        }
        return wait({"log", "arveld: Daemon started."});
    }

    // alice logs in; her agent's host pid once its session is tracked (its
    // application events are watched from then on).
    pid_t loginAlice()
    {
        const std::string login = system->ok({"login", "alice"});
        const pid_t agent = InstalledSystem::hostPidIn(login);
        EXPECT_EQ(login, "alice logged in: session 100001 on the console\n"
                         "login item /Library/PreferencePanes/Arvel.prefPane/Contents/Resources/ArvelSessionAgent.app (hidden): pid 5, host pid "
                + std::to_string(agent) + ", UID 501\n");
        EXPECT_TRUE(system->waitForAgentRun(agent, 0, {"ArvelSessionAgent: Tracking for user \"alice\" in session 100001."}))
            << joined(system->agentLines(agent));
        EXPECT_TRUE(wait({"driver-app-writes", "1"})) << "the daemon's push for alice ends by clearing the application override";
        return agent;
    }

    void launchApplications()
    {
        system->ok({"launch", "Safari", "com.apple.Safari", "/Applications/Safari.app", "sfri"});
        system->ok({"launch", "Finder", "com.apple.finder", "/System/Library/CoreServices/Finder.app", "MACS"});
        system->ok({"launch", "Editor", "com.example.Editor", "/Applications/Editor.app", "ttxt"});
        system->ok({"launch", "Tool", "com.example.Tool", "/Applications/Tool.app", "????"});
    }

    // The application comes to the front and the driver is given these
    // per-application settings.
    void front(const std::string& application, const std::string& corners, double timeoutSeconds = 5)
    {
        system->ok({"front", application});
        EXPECT_TRUE(system->waitForDriver("per-application dictionary", corners, timeoutSeconds))
            << application << " in front; the driver holds " << system->driverValue("per-application dictionary");
    }

    bool wait(const InstalledSystem::Words& condition, double timeoutSeconds = 5)
    {
        bool held = system->waitFor(condition, timeoutSeconds);
        if (!held)
            ADD_FAILURE() << "timed out waiting for " << ::testing::PrintToString(condition) << "; the system log:" << joined(system->logLines());
        return held;
    }

    bool fail()
    {
        ADD_FAILURE() << system->problem();
        return false;
    }

    std::unique_ptr<InstalledSystem> system;
};

TEST_F(AnInstalledSystem, PushesTheUsersSettingsAtLoginAndLeavesHerSettingsFileHers)
{
    ASSERT_TRUE(bootInstalled(false));
    EXPECT_EQ(system->logLinesOf("arveld[2]"), (Lines {"arveld[2] <Notice>: ArvelDriverAccess: Driver initial load.",
                                                   "arveld[2] <Notice>: arveld: Daemon started."}));
    const std::string settings = system->root() + "/Users/alice/Library/Preferences/com.tessmoor.Arvel.plist";
    struct stat before {};
    ASSERT_EQ(stat(settings.c_str(), &before), 0);
    ASSERT_EQ(before.st_uid, 501u) << "the defaults tool, run as root, wrote it as alice: her home is hers";
    EXPECT_EQ(before.st_gid, 20u);

    // Without her login items only the daemon reads her settings, so it is
    // the daemon that brings them to the current format.
    ASSERT_EQ(unlink((system->root() + "/Users/alice/Library/Preferences/loginwindow.plist").c_str()), 0);
    const std::size_t since = system->logLength();
    EXPECT_EQ(system->ok({"login", "alice"}), "alice logged in: session 100001 on the console\n");
    ASSERT_TRUE(wait({"driver-app-writes", "1"}));

    EXPECT_EQ(system->logLinesOf("arveld[2]", since),
        (Lines {"arveld[2] <Notice>: ArvelConsoleUser: User \"alice\" UID 501 on console.",
            "arveld[2] <Notice>: ArvelConfigPush: Setting driver to configuration for UID 501.",
            "arveld[2] <Notice>: ArvelUserDefaults: Migrating from version 3 to version 4 preferences."}));
    EXPECT_EQ(system->ok({"show", "driver"}),
        "driver: loaded, 1 client connection(s) open\n"
        "  user on console: yes\n"
        "  calls: 0\n"
        "  calibration mode: off, observed {MinX = 3000; MinY = 3000; MaxX = 1; MaxY = 1; }\n"
        "  Calibration = {MaxX = 2880; MaxY = 2304; MinX = 120; MinY = 96; }\n"
        "  DebugLogging = false\n"
        "  per-application dictionary = {ApplicationSet = {}; }\n"
        "  configuration from the HID system = {Arvel = {AccelerationCurve = 0; Button = {Action = 1; }; "
        "Calibration = {MaxX = 2900; MaxY = 2320; MinX = 100; MinY = 80; }; ConvertOffAxis = 0; CornerSize = 12; DragReleaseMS = 700; "
        "HorizontalScrollEdge = 0; HorizontalScrollEdgeSize = 10; HorizontalScrollInvert = 0; HorizontalScrollScale = 15; "
        "IgnoreTapInScroll = 0; IgnoreWhileExternalMouse = 0; IgnoreWhileTyping = 0; IgnoreWhileTypingEdgeFilter = 0; "
        "IgnoreWhileTypingMS = 200; IgnoreWhileTypingMotionOverride = 1; MouseKeepMoving = 0; MouseKeepMovingSize = 8; "
        "NECorner = {Action = 0; }; NWCorner = {Action = 7; Data = 65571; }; SECorner = {Action = 0; }; SWCorner = {Action = 0; }; "
        "ScrollKeepMoving = 0; ScrollKeepMovingSize = 18; Tap = {Action = 0; Gesture = 0; }; TapThreshold = 20; "
        "VerticalScrollEdge = 2; VerticalScrollEdgeSize = 10; VerticalScrollInvert = 0; VerticalScrollScale = 15; }; }\n"
        "  HIDTrackpadAcceleration = 1.25\n");

    // The daemon wrote them acting as alice, with her group: the file is
    // still hers, and holds the current format.
    struct stat after {};
    ASSERT_EQ(stat(settings.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino) << "written anew";
    EXPECT_EQ(after.st_uid, 501u);
    EXPECT_EQ(after.st_gid, 20u);
    std::string version;
    ASSERT_TRUE(system->defaults({"--user", "alice", "read", "com.tessmoor.Arvel", "PrefsVersion"}, &version));
    EXPECT_EQ(version, "4\n");
}

TEST_F(AnInstalledSystem, GivesTheDriverTheCornersOfTheApplicationInFront)
{
    ASSERT_TRUE(bootInstalled(true));
    loginAlice();
    launchApplications();
    front("Safari", kSafariCorners);
    // A creator but no set: the empty form, also right after a set.
    front("Finder", kEmptyApplicationSet);
    // The set kept under the creator form of the key, the bundle
    // identifier having none; a set under the bare bundle name.
    front("Editor", kEditorCorners);
    front("Tool", kToolCorners);
    front("Finder", kEmptyApplicationSet);
    front("Safari", kSafariCorners);
}

TEST_F(AnInstalledSystem, TheAgentReconnectsToADaemonKilledAndStartedAgainWithinItsRetry)
{
    ASSERT_TRUE(bootInstalled(true, {"ArvelDebug=YES"}));
    const pid_t agent = loginAlice();
    launchApplications();
    front("Safari", kSafariCorners);
    const pid_t daemon = system->hostPidOf(kStartupItem);
    ASSERT_GT(daemon, 0);

    const std::size_t agentSince = system->agentLines(agent).size();
    const auto killed = Clock::now();
    ASSERT_EQ(kill(daemon, SIGKILL), 0);
    ASSERT_TRUE(wait({"log", "Arvel (pid 2, host pid " + std::to_string(daemon) + ") ended by signal 9"}));
    const Lines lost {"ArvelSessionAgent: Potential driver access connection status change.",
        "ArvelSessionAgent error: Lost daemon driver connection.",
        "ArvelSessionAgent: No daemon connection, no application configuration push.",
        "ArvelSessionAgent: No daemon connection, no application configuration push.",
        "ArvelSessionAgent: Unable to obtain driver configuration access, scheduling retry."};
    ASSERT_TRUE(system->waitForAgentRun(agent, agentSince, lost)) << joined(system->agentLines(agent, agentSince));
    EXPECT_EQ(system->ok({"show", "power"}), "power: awake, 0 client(s)\n");

    const std::size_t since = system->logLength();
    const std::string started = system->ok({"start", kStartupItem});
    EXPECT_EQ(started, "program /Library/StartupItems/Arvel/Arvel: pid 10, host pid " + std::to_string(InstalledSystem::hostPidIn(started))
            + ", UID 0\n");
    ASSERT_TRUE(wait({"log", "arveld[10] <Notice>: arveld: Daemon started."}));
    // With alice on the console, the new daemon pushes her settings at once.
    EXPECT_EQ(withoutDumps(system->logLinesOf("arveld[10]", since)),
        (Lines {"arveld[10] <Notice>: ArvelDriverAccess: Driver initial load.",
            "arveld[10] <Notice>: ArvelConfigPush: User \"alice\" on console.",
            "arveld[10] <Notice>: ArvelConfigPush: Setting driver to configuration for UID 501.",
            "arveld[10] <Notice>: arveld: Daemon started."}));

    // The retry, 10 s after the loss, finds the new daemon and puts Safari's
    // corners back over the empty form the new daemon's push left.
    const double left = 21.0 - std::chrono::duration<double>(Clock::now() - killed).count();
    EXPECT_TRUE(system->waitForDriver("per-application dictionary", kSafariCorners, left))
        << "the driver holds " << system->driverValue("per-application dictionary");
    Lines expected = lost;
    for (const char* line : {"ArvelSessionAgent: Driver state change.", "ArvelSessionAgent: Tracking for user \"alice\" in session 100001.",
             "ArvelSessionAgent: No daemon connection, no application configuration push.",
             "ArvelSessionAgent: No daemon connection, no application configuration push.",
             "ArvelSessionAgent: Front process key \"com.apple.Safari\".",
             "ArvelSessionAgent: Custom configuration for application \"Safari\"."})
        expected.push_back(line);
    EXPECT_TRUE(system->waitForAgentRun(agent, agentSince, expected)) << joined(system->agentLines(agent, agentSince));

    front("Finder", kEmptyApplicationSet);
    front("Safari", kSafariCorners);
    // The dead daemon's driver connection and power registration went with it.
    EXPECT_EQ(firstLine(system->ok({"show", "driver"})), "driver: loaded, 1 client connection(s) open");
    EXPECT_EQ(system->ok({"show", "power"}), "power: awake, 1 client(s)\n");
}

TEST_F(AnInstalledSystem, RefusesASecondDaemonWhileTheFirstKeepsServing)
{
    ASSERT_TRUE(bootInstalled(true));
    const pid_t agent = loginAlice();
    launchApplications();
    front("Safari", kSafariCorners);

    const std::size_t since = system->logLength();
    const std::string started = system->ok({"start", kStartupItem});
    const std::string host = std::to_string(InstalledSystem::hostPidIn(started));
    EXPECT_EQ(started, "program /Library/StartupItems/Arvel/Arvel: pid 10, host pid " + host + ", UID 0\n");
    ASSERT_TRUE(wait({"log", "Arvel (pid 10, host pid "}));
    Lines lines = system->logLines(since);
    ASSERT_EQ(lines.size(), 5u) << joined(lines);
    // It detaches before it publishes: the process that ends is the detached one.
    std::smatch detached;
    ASSERT_TRUE(std::regex_match(lines[4], detached, std::regex("arvel-machine\\[0\\] <Notice>: Arvel \\(pid 10, host pid ([0-9]+)\\) exited with status 255")))
        << lines[4];
    EXPECT_NE(detached[1].str(), host);
    lines.pop_back();
    EXPECT_EQ(lines, (Lines {"arvel-machine[0] <Notice>: program /Library/StartupItems/Arvel/Arvel: pid 10, host pid " + host + ", UID 0",
                         "arveld[10] <Notice>: ArvelDriverAccess: Driver initial load.",
                         "arveld[10] <Error>: ArvelDOServer error: Unable to register name \"com.tessmoor.Arvel.DaemonDriverAccess\".",
                         "arveld[10] <Error>: arveld error: Unable to build or serve the driver access."}));

    // Nothing of the refused one stays: the first one's driver connection
    // and power registration are the only ones, and its clients never
    // noticed.
    EXPECT_EQ(firstLine(system->ok({"show", "driver"})), "driver: loaded, 1 client connection(s) open");
    EXPECT_EQ(system->ok({"show", "power"}), "power: awake, 1 client(s)\n");
    front("Finder", kEmptyApplicationSet);
    front("Safari", kSafariCorners);
    for (const std::string& line : system->agentLines(agent))
        EXPECT_EQ(line.find("Lost daemon driver connection"), std::string::npos) << line;
}

TEST_F(AnInstalledSystem, TellsTheAgentOfEveryLoginSessionWhenTheDriverIsReloaded)
{
    ASSERT_TRUE(bootInstalled(false, {"ArvelDebug=YES"}));
    const pid_t alice = loginAlice();
    system->ok({"launch", "Finder", "com.apple.finder", "/System/Library/CoreServices/Finder.app", "MACS"});
    system->ok({"front", "Finder"});
    ASSERT_TRUE(system->waitForAgentRun(alice, 0, {"ArvelSessionAgent: Front process key \"'MACS'Finder.app\"."}));
    const std::string login = system->ok({"login", "bob"});
    const pid_t bob = InstalledSystem::hostPidIn(login);
    EXPECT_EQ(login, "bob logged in: session 100002 on the console\n"
                     "login item /Library/PreferencePanes/Arvel.prefPane/Contents/Resources/ArvelSessionAgent.app (hidden): pid 7, host pid "
            + std::to_string(bob) + ", UID 502\n");
    EXPECT_EQ(system->ok({"show", "sessions"}), "session 100001: alice (UID 501), in the background\n"
                                                "session 100002: bob (UID 502), on the console\n");
    ASSERT_TRUE(system->waitForAgentRun(bob, 0, {"ArvelSessionAgent: Tracking for user \"bob\" in session 100002."}));
    ASSERT_TRUE(system->waitForAgentRun(alice, 0, {"ArvelSessionAgent: Tracking for user \"alice\" in inactive session 100001."}));
    ASSERT_TRUE(wait({"log", "Setting driver to configuration for UID 502."}));
    EXPECT_NE(system->hostPidOf(kAgent), -1);

    const std::size_t aliceSince = system->agentLines(alice).size();
    const std::size_t bobSince = system->agentLines(bob).size();
    const std::size_t since = system->logLength();
    EXPECT_EQ(system->ok({"unload-driver"}), "driver unloaded\n");
    EXPECT_EQ(system->ok({"load-driver"}), "driver loaded\n");
    EXPECT_TRUE(eventually([&] { return withoutDumps(system->logLinesOf("arveld[2]", since)).size() >= 4; }, 5));
    EXPECT_EQ(withoutDumps(system->logLinesOf("arveld[2]", since)),
        (Lines {"arveld[2] <Notice>: ArvelDriverAccess: Driver was unloaded.", "arveld[2] <Notice>: ArvelDriverAccess: Driver was loaded.",
            "arveld[2] <Notice>: ArvelConfigPush: User \"bob\" on console.",
            "arveld[2] <Notice>: ArvelConfigPush: Setting driver to configuration for UID 502."}));

    // Each agent re-reads its session: alice's in the background pushes
    // nothing; bob's, on the console, looks at his session's front
    // application: none yet, alice's Finder being hers.
    EXPECT_TRUE(system->waitForAgentRun(alice, aliceSince,
        {"ArvelSessionAgent: Driver state change.", "ArvelSessionAgent: Tracking for user \"alice\" in inactive session 100001.",
            "ArvelSessionAgent: Session is not front, no application configuration push.",
            "ArvelSessionAgent: Session is not front, no application configuration push."}))
        << joined(system->agentLines(alice, aliceSince));
    EXPECT_TRUE(system->waitForAgentRun(bob, bobSince,
        {"ArvelSessionAgent: Driver state change.", "ArvelSessionAgent: Tracking for user \"bob\" in session 100002.",
            "ArvelSessionAgent: Unable to obtain front process PSN.", "ArvelSessionAgent: Unable to obtain front process PSN."}))
        << joined(system->agentLines(bob, bobSince));
}

TEST_F(AnInstalledSystem, AnswersEveryPowerMessageAndPushesTheUsersSettingsAgainAtWake)
{
    ASSERT_TRUE(bootInstalled(false));
    loginAlice();
    const std::string hidBefore = system->ok({"show", "hid"});
    const std::size_t since = system->logLength();

    EXPECT_EQ(system->ok({"can-sleep"}), "asked 1 power client(s) whether the machine may sleep\n");
    ASSERT_TRUE(wait({"power-acknowledged"}));
    EXPECT_EQ(system->ok({"sleep"}), "the machine sleeps: told 1 power client(s)\n");
    ASSERT_TRUE(wait({"power-acknowledged"}));
    EXPECT_EQ(system->ok({"wake"}), "the machine wakes: told 1 power client(s)\n");
    ASSERT_TRUE(wait({"power-acknowledged"}));
    ASSERT_TRUE(system->waitForLogLinesOf("arveld[2]", since, 3));
    EXPECT_EQ(system->logLinesOf("arveld[2]", since),
        (Lines {"arveld[2] <Notice>: ArvelSystemPower: System going to sleep, caching user \"alice\" UID 501.",
            "arveld[2] <Notice>: ArvelSystemPower: System wake, restoring settings for user \"alice\" UID 501.",
            "arveld[2] <Notice>: ArvelConfigPush: Setting driver to configuration for UID 501."}));
    EXPECT_EQ(system->ok({"show", "power"}), "power: awake, 1 client(s)\n"
                                             "  can-system-sleep to client 1 (0x5000): acknowledged\n"
                                             "  system-will-sleep to client 1 (0x5001): acknowledged\n"
                                             "  system-has-powered-on to client 1 (0x5002): acknowledged\n");
    // The wake push reached the driver (its second user-on-console call)
    // and the HID system (a second configuration, alice's again).
    ASSERT_TRUE(wait({"driver-app-writes", "2"}));
    EXPECT_NE(system->ok({"show", "driver"}).find("\n  calls: 0 0\n"), std::string::npos) << system->ok({"show", "driver"});
    const std::string held = hidBefore.substr(hidBefore.find('\n'));
    EXPECT_EQ(hidBefore.substr(0, hidBefore.find('\n')), "HID system: 1 configuration(s) received");
    EXPECT_NE(held.find("  last configuration = {Arvel = {AccelerationCurve = 0; "), std::string::npos) << held;
    EXPECT_TRUE(held.ends_with("; }; }\n  HIDTrackpadAcceleration = 1.25\n")) << held;
    EXPECT_EQ(system->ok({"show", "hid"}), "HID system: 2 configuration(s) received" + held);
}

TEST_F(AnInstalledSystem, StopsWaitingForADaemonKilledWhileItHeldUpSleep)
{
    ASSERT_TRUE(bootInstalled(false));
    loginAlice();
    const pid_t daemon = system->hostPidOf(kStartupItem);
    ASSERT_GT(daemon, 0);
    ASSERT_EQ(kill(daemon, SIGSTOP), 0);
    EXPECT_EQ(system->ok({"sleep"}), "the machine sleeps: told 1 power client(s)\n");
    EXPECT_EQ(system->ok({"check", "power-acknowledged"}), "no\n");
    ASSERT_EQ(kill(daemon, SIGKILL), 0);
    ASSERT_TRUE(wait({"power-acknowledged"})) << system->ok({"show", "power"});

    // A daemon started afresh knows of no sleep: the wake is only answered.
    const std::size_t since = system->logLength();
    system->ok({"start", kStartupItem});
    ASSERT_TRUE(wait({"log", "arveld[6] <Notice>: arveld: Daemon started."}));
    EXPECT_EQ(system->ok({"wake"}), "the machine wakes: told 1 power client(s)\n");
    ASSERT_TRUE(wait({"power-acknowledged"}));
    EXPECT_EQ(system->ok({"show", "power"}), "power: awake, 1 client(s)\n"
                                             "  system-will-sleep to client 1 (0x5000): not acknowledged, the client is gone\n"
                                             "  system-has-powered-on to client 2 (0x5001): acknowledged\n");
    EXPECT_EQ(system->logLinesOf("arveld[6]", since),
        (Lines {"arveld[6] <Notice>: ArvelDriverAccess: Driver initial load.", "arveld[6] <Notice>: ArvelConfigPush: User \"alice\" on console.",
            "arveld[6] <Notice>: ArvelConfigPush: Setting driver to configuration for UID 501.", "arveld[6] <Notice>: arveld: Daemon started."}));
}

// alice's System Preferences shows the pane: the host loads the installed
// bundle's code, the pane connects to the daemon, and quitting hides it.
// With the daemon gone the pane says so in a sheet, which alice answers as
// she would, by its button.
TEST_F(AnInstalledSystem, SystemPreferencesShowsThePaneAndSaysWhenTheDaemonIsGone)
{
    ASSERT_TRUE(bootInstalled(false));
    ASSERT_TRUE(system->defaults({"--user", "alice", "write", "loginwindow", "AutoLaunchedApplicationDictionary",
        "<array><dict><key>Path</key><string>/Applications/System Preferences.app</string></dict></array>"}));
    ASSERT_EQ(std::system(("chown -R 501:20 '" + system->root() + "/Users/alice'").c_str()), 0);

    const std::string first = system->ok({"login", "alice"});
    ASSERT_TRUE(wait({"window", "Arvel"}));
    const pid_t host = system->hostPidOf(kHost);
    EXPECT_EQ(first, "alice logged in: session 100001 on the console\nlogin item /Applications/System Preferences.app: pid 5, host pid "
            + std::to_string(host) + ", UID 501\n");
    EXPECT_EQ(firstLine(system->ok({"show", "windows"})).rfind("window 1 of System Preferences (pid 5): \"Arvel\" [Calibrate…", 0), 0u);
    for (const std::string& line : system->consoleLines("System Preferences", host))
        EXPECT_EQ(line.find("NSDistantObject"), std::string::npos) << line;
    system->ok({"quit", "System Preferences"});
    ASSERT_TRUE(wait({"log", "System Preferences (pid 5, host pid " + std::to_string(host) + ") exited with status 0"}));
    EXPECT_EQ(system->ok({"show", "windows"}), "windows: none\n");

    system->ok({"quit", "2"});
    ASSERT_TRUE(wait({"no-process", "Arvel"}));
    system->ok({"logout", "alice"});
    // The pane put the agent among her login items: it starts too.
    system->ok({"login", "alice"});
    ASSERT_TRUE(wait({"window", "Arvel daemon not available"}));
    const pid_t second = system->hostPidOf(kHost);
    // Its console lines come through the machine, which reads them as they come.
    Lines connecting;
    const Lines expected {"ArvelPref unable to obtain NSDistantObject for driver configuration access.",
        "ArvelPref unable to obtain NSDistantObject for system defaults access."};
    eventually([&] {
        connecting.clear();
        for (const std::string& line : system->consoleLines("System Preferences", second))
            if (line.find("NSDistantObject") != std::string::npos)
                connecting.push_back(line);
        return connecting == expected;
    });
    EXPECT_EQ(connecting, expected);
    // The alert sits on the pane's window; their numbers are the machine's
    // count of windows so far.
    const std::string shown = system->ok({"show", "windows"});
    const std::string alert = ": \"Arvel daemon not available\" \"The Arvel driver control daemon is not available.\\nPlease restart your computer "
                              "to load the daemon.\" [OK]\n";
    const std::size_t at = shown.find(alert);
    ASSERT_NE(at, std::string::npos) << shown;
    const std::size_t line = shown.rfind("\n  alert ", at);
    ASSERT_NE(line, std::string::npos) << shown;
    const std::string number = shown.substr(line + 9, shown.find(' ', line + 9) - line - 9);
    EXPECT_EQ(system->ok({"press", "System Preferences", "OK"}), "pressed \"OK\" on alert " + number + " \"Arvel daemon not available\"\n");
    // The host clicks its own button when the press reaches it: the sheet goes.
    EXPECT_TRUE(eventually([&] { return system->ok({"show", "windows"}).find("alert") == std::string::npos; }))
        << system->ok({"show", "windows"});
}

// The daemon killed while alice calibrates: the driver leaves calibration
// mode with the daemon's connection, the pane answers Cancel as ever, keeps
// its window and stores nothing.
TEST_F(AnInstalledSystem, ADaemonKilledWhileTheCalibrationSheetIsUpLeavesNoCalibrationRunning)
{
    ASSERT_TRUE(bootInstalled(false));
    ASSERT_EQ(std::system(("chown -R 501:20 '" + system->root() + "/Users/alice'").c_str()), 0);
    loginAlice();
    system->ok({"accessibility", "on"});
    system->ok({"open", "/Library/PreferencePanes/Arvel.prefPane"});
    ASSERT_TRUE(wait({"window", "Arvel"}));
    auto answered = [&](const InstalledSystem::Words& request) {
        const std::string sent = system->ok(request);
        const std::string serial = sent.substr(8, sent.find(':') - 8);
        std::string answer;
        eventually([&] { return (answer = system->ok({"show", "answer", serial})) != "pending\n"; });
        return answer;
    };
    EXPECT_EQ(answered({"choose", "System Preferences", "mainPrefTabs", "Advanced"}), "done\n");
    EXPECT_EQ(answered({"click", "System Preferences", "reCalibrate"}), "done\n");
    ASSERT_TRUE(wait({"window", "Calibrate the trackpad"}));
    auto calibrating = [&](const char* mode) { return system->ok({"show", "driver"}).find(std::string("calibration mode: ") + mode + ",") != std::string::npos; };
    EXPECT_TRUE(calibrating("on")) << system->ok({"show", "driver"});
    system->ok({"finger", "10", "10"});
    system->ok({"finger", "2990", "2390"});

    system->ok({"quit", "2"});
    ASSERT_TRUE(wait({"no-process", "Arvel"}));
    EXPECT_TRUE(eventually([&] { return calibrating("off"); })) << system->ok({"show", "driver"});
    system->ok({"press", "System Preferences", "Cancel"});
    EXPECT_TRUE(eventually([&] { return system->ok({"show", "windows"}).find("sheet") == std::string::npos; })) << system->ok({"show", "windows"});
    EXPECT_EQ(system->ok({"check", "process", "System Preferences"}), "yes\n");
    std::string calibration;
    ASSERT_TRUE(system->defaults({"--any-user", "read", "-currentHost", "com.tessmoor.Arvel", "Calibration"}, &calibration));
    EXPECT_EQ(calibration, "{MaxX = 2900; MaxY = 2320; MinX = 100; MinY = 80; }\n");
}

} // namespace
