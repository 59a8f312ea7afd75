// The command verbs on the in-process machine: what each one answers, what
// it changes, and that bad words change nothing. Real programs are started
// through a starter that only records what it was asked.
#include "service/MachineCommands.h"
#include "service/DiskFixture.h"
#include "support/MachineHarness.h"

#include "Carbon/Gestalt.h"
#include "IOKit/IOReturn.h"
#include "Paths/DiskRoot.h"
#include "machine/ApplicationBundle.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

using Words = std::vector<std::string>;
using Result = MachineCommands::Result;

class RecordingStarter final : public ProgramStarter {
public:
    int start(const ProgramLaunch& launch, std::string* problem) override
    {
        if (launch.executable == refused) {
            *problem = "unable to start \"" + launch.executable + "\": Permission denied";
            return -1;
        }
        started.push_back(launch);
        return nextHostPid++;
    }
    void terminate(int hostPid) override { terminated.push_back(hostPid); }
    bool switchesUsers() const override { return asRoot; }

    std::vector<ProgramLaunch> started;
    std::vector<int> terminated;
    std::string refused;
    int nextHostPid = 7001;
    bool asRoot = false;
};

class MachineCommandsTest : public ::testing::Test {
protected:
    Result perform(const Words& words) { return commands.perform(words); }
    std::string ok(const Words& words)
    {
        Result result = perform(words);
        EXPECT_TRUE(result.ok) << result.output;
        return result.output;
    }
    std::string refused(const Words& words)
    {
        Result result = perform(words);
        EXPECT_FALSE(result.ok) << result.output;
        return result.output;
    }
    // Everything a verb could change, as the machine shows it.
    std::string state()
    {
        std::string out;
        for (const char* what : {"processes", "sessions", "console", "driver", "hid", "pointer", "power", "alerts"})
            out += ok({"show", what});
        out += "users " + std::to_string(m.users().all().size()) + "\n";
        out += "log lines " + std::to_string(m.systemLog().lines().size()) + "\n";
        out += std::string("booted ") + (commands.booted() ? "yes" : "no") + "\n";
        return out;
    }
    std::vector<std::string> logLines()
    {
        std::vector<std::string> out;
        for (const auto& line : m.systemLog().lines())
            out.push_back(line.program + "[" + std::to_string(line.pid) + "] " + line.message);
        return out;
    }

    MachineHarness harness;
    machine::Machine& m = harness.machine();
    RecordingStarter programs;
    MachineCommands commands {m, programs};
};

TEST_F(MachineCommandsTest, BootLoadsTheInstalledDriverRunsTheStartupItemsAsRootThenShowsTheLoginWindow)
{
    DiskFixture::makeFolder("/System/Library/Extensions/Arvel.kext");
    DiskFixture::writeStartupItem("Other");
    DiskFixture::writeStartupItem("Arvel");
    DiskFixture::makeFolder("/Library/StartupItems/Broken");

    EXPECT_EQ(ok({"boot"}), "driver /System/Library/Extensions/Arvel.kext loaded\n"
                            "startup item skipped: Broken: no executable \"/Library/StartupItems/Broken/Broken\"\n"
                            "startup item Arvel: pid 2, host pid 7001, UID 0\n"
                            "startup item Other: pid 3, host pid 7002, UID 0\n"
                            "login window on the console\n");
    EXPECT_EQ(programs.started, (std::vector<ProgramLaunch> {{2, "/Library/StartupItems/Arvel/Arvel", {}, 0, 0},
                                    {3, "/Library/StartupItems/Other/Other", {}, 0, 0}}));
    EXPECT_TRUE(m.driver().isLoaded());
    EXPECT_EQ(ok({"show", "console"}), "console: login window\n");
    EXPECT_EQ(ok({"show", "processes"}), "  PID  HOST-PID  SESSION  COMMAND\n"
                                         "    1         -        -  /sbin/launchd\n"
                                         "    2      7001        -  /Library/StartupItems/Arvel/Arvel\n"
                                         "    3      7002        -  /Library/StartupItems/Other/Other\n"
                                         "    4         -        -  /System/Library/CoreServices/loginwindow.app/Contents/MacOS/loginwindow console\n"
                                         "front: none\n");
    EXPECT_EQ(ok({"log"}), "arvel-machine[0] <Notice>: driver /System/Library/Extensions/Arvel.kext loaded\n"
                           "arvel-machine[0] <Notice>: startup item skipped: Broken: no executable \"/Library/StartupItems/Broken/Broken\"\n"
                           "arvel-machine[0] <Notice>: startup item Arvel: pid 2, host pid 7001, UID 0\n"
                           "arvel-machine[0] <Notice>: startup item Other: pid 3, host pid 7002, UID 0\n"
                           "arvel-machine[0] <Notice>: login window on the console\n");
    EXPECT_EQ(ok({"log", "--since", "4"}), "arvel-machine[0] <Notice>: login window on the console\n");

    const std::string before = state();
    EXPECT_EQ(refused({"boot"}), "the machine is already booted");
    EXPECT_EQ(state(), before);
    EXPECT_EQ(programs.started.size(), 2u);
}

TEST_F(MachineCommandsTest, BootWithoutTheDriverInstalledLeavesItUnloaded)
{
    EXPECT_EQ(ok({"boot"}), "login window on the console\n");
    EXPECT_FALSE(m.driver().isLoaded());
}

TEST_F(MachineCommandsTest, AProgramThatCannotStartLeavesNoMachineProcess)
{
    DiskFixture::writeStartupItem("Arvel");
    programs.refused = "/Library/StartupItems/Arvel/Arvel";
    EXPECT_EQ(ok({"boot"}), "startup item Arvel failed: unable to start \"/Library/StartupItems/Arvel/Arvel\": Permission denied\n"
                            "login window on the console\n");
    EXPECT_EQ(ok({"show", "processes"}), "  PID  HOST-PID  SESSION  COMMAND\n"
                                         "    1         -        -  /sbin/launchd\n"
                                         "    3         -        -  /System/Library/CoreServices/loginwindow.app/Contents/MacOS/loginwindow console\n"
                                         "front: none\n");
}

TEST_F(MachineCommandsTest, StartRunsAnInstalledProgramAsRootAsBootRunsAStartupItem)
{
    DiskFixture::writeStartupItem("Arvel");
    EXPECT_EQ(refused({"start", "/Library/StartupItems/Arvel/Arvel"}), "the machine has not booted (boot first)");
    ok({"boot"});
    programs.started.clear();

    // Started again while the first still runs: a second process of its own.
    EXPECT_EQ(ok({"start", "/Library/StartupItems/Arvel/./Arvel"}), "program /Library/StartupItems/Arvel/Arvel: pid 4, host pid 7002, UID 0\n");
    EXPECT_EQ(programs.started, (std::vector<ProgramLaunch> {{4, "/Library/StartupItems/Arvel/Arvel", {}, 0, 0}}));
    EXPECT_EQ(logLines().back(), "arvel-machine[0] program /Library/StartupItems/Arvel/Arvel: pid 4, host pid 7002, UID 0");
    EXPECT_EQ(ok({"show", "processes"}), "  PID  HOST-PID  SESSION  COMMAND\n"
                                         "    1         -        -  /sbin/launchd\n"
                                         "    2      7001        -  /Library/StartupItems/Arvel/Arvel\n"
                                         "    3         -        -  /System/Library/CoreServices/loginwindow.app/Contents/MacOS/loginwindow console\n"
                                         "    4      7002        -  /Library/StartupItems/Arvel/Arvel\n"
                                         "front: none\n");
    commands.hostProgramEnded(7002, 255 << 8);
    EXPECT_EQ(logLines().back(), "arvel-machine[0] Arvel (pid 4, host pid 7002) exited with status 255");
    EXPECT_EQ(m.processes().processWithPid(4), nullptr);
    EXPECT_NE(m.processes().processWithPid(2), nullptr);

    // A program that cannot start is refused and leaves no machine process.
    programs.refused = "/Library/StartupItems/Arvel/Arvel";
    const std::size_t processes = m.processes().all().size();
    EXPECT_EQ(refused({"start", "/Library/StartupItems/Arvel/Arvel"}),
        "program /Library/StartupItems/Arvel/Arvel failed: unable to start \"/Library/StartupItems/Arvel/Arvel\": Permission denied");
    EXPECT_EQ(m.processes().all().size(), processes);
}

TEST_F(MachineCommandsTest, AServiceRunningAsRootStartsNoProgramOthersMayChange)
{
    programs.asRoot = true;
    ok({"boot"});
    DiskFixture::writeFile("/Library/Tools/open-tool", "#!/bin/sh\nexit 0\n", true);
    chmod(hostPath("/Library/Tools/open-tool").c_str(), 0777);
    const std::string before = state();
    EXPECT_EQ(refused({"start", "/Library/Tools/open-tool"}),
        geteuid() == 0 ? "not run as root: \"/Library/Tools/open-tool\" may be written by others than root"
                       : "not run as root: \"/Library/Tools\" is not owned by root");
    EXPECT_EQ(state(), before);
    EXPECT_TRUE(programs.started.empty());
}

TEST_F(MachineCommandsTest, AFirstLoginCreatesTheHomeFolder)
{
    ok({"boot"});
    EXPECT_EQ(ok({"add-user", "bob", "502"}), "added user bob (UID 502, GID 20, home /Users/bob)\n");
    EXPECT_EQ(ok({"login", "bob"}), "home folder /Users/bob created\n"
                                    "bob logged in: session 100001 on the console\n");
    EXPECT_TRUE(std::filesystem::is_directory(hostPath("/Users/bob/Library/Preferences")));
    EXPECT_EQ(ok({"show", "console"}), "console: \"bob\" UID 502\n");
    EXPECT_EQ(ok({"show", "sessions"}), "session 100001: bob (UID 502), on the console\n");
    EXPECT_TRUE(programs.started.empty());
}

TEST_F(MachineCommandsTest, LoginStartsTheLoginItemsAsTheUserInTheNewSession)
{
    ok({"boot"});
    ok({"add-user", "alice", "501"});
    DiskFixture::writeApplication("/Applications/Agent.app", "Agent", "com.example.Agent");
    DiskFixture::writeLoginItems("/Users/alice",
        Value::array({DiskFixture::loginItem("/Applications/Agent.app", true), DiskFixture::loginItem("/Applications/Missing.app")}));

    EXPECT_EQ(ok({"login", "alice"}), "alice logged in: session 100001 on the console\n"
                                      "login item /Applications/Agent.app (hidden): pid 3, host pid 7001, UID 501\n"
                                      "login item skipped: \"/Applications/Missing.app\": no readable Contents/Info.plist (no such file)\n");
    EXPECT_EQ(programs.started, (std::vector<ProgramLaunch> {{3, "/Applications/Agent.app/Contents/MacOS/Agent", {}, 501, 20}}));
    const machine::Process* agent = m.processes().processWithPid(3);
    ASSERT_TRUE(agent);
    EXPECT_TRUE(agent->application);
    EXPECT_EQ(agent->name, "Agent");
    EXPECT_EQ(agent->bundleIdentifier, "com.example.Agent");
    EXPECT_EQ(agent->bundlePath, "/Applications/Agent.app");
    EXPECT_EQ(agent->session, 100001u);
    EXPECT_EQ(agent->hostPid, 7001);
    EXPECT_EQ(m.processes().processWithHostPid(7001), agent);
}

TEST_F(MachineCommandsTest, FastUserSwitchingKeepsTheOtherSessionInTheBackground)
{
    ok({"boot"});
    ok({"add-user", "alice", "501"});
    ok({"add-user", "bob", "502"});
    ok({"login", "alice"});
    ok({"login", "bob"});
    EXPECT_EQ(ok({"show", "sessions"}), "session 100001: alice (UID 501), in the background\n"
                                        "session 100002: bob (UID 502), on the console\n");
    EXPECT_EQ(ok({"login", "alice"}), "alice's session 100001 is back on the console\n");
    EXPECT_EQ(ok({"show", "console"}), "console: \"alice\" UID 501\n");
    EXPECT_EQ(refused({"login", "alice"}), "alice is already logged in on the console");

    EXPECT_EQ(ok({"switch", "loginwindow"}), "login window on the console\n");
    EXPECT_EQ(ok({"show", "sessions"}), "session 100001: alice (UID 501), in the background\n"
                                        "session 100002: bob (UID 502), in the background\n");
    EXPECT_EQ(ok({"show", "console"}), "console: login window\n");
    EXPECT_EQ(ok({"switch", "loginwindow"}), "the login window is already on the console\n");
    EXPECT_EQ(ok({"switch", "bob"}), "switched to bob's session 100002\n");
    EXPECT_EQ(ok({"switch", "bob"}), "bob is already on the console\n");
    EXPECT_EQ(ok({"show", "console"}), "console: \"bob\" UID 502\n");
}

TEST_F(MachineCommandsTest, EachSessionHasItsOwnFrontApplicationBackWhenItReturnsToTheConsole)
{
    ok({"boot"});
    ok({"add-user", "alice", "501"});
    ok({"add-user", "bob", "502"});
    ok({"login", "alice"});
    EXPECT_EQ(ok({"launch", "Finder"}), "launched Finder (pid 3)\n");
    ok({"front", "Finder"});
    auto front = [&] {
        const machine::Process* process = m.processes().frontProcess();
        return process ? process->name : std::string("none");
    };

    // bob's new session has nothing in front: never alice's Finder.
    ok({"login", "bob"});
    EXPECT_EQ(front(), "none");
    EXPECT_EQ(ok({"show", "processes"}).substr(ok({"show", "processes"}).rfind("front:")), "front: none\n");
    EXPECT_EQ(ok({"launch", "TextEdit"}), "launched TextEdit (pid 4)\n");
    ok({"front", "TextEdit"});
    EXPECT_EQ(front(), "TextEdit");

    ok({"switch", "alice"});
    EXPECT_EQ(front(), "Finder");
    ok({"switch", "loginwindow"});
    EXPECT_EQ(front(), "none");
    ok({"login", "bob"});
    EXPECT_EQ(front(), "TextEdit") << "a session back on the console through login";

    // An application that quit is nobody's front application any more.
    ok({"quit", "Finder"});
    ok({"switch", "alice"});
    EXPECT_EQ(front(), "none");
    ok({"switch", "bob"});
    ok({"logout"});
    EXPECT_EQ(front(), "none") << "the login window came back";
}

TEST_F(MachineCommandsTest, LogoutEndsTheSessionsProgramsAndShowsTheLoginWindow)
{
    ok({"boot"});
    ok({"add-user", "alice", "501"});
    ok({"add-user", "bob", "502"});
    DiskFixture::writeApplication("/Applications/Agent.app", "Agent", "com.example.Agent");
    DiskFixture::writeLoginItems("/Users/alice", Value::array({DiskFixture::loginItem("/Applications/Agent.app")}));
    ok({"login", "bob"});
    ok({"login", "alice"});
    EXPECT_EQ(ok({"launch", "TextEdit", "com.apple.TextEdit"}), "launched TextEdit (pid 4)\n");
    EXPECT_EQ(m.processes().processWithPid(4)->session, 100002u);

    EXPECT_EQ(ok({"logout"}), "alice logged out of session 100002: 2 program(s) told to end\n"
                              "login window on the console\n");
    EXPECT_EQ(programs.terminated, (std::vector<int> {7001}));
    EXPECT_EQ(m.processes().processWithPid(4), nullptr) << "a program without a real process ends at once";
    ASSERT_TRUE(m.processes().processWithPid(3)) << "a real one ends when its process does";
    commands.hostProgramEnded(7001, 0);
    EXPECT_EQ(m.processes().processWithPid(3), nullptr);
    EXPECT_EQ(logLines().back(), "arvel-machine[0] Agent (pid 3, host pid 7001) exited with status 0");
    EXPECT_EQ(ok({"show", "sessions"}), "session 100001: bob (UID 502), in the background\n");
    EXPECT_EQ(ok({"show", "console"}), "console: login window\n");
    EXPECT_EQ(refused({"logout"}), "nobody is logged in on the console");

    ok({"switch", "bob"});
    ok({"login", "alice"});
    EXPECT_EQ(ok({"logout", "bob"}), "bob logged out of session 100001: 0 program(s) told to end\n");
    EXPECT_EQ(ok({"show", "console"}), "console: \"alice\" UID 501\n") << "a session in the background leaves quietly";
}

TEST_F(MachineCommandsTest, TheEndOfAnUnknownHostProcessChangesNothing)
{
    ok({"boot"});
    const std::string before = state();
    commands.hostProgramEnded(4242, 9);
    EXPECT_EQ(state(), before);
}

TEST_F(MachineCommandsTest, ApplicationsComeToTheFrontOpenWindowsAndSheetsAndQuit)
{
    EXPECT_EQ(ok({"launch", "Finder", "com.apple.finder", "/System/Library/CoreServices/Finder.app", "MACS"}), "launched Finder (pid 2)\n");
    const machine::Process* finder = m.processes().processWithPid(2);
    ASSERT_TRUE(finder);
    EXPECT_EQ(finder->bundleIdentifier, "com.apple.finder");
    EXPECT_EQ(finder->creator, "MACS");
    EXPECT_EQ(finder->command, "/System/Library/CoreServices/Finder.app/Contents/MacOS/Finder");
    EXPECT_EQ(ok({"front", "Finder"}), "Finder (pid 2) in front\n");
    EXPECT_EQ(m.processes().frontProcess(), finder);

    EXPECT_EQ(ok({"window", "Finder", "--button", "100", "200.5", "80", "20"}),
        "window 1 of Finder (pid 2), default button 2 at (100, 200.5) size 80 x 20\n");
    EXPECT_EQ(m.accessibility().defaultButtonOf({2, 1}), (machine::ElementRef {2, 2}));
    EXPECT_EQ(ok({"window", "2", "--sheet-of", "1", "--button", "10", "20", "30", "40"}),
        "sheet 3 on window 1 of Finder (pid 2), default button 4 at (10, 20) size 30 x 40\n");
    EXPECT_EQ(m.accessibility().defaultButtonOf({2, 3}), (machine::ElementRef {2, 4}));
    EXPECT_EQ(ok({"window", "Finder"}), "window 5 of Finder (pid 2)\n");
    EXPECT_EQ(m.accessibility().defaultButtonOf({2, 5}).element, 0u);
    EXPECT_EQ(ok({"close", "Finder", "3"}), "closed 3 of Finder (pid 2)\n");
    EXPECT_FALSE(m.accessibility().exists({2, 3}));
    EXPECT_EQ(refused({"close", "Finder", "3"}), "Finder (pid 2) has no window or sheet 3");

    ok({"launch", "Finder"});
    EXPECT_EQ(refused({"quit", "Finder"}), "more than one process is named \"Finder\"; give its pid");
    EXPECT_EQ(ok({"quit", "2"}), "Finder (pid 2) quit\n");
    EXPECT_EQ(ok({"show", "processes"}), "  PID  HOST-PID  SESSION  COMMAND\n"
                                         "    1         -        -  /sbin/launchd\n"
                                         "    3         -        -  Finder\n"
                                         "front: none\n");
}

TEST_F(MachineCommandsTest, QuittingARealProgramAsksItsProcessToEnd)
{
    DiskFixture::writeStartupItem("Arvel");
    ok({"boot"});
    EXPECT_EQ(ok({"quit", "Arvel"}), "asked Arvel (pid 2, host pid 7001) to quit\n");
    EXPECT_EQ(programs.terminated, (std::vector<int> {7001}));
    EXPECT_TRUE(m.processes().processWithPid(2));
    commands.hostProgramEnded(7001, SIGTERM);
    EXPECT_FALSE(m.processes().processWithPid(2));
    EXPECT_EQ(logLines().back(), "arvel-machine[0] Arvel (pid 2, host pid 7001) ended by signal 15");
    EXPECT_EQ(refused({"quit", "launchd"}), "launchd (pid 1) does not quit");
    EXPECT_EQ(refused({"front", "loginwindow"}), "loginwindow (pid 3) is no application that can come to the front");
}

TEST_F(MachineCommandsTest, MovesThePointerAndButtonAndTheFingerWhileTheDriverCalibrates)
{
    EXPECT_EQ(ok({"pointer", "10.5", "20"}), "pointer moved to (10.5, 20)\n");
    EXPECT_EQ(ok({"press"}), "mouse button down at (10.5, 20)\n");
    EXPECT_EQ(ok({"show", "pointer"}), "pointer at (10.5, 20), buttons held: 0, warps: none\n");
    EXPECT_EQ(ok({"release"}), "mouse button up at (10.5, 20)\n");
    m.pointer().warp({300, 400});
    EXPECT_EQ(ok({"show", "pointer"}), "pointer at (300, 400), buttons held: none, warps: 1, the last to (300, 400)\n");

    EXPECT_EQ(ok({"finger", "5", "6"}), "finger at (5, 6): no driver loaded\n");
    EXPECT_EQ(ok({"load-driver"}), "driver loaded\n");
    EXPECT_EQ(ok({"finger", "5", "6"}), "finger at (5, 6): the driver is not calibrating\n");
    std::uint64_t connection = 0;
    ASSERT_EQ(m.driver().open(0, &connection, 0), kIOReturnSuccess);
    std::vector<std::int64_t> outputs;
    ASSERT_EQ(m.driver().callScalar(connection, 8, {1}, outputs), kIOReturnSuccess);
    EXPECT_EQ(ok({"finger", "100", "200"}), "finger at (100, 200): observed {MinX = 100; MinY = 200; MaxX = 100; MaxY = 200; }\n");
    EXPECT_EQ(ok({"finger", "-40", "900"}), "finger at (-40, 900): observed {MinX = -40; MinY = 200; MaxX = 100; MaxY = 900; }\n");
    EXPECT_EQ(ok({"show", "driver"}), m.driver().describe());
    EXPECT_EQ(ok({"unload-driver"}), "driver unloaded\n");
    EXPECT_EQ(ok({"show", "driver"}), "driver: not loaded\n");
}

TEST_F(MachineCommandsTest, SleepsWakesAndAsksEveryPowerClientAndShowsWhatWasAnswered)
{
    std::vector<std::intptr_t> arguments;
    m.power().addClient([&](std::uint32_t, std::intptr_t argument) { arguments.push_back(argument); });
    EXPECT_EQ(ok({"check", "power-acknowledged"}), "yes\n");
    EXPECT_EQ(ok({"sleep"}), "the machine sleeps: told 1 power client(s)\n");
    EXPECT_EQ(ok({"check", "power-acknowledged"}), "no\n");
    EXPECT_EQ(refused({"sleep"}), "the machine is already asleep: wake it first");
    EXPECT_EQ(refused({"can-sleep"}), "the machine is asleep: only an awake machine asks whether it may sleep");
    ASSERT_EQ(arguments.size(), 1u);
    m.power().acknowledge(arguments[0]);
    EXPECT_EQ(ok({"check", "power-acknowledged"}), "yes\n");
    EXPECT_EQ(ok({"wake"}), "the machine wakes: told 1 power client(s)\n");
    EXPECT_EQ(refused({"wake"}), "the machine is already awake: only a machine that sleeps can wake");
    EXPECT_EQ(ok({"can-sleep"}), "asked 1 power client(s) whether the machine may sleep\n");
    EXPECT_EQ(ok({"show", "power"}), "power: awake, 1 client(s)\n"
                                     "  system-will-sleep to client 1 (0x5000): acknowledged\n"
                                     "  system-has-powered-on to client 1 (0x5001): not acknowledged\n"
                                     "  can-system-sleep to client 1 (0x5002): not acknowledged\n");
}

TEST_F(MachineCommandsTest, APowerMessageWhoseProgramEndedUnansweredIsNoLongerWaitedFor)
{
    std::vector<std::intptr_t> first, second;
    const std::uint64_t staying = m.power().addClient([&](std::uint32_t, std::intptr_t argument) { first.push_back(argument); });
    const std::uint64_t dying = m.power().addClient([&](std::uint32_t, std::intptr_t argument) { second.push_back(argument); });
    EXPECT_EQ(ok({"sleep"}), "the machine sleeps: told 2 power client(s)\n");
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_TRUE(m.power().acknowledge(first[0]));
    EXPECT_EQ(ok({"check", "power-acknowledged"}), "no\n");

    // A daemon killed while it held the sleep up.
    m.power().removeClient(dying);
    EXPECT_EQ(ok({"check", "power-acknowledged"}), "yes\n");
    EXPECT_FALSE(m.power().acknowledge(second[0])) << "nobody is left to answer it";
    EXPECT_EQ(ok({"wake"}), "the machine wakes: told 1 power client(s)\n");
    EXPECT_EQ(ok({"check", "power-acknowledged"}), "no\n") << "the one left is waited for as before";
    ASSERT_EQ(first.size(), 2u);
    auto line = [](const char* message, std::uint64_t client, std::intptr_t argument, const char* answer) {
        char text[160];
        std::snprintf(text, sizeof text, "  %s to client %llu (0x%llx): %s\n", message, static_cast<unsigned long long>(client),
            static_cast<unsigned long long>(argument), answer);
        return std::string(text);
    };
    EXPECT_EQ(ok({"show", "power"}), "power: awake, 1 client(s)\n" + line("system-will-sleep", staying, first[0], "acknowledged")
            + line("system-will-sleep", dying, second[0], "not acknowledged, the client is gone")
            + line("system-has-powered-on", staying, first[1], "not acknowledged"));
}

TEST_F(MachineCommandsTest, ChecksTheConditionsScriptsWaitFor)
{
    ok({"add-user", "alice", "501"});
    EXPECT_EQ(ok({"check", "log", "added", "user", "alice"}), "yes\n");
    EXPECT_EQ(ok({"check", "log", "arvel-machine[0] <Notice>: added"}), "yes\n") << "the line as log prints it";
    EXPECT_EQ(ok({"check", "log", "added user bob"}), "no\n");
    EXPECT_EQ(ok({"check", "process", "launchd"}), "yes\n");
    EXPECT_EQ(ok({"check", "no-process", "launchd"}), "no\n");
    EXPECT_EQ(ok({"check", "process", "Finder"}), "no\n");
    EXPECT_EQ(ok({"check", "no-process", "Finder"}), "yes\n");
    m.driver().load();
    EXPECT_EQ(ok({"check", "driver-app-writes", "0"}), "yes\n");
    EXPECT_EQ(ok({"check", "driver-app-writes", "1"}), "no\n");
    m.driver().setProperties(Value::dictionary({{"ApplicationSet", Value::dictionary({})}}), 0);
    EXPECT_EQ(ok({"check", "driver-app-writes", "1"}), "yes\n");
    EXPECT_EQ(ok({"check", "driver-app-writes", "2"}), "no\n");
    EXPECT_EQ(ok({"check", "pointer-warps", "1"}), "no\n");
    m.pointer().warp({10, 20});
    EXPECT_EQ(ok({"check", "pointer-warps", "1"}), "yes\n");
    EXPECT_EQ(ok({"check", "pointer-warps", "2"}), "no\n");
}

TEST_F(MachineCommandsTest, ShowsHowManyPerApplicationDictionariesTheDriverGotAndWhenTheLastCame)
{
    const Value safari = Value::dictionary({{"ApplicationSet", Value::dictionary({{"NECorner", 4}})}});
    const Value finder = Value::dictionary({{"ApplicationSet", Value::dictionary({})}});
    m.driver().load();
    EXPECT_EQ(ok({"show", "driver-writes"}), "0 per-application dictionaries\n");

    harness.runFor(12.25);
    ASSERT_EQ(m.driver().setProperties(safari, 0), kIOReturnSuccess);
    EXPECT_EQ(ok({"show", "driver-writes"}), "1 per-application dictionary, the last at 820000012.250000\n");

    harness.runFor(0.000375);
    ASSERT_EQ(m.driver().setProperties(finder, 0), kIOReturnSuccess);
    harness.runFor(5);
    EXPECT_EQ(ok({"show", "driver-writes"}), "2 per-application dictionaries, the last at 820000012.250375\n")
        << "the date the dictionary came, not the date of asking";

    // Neither a refused write nor one that is no dictionary arrives.
    harness.failNext("IORegistryEntrySetCFProperties", kIOReturnNotPermitted);
    EXPECT_EQ(m.driver().setProperties(safari, 0), kIOReturnNotPermitted);
    EXPECT_EQ(m.driver().setProperties(Value(3), 0), kIOReturnBadArgument);
    EXPECT_EQ(ok({"show", "driver-writes"}), "2 per-application dictionaries, the last at 820000012.250375\n");
    EXPECT_EQ(m.driver().lastApplicationProperties(), finder);

    // A reloaded driver starts from nothing.
    m.driver().unload();
    m.driver().load();
    EXPECT_EQ(ok({"show", "driver-writes"}), "0 per-application dictionaries\n");
    EXPECT_EQ(refused({"show", "driver-writes", "now"}), "usage: show driver|driver-writes|hid|hid-writes|pointer|processes|sessions|console [PROGRAM]|alerts|power|windows|link|answer N");
    EXPECT_TRUE(logLines().empty()) << "looking changes nothing";
}

TEST_F(MachineCommandsTest, ShowsAlertsSessionsAndTheConsoleAsTheModelsDescribeThem)
{
    EXPECT_EQ(ok({"show", "alerts"}), "alerts: none\n");
    m.alerts().show({0, 3, "Arvel is not installed correctly", "Run the installer again.", {"OK", "Cancel"}});
    EXPECT_EQ(ok({"show", "alerts"}), "alert 1 from pid 3: \"Arvel is not installed correctly\" \"Run the installer again.\" [OK] [Cancel]\n");
    EXPECT_EQ(ok({"show", "sessions"}), "sessions: none\n");
    EXPECT_EQ(ok({"show", "console"}), "console: nobody\n");
    EXPECT_EQ(ok({"show", "hid"}), m.hidSystem().describe());
}

TEST_F(MachineCommandsTest, WhatAnOperatorWatchesAndMakesFail)
{
    // The log with each line's time, from the machine's clock.
    static_cast<VirtualClock&>(currentClock()).advanceBy(3.25);
    ok({"add-user", "alice", "501"});
    EXPECT_EQ(ok({"log", "--time", "--since", "0"}), "2026-12-26 17:46:43.250 arvel-machine[0] <Notice>: added user alice (UID 501, GID 20, home /Users/alice)\n");
    EXPECT_EQ(refused({"add-user", "toor", "0"}), "UID 0 is root's: the machine has one superuser, and a second would be root too");

    // The configuration the HID system holds, not only how many came.
    m.hidSystem().setProperties(Value::dictionary({{"Clicking", Value(true)}}), 0);
    EXPECT_EQ(ok({"show", "hid"}), "HID system: 1 configuration(s) received\n  last configuration = {Clicking = 1; }\n");

    // A call fails as many times as asked, with its family's error.
    EXPECT_EQ(ok({"fail", "IOServiceOpen:IOHIDSystem", "2"}), "the next 2 call(s) of IOServiceOpen:IOHIDSystem fail with -536870212\n");
    EXPECT_EQ(m.failures().take("IOServiceOpen", "IOHIDSystem"), static_cast<int>(kIOReturnError));
    EXPECT_EQ(ok({"fail", "AXUIElementGetPid", "always"}), "every call of AXUIElementGetPid fails with -25200 until fail AXUIElementGetPid never\n");
    EXPECT_EQ(ok({"fail", "AXUIElementGetPid", "never"}), "AXUIElementGetPid succeeds again\n");
    EXPECT_FALSE(m.failures().pending("AXUIElementGetPid"));
    EXPECT_EQ(refused({"fail", "seteuid", "0"}), "\"0\" is not a number of calls (1 to 1000000), always or never");
    EXPECT_EQ(refused({"fail", "a b"}), "\"a b\" is not a call name (letters, digits, '.', ':', '_')");

    // Default buttons a person could not press, and a window that does not take the focus.
    ok({"launch", "Finder"});
    EXPECT_EQ(ok({"window", "Finder", "--button", "1", "2", "3", "4", "--disabled"}),
        "window 1 of Finder (pid 2), default button 2 at (1, 2) size 3 x 4, disabled\n");
    EXPECT_EQ(ok({"window", "Finder", "--button", "1", "2", "3", "4", "--no-enabled", "--unfocused"}),
        "window 3 of Finder (pid 2), default button 4 at (1, 2) size 3 x 4, without the enabled attribute, not focused\n");
    machine::Attribute enabled;
    EXPECT_EQ(m.accessibility().copyAttribute({2, 2}, "AXEnabled", enabled), kAXErrorSuccess);
    EXPECT_EQ(std::get<Value>(enabled), Value(false));
    EXPECT_NE(m.accessibility().copyAttribute({2, 4}, "AXEnabled", enabled), kAXErrorSuccess);
    machine::Attribute focused;
    EXPECT_EQ(m.accessibility().copyAttribute({2, 0}, "AXFocusedWindow", focused), kAXErrorSuccess);
    EXPECT_EQ(std::get<machine::ElementRef>(focused), (machine::ElementRef {2, 1}));
    EXPECT_EQ(refused({"window", "Finder", "--disabled"}), "--disabled and --no-enabled describe the default button: give --button too");

    // A program's console: whole lines only, kept after it ended, a line cut at its length.
    DiskFixture::writeStartupItem("Arvel");
    ok({"boot"});
    commands.hostProgramWrote(7001, "one\ntw");
    EXPECT_EQ(ok({"show", "console", "Arvel"}), "Arvel[3]: one\n");
    commands.hostProgramWrote(7001, "o\n" + std::string(5000, 'x'));
    commands.hostProgramEnded(7001, 0);
    commands.hostProgramWrote(7001, "\n");
    commands.hostProgramWrote(7001, {});
    EXPECT_EQ(ok({"show", "console", "3"}), "Arvel[3]: one\nArvel[3]: two\nArvel[3]: " + std::string(1024, 'x') + "\n");
    EXPECT_EQ(refused({"show", "console", "Safari"}), "no program \"Safari\" was started by the machine (see show processes)");
}

TEST_F(MachineCommandsTest, ShutdownAnswersAndIsRemembered)
{
    EXPECT_FALSE(commands.shutdownRequested());
    EXPECT_EQ(ok({"shutdown"}), "shutting down\n");
    EXPECT_TRUE(commands.shutdownRequested());
    EXPECT_EQ(logLines(), (std::vector<std::string> {"arvel-machine[0] shutting down"}));
}

TEST_F(MachineCommandsTest, OpenStartsApplicationsAndPanesAsTheConsolesUserInHerSession)
{
    ok({"boot"});
    ok({"add-user", "alice", "501"});
    ok({"login", "alice"});
    DiskFixture::writeApplication("/Applications/Editor.app", "Editor", "com.example.Editor");
    const std::size_t since = m.systemLog().lines().size();

    EXPECT_EQ(ok({"open", "/Applications/Editor.app", "--args", "-x"}),
        "opened \"/Applications/Editor.app\" with \"-x\" as UID 501 in session 100001: Editor (pid 3, host pid 7001)\n");
    EXPECT_EQ(ok({"open", "-a", "Editor", "Users/alice/notes.txt"}),
        "opened \"/Applications/Editor.app\" with \"/Users/alice/notes.txt\" as UID 501 in session 100001: Editor (pid 4, host pid 7002)\n");
    // The system's own pane is there once the machine has booted; the
    // preferences host is not yet.
    const char* pane = "/System/Library/PreferencePanes/UniversalAccessPref.prefPane";
    EXPECT_EQ(refused({"open", pane}), "unable to open \"" + std::string(pane) + "\": no application \"/Applications/System Preferences.app\" to open it in");
    DiskFixture::writeApplication("/Applications/System Preferences.app", "System Preferences", "com.apple.systempreferences");
    EXPECT_EQ(ok({"open", pane}), "opened \"/Applications/System Preferences.app\" with \"" + std::string(pane)
                                      + "\" as UID 501 in session 100001: System Preferences (pid 5, host pid 7003)\n");
    EXPECT_EQ(refused({"open", "/Library/PreferencePanes/Gone.prefPane"}),
        "unable to open \"/Library/PreferencePanes/Gone.prefPane\": no such preference pane");

    EXPECT_EQ(programs.started, (std::vector<ProgramLaunch> {{3, "/Applications/Editor.app/Contents/MacOS/Editor", {"-x"}, 501, 20},
                                    {4, "/Applications/Editor.app/Contents/MacOS/Editor", {"/Users/alice/notes.txt"}, 501, 20},
                                    {5, "/Applications/System Preferences.app/Contents/MacOS/System Preferences", {pane}, 501, 20}}));
    const machine::Process* host = m.processes().processWithPid(5);
    ASSERT_TRUE(host);
    EXPECT_EQ(host->command, "/Applications/System Preferences.app/Contents/MacOS/System Preferences " + std::string(pane));
    EXPECT_EQ(host->uid, 501u);
    EXPECT_EQ(logLines().size() - since, 5u) << "each opening and each refusal once";

    programs.refused = "/Applications/Editor.app/Contents/MacOS/Editor";
    EXPECT_EQ(refused({"open", "/Applications/Editor.app"}),
        "unable to open \"/Applications/Editor.app\": unable to start \"/Applications/Editor.app/Contents/MacOS/Editor\": Permission denied");
    EXPECT_FALSE(m.processes().processWithPid(6)) << "no process is left of what could not start";
}

TEST_F(MachineCommandsTest, TurnsTheAccessibilityAPIOnAndOffAndSetsTheVersionGestaltAnswers)
{
    EXPECT_EQ(ok({"accessibility", "off"}), "the accessibility API is off\n");
    EXPECT_FALSE(m.accessibility().enabled());
    EXPECT_EQ(ok({"accessibility", "off"}), "the accessibility API is already off\n");
    EXPECT_EQ(ok({"accessibility", "on"}), "the accessibility API is on\n");
    EXPECT_TRUE(m.accessibility().enabled());

    SInt32 version = 0;
    EXPECT_EQ(ok({"os-version", "10.2.8"}), "Gestalt('sysv') answers 0x1028 (10.2.8)\n");
    ASSERT_EQ(Gestalt(gestaltSystemVersion, &version), noErr);
    EXPECT_EQ(version, 0x1028);
    EXPECT_EQ(ok({"os-version", "10.4"}), "Gestalt('sysv') answers 0x1040 (10.4)\n");
    ASSERT_EQ(Gestalt(gestaltSystemVersion, &version), noErr);
    EXPECT_EQ(version, 0x1040);
    EXPECT_EQ(logLines(), (std::vector<std::string> {"arvel-machine[0] the accessibility API is off", "arvel-machine[0] the accessibility API is on",
                              "arvel-machine[0] Gestalt('sysv') answers 0x1028 (10.2.8)", "arvel-machine[0] Gestalt('sysv') answers 0x1040 (10.4)"}));
}

TEST_F(MachineCommandsTest, BadWordsAnswerWhatIsWrongAndChangeNothing)
{
    EXPECT_EQ(refused({"login", "alice"}), "the machine has not booted (boot first)");
    EXPECT_EQ(refused({"switch", "loginwindow"}), "the machine has not booted (boot first)");
    EXPECT_EQ(refused({"open", "/Applications/Finder.app"}), "the machine has not booted (boot first)");
    ok({"boot"});
    EXPECT_EQ(refused({"open", "/Applications/Finder.app"}), "nobody is logged in on the console");
    ok({"add-user", "alice", "501"});
    ok({"add-user", "bob", "502"});
    ok({"login", "alice"});
    ok({"launch", "Finder"});

    const std::vector<std::pair<Words, std::string>> cases = {
        {{}, "no verb given (see arvel-machine --help)"},
        {{"frobnicate"}, "unknown verb \"frobnicate\" (see arvel-machine --help)"},
        {{"add-user"}, "usage: add-user NAME UID"},
        {{"add-user", "carol", "503", "20"}, "usage: add-user NAME UID"},
        {{"add-user", "9lives", "600"}, "\"9lives\" is not a user name (letters, digits, '_', '.', '-'; a letter first)"},
        {{"add-user", "loginwindow", "600"}, "\"loginwindow\" is not a user name (letters, digits, '_', '.', '-'; a letter first)"},
        {{"add-user", "ca rol", "600"}, "\"ca rol\" is not a user name (letters, digits, '_', '.', '-'; a letter first)"},
        {{"add-user", "carol", "-1"}, "\"-1\" is not a user id (0 to 4294967294)"},
        {{"add-user", "carol", "4294967295"}, "\"4294967295\" is not a user id (0 to 4294967294)"},
        {{"add-user", "carol", "12x"}, "\"12x\" is not a user id (0 to 4294967294)"},
        {{"add-user", "alice", "600"}, "a user named \"alice\" already exists"},
        {{"add-user", "carol", "501"}, "UID 501 already belongs to \"alice\""},
        {{"boot", "now"}, "usage: boot"},
        {{"start"}, "usage: start SYSTEM-PATH (an absolute path on the machine's disk)"},
        {{"start", "arveld"}, "usage: start SYSTEM-PATH (an absolute path on the machine's disk)"},
        {{"start", "/a", "/b"}, "usage: start SYSTEM-PATH (an absolute path on the machine's disk)"},
        {{"start", "/Library/StartupItems/None/None"}, "no program \"/Library/StartupItems/None/None\""},
        {{"start", "/Users"}, "no program \"/Users\""},
        {{"login"}, "usage: login USER"},
        {{"login", "nobody"}, "no user named \"nobody\" (add-user first)"},
        {{"logout", "alice", "bob"}, "usage: logout [USER]"},
        {{"logout", "nobody"}, "no user named \"nobody\""},
        {{"logout", "bob"}, "bob is not logged in"},
        {{"switch"}, "usage: switch USER|loginwindow"},
        {{"switch", "nobody"}, "no user named \"nobody\""},
        {{"switch", "bob"}, "bob has no login session (login first)"},
        {{"launch"}, "usage: launch NAME [BUNDLE-ID [BUNDLE-PATH [CREATOR]]]"},
        {{"launch", ""}, "usage: launch NAME [BUNDLE-ID [BUNDLE-PATH [CREATOR]]]"},
        {{"launch", "X", "x.y", "relative/X.app"}, "the bundle path \"relative/X.app\" is not absolute"},
        {{"launch", "X", "x.y", "/X.app", "XYZ"}, "the creator \"XYZ\" is not four characters"},
        {{"quit"}, "usage: quit NAME|PID"},
        {{"quit", "Nothing"}, "no process named \"Nothing\""},
        {{"quit", "999"}, "no process with pid 999"},
        {{"front", "launchd"}, "launchd (pid 1) is no application that can come to the front"},
        {{"window"}, "usage: window APP [--button X Y W H [--disabled | --no-enabled]] [--sheet-of WINDOW] [--unfocused]"},
        {{"window", "Nothing"}, "no process named \"Nothing\""},
        {{"window", "Finder", "--button", "1", "2", "3"}, "usage: window APP [--button X Y W H [--disabled | --no-enabled]] [--sheet-of WINDOW] [--unfocused]"},
        {{"window", "Finder", "--button", "1", "2", "-3", "4"}, "--button takes four numbers X Y W H (W and H not negative)"},
        {{"window", "Finder", "--button", "1", "2", "3", "nan"}, "--button takes four numbers X Y W H (W and H not negative)"},
        {{"window", "Finder", "--sheet-of", "x"}, "--sheet-of takes a window number"},
        {{"window", "Finder", "--sheet-of", "99"}, "Finder (pid 3) has no window 99"},
        {{"window", "Finder", "--frobs"}, "usage: window APP [--button X Y W H [--disabled | --no-enabled]] [--sheet-of WINDOW] [--unfocused]"},
        {{"close", "Finder"}, "usage: close APP ELEMENT"},
        {{"close", "Finder", "x"}, "\"x\" is not a window or sheet number"},
        {{"close", "Finder", "99"}, "Finder (pid 3) has no window or sheet 99"},
        {{"press", "hard"}, "usage: press WINDOW|PROGRAM TITLE"},
        {{"release", "now"}, "usage: release"},
        {{"pointer", "1"}, "usage: pointer X Y (two numbers)"},
        {{"pointer", "1", "inf"}, "usage: pointer X Y (two numbers)"},
        {{"pointer", "x", "2"}, "usage: pointer X Y (two numbers)"},
        {{"finger", "1.5", "2"}, "usage: finger X Y (two whole numbers)"},
        {{"finger", "1", "99999999999"}, "usage: finger X Y (two whole numbers)"},
        {{"sleep", "now"}, "usage: sleep"},
        {{"wake"}, "the machine is already awake: only a machine that sleeps can wake"},
        {{"load-driver", "x"}, "usage: load-driver"},
        {{"unload-driver"}, "the driver is not loaded"},
        {{"show"}, "usage: show driver|driver-writes|hid|hid-writes|pointer|processes|sessions|console [PROGRAM]|alerts|power|windows|link|answer N"},
        {{"show", "everything"}, "usage: show driver|driver-writes|hid|hid-writes|pointer|processes|sessions|console [PROGRAM]|alerts|power|windows|link|answer N"},
        {{"log", "--since"}, "usage: log [--since N] [--time]"},
        {{"log", "--since", "-2"}, "--since takes a line number (0 or more)"},
        {{"check"}, "usage: check log TEXT | process NAME | no-process NAME | window TITLE | driver-app-writes N | pointer-warps N | power-acknowledged"},
        {{"check", "weather"}, "usage: check log TEXT | process NAME | no-process NAME | window TITLE | driver-app-writes N | pointer-warps N | power-acknowledged"},
        {{"check", "log"}, "usage: check log TEXT"},
        {{"check", "process"}, "usage: check process NAME"},
        {{"check", "driver-app-writes", "many"}, "usage: check driver-app-writes N (0 or more)"},
        {{"check", "power-acknowledged", "x"}, "usage: check power-acknowledged"},
        {{"shutdown", "now"}, "usage: shutdown"},
        {{"open"}, "usage: open [-a APPLICATION] PATH... [--args ARGUMENT...]"},
        {{"open", "-a"}, "usage: open [-a APPLICATION] PATH... [--args ARGUMENT...]"},
        {{"open", "-x", "/Applications/Finder.app"}, "open: unknown option \"-x\" (usage: open [-a APPLICATION] PATH... [--args ARGUMENT...])"},
        {{"open", "/A.app", "/B.app", "--args", "x"}, "usage: open [-a APPLICATION] PATH... [--args ARGUMENT...]"},
        {{"accessibility"}, "usage: accessibility on|off"},
        {{"accessibility", "yes"}, "usage: accessibility on|off"},
        {{"os-version", "10.10"}, "usage: os-version 10.M[.B] (M and B single digits: 10.2.8, 10.3.9)"},
        {{"os-version", "9.2.2"}, "usage: os-version 10.M[.B] (M and B single digits: 10.2.8, 10.3.9)"},
        {{"os-version", "10.3.x"}, "usage: os-version 10.M[.B] (M and B single digits: 10.2.8, 10.3.9)"},
    };
    for (const auto& [words, message] : cases) {
        const std::string before = state();
        EXPECT_EQ(refused(words), message);
        EXPECT_EQ(state(), before) << "after " << ::testing::PrintToString(words);
    }
    EXPECT_FALSE(commands.shutdownRequested());
}


TEST_F(MachineCommandsTest, ShowsTheGUIProgramsWindowsAndPressesTheirButtonsByTitle)
{
    int host = m.processes().launch({"System Preferences", "com.apple.systempreferences", "/Applications/System Preferences.app", "sprf", 0}).pid;
    std::vector<std::string> presses;
    std::uint64_t listener = m.windows().addPressListener(
        [&](std::uint64_t window, const std::string&, const std::string& button, const std::string&, std::uint64_t) {
            presses.push_back(std::to_string(window) + " " + button);
        });
    EXPECT_EQ(ok({"show", "windows"}), "windows: none\n");
    EXPECT_EQ(ok({"check", "window", "Arvel"}), "no\n");
    std::uint64_t window = m.windows().open({0, host, "window", 0, "Arvel", "", {{"Calibrate…", true}}, listener});
    m.windows().open({0, host, "alert", window, "Arvel daemon not available", "The daemon is not available.\nRestart.", {{"OK", true}}, listener});
    m.windows().open({0, host, "sheet", window, "Calibrate the trackpad", "", {{"Cancel", true}, {"OK", false}}, listener});
    const std::string pid = std::to_string(host);
    EXPECT_EQ(ok({"show", "windows"}), "window 1 of System Preferences (pid " + pid + "): \"Arvel\" [Calibrate…]\n"
                                       "  alert 2 on window 1: \"Arvel daemon not available\" \"The daemon is not available.\\nRestart.\" [OK]\n"
                                       "  sheet 3 on window 1: \"Calibrate the trackpad\" [Cancel] [OK (disabled)]\n");

    EXPECT_EQ(ok({"check", "window", "Arvel", "daemon", "not", "available"}), "yes\n");
    EXPECT_EQ(ok({"check", "window", "Arvel", "daemon"}), "no\n");

    // By program: its newest window with such a button.
    EXPECT_EQ(refused({"press", "System Preferences", "OK"}), "the button \"OK\" of sheet 3 is disabled");
    EXPECT_EQ(ok({"press", "2", "OK"}), "pressed \"OK\" on alert 2 \"Arvel daemon not available\"\n");
    EXPECT_EQ(ok({"press", "System Preferences", "Cancel"}), "pressed \"Cancel\" on sheet 3 \"Calibrate the trackpad\"\n");
    EXPECT_EQ(presses, (std::vector<std::string> {"2 OK", "3 Cancel"}));
    EXPECT_EQ(refused({"press", "1", "Open"}), "window 1 has no button \"Open\"");
    EXPECT_EQ(refused({"press", "Finder", "OK"}), "no process named \"Finder\"");
    EXPECT_EQ(refused({"press", "1"}), "usage: press WINDOW|PROGRAM TITLE");
    // Pressing answers what a person did; the mouse verb stays as it was.
    EXPECT_EQ(ok({"press"}), "mouse button down at (0, 0)\n");
}

TEST_F(MachineCommandsTest, WorksAProgramsControlsThroughItAndReadsBackWhatCameOfIt)
{
    int host = m.processes().launch({"System Preferences", "com.apple.systempreferences", "/Applications/System Preferences.app", "sprf", 0}).pid;
    std::vector<std::string> asked;
    std::uint64_t listener = m.windows().addPressListener(
        [&](std::uint64_t window, const std::string& operation, const std::string& control, const std::string& value, std::uint64_t serial) {
            asked.push_back(std::to_string(window) + " " + operation + " " + control + " " + value + " " + std::to_string(serial));
        });
    m.windows().open({0, host, "window", 0, "Arvel", "", {}, listener});
    EXPECT_EQ(ok({"choose", "System Preferences", "trackpadTap", "Clicks"}), "request 1: choose \"trackpadTap\" \"Clicks\" on window 1 \"Arvel\"\n");
    EXPECT_EQ(ok({"slide", "1", "trackSpeed", "7"}), "request 2: slide \"trackSpeed\" \"7\" on window 1 \"Arvel\"\n");
    EXPECT_EQ(asked, (std::vector<std::string> {"1 choose trackpadTap Clicks 1", "1 slide trackSpeed 7 2"}));
    EXPECT_EQ(ok({"show", "answer", "1"}), "pending\n");
    // Only the program asked answers, and once.
    EXPECT_FALSE(m.windows().answer(1, host + 1, "done"));
    EXPECT_TRUE(m.windows().answer(1, host, "done"));
    EXPECT_FALSE(m.windows().answer(1, host, "again"));
    EXPECT_TRUE(m.windows().answer(2, host, "\"7\" is not a value of \"trackSpeed\""));
    EXPECT_EQ(ok({"show", "answer", "1"}), "done\n");
    EXPECT_EQ(ok({"show", "answer", "2"}), "\"7\" is not a value of \"trackSpeed\"\n");
    EXPECT_EQ(refused({"show", "answer", "9"}), "no request 9");
    EXPECT_EQ(refused({"click", "System Preferences"}), "usage: click WINDOW|PROGRAM CONTROL");
    EXPECT_EQ(refused({"click", "Finder", "OK"}), "no process named \"Finder\"");
}

TEST_F(MachineCommandsTest, AddAppLaysOutBundlesWithAndWithoutIdentifierAndCreator)
{
    EXPECT_EQ(ok({"add-app", "/Applications/Old.app", "--creator", "ABCD"}), "laid out \"/Applications/Old.app\" creator 'ABCD'\n");
    EXPECT_EQ(ok({"add-app", "/Applications/Safari.app", "--id", "com.apple.Safari"}), "laid out \"/Applications/Safari.app\" (com.apple.Safari)\n");
    std::string problem;
    auto safari = machine::ApplicationBundle::read("/Applications/Safari.app", &problem);
    ASSERT_TRUE(safari) << problem;
    EXPECT_EQ(safari->identifier(), "com.apple.Safari");
    std::ifstream pkgInfo(hostPath("/Applications/Old.app/Contents/PkgInfo"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(pkgInfo), {}), "APPLABCD");
    EXPECT_EQ(refused({"add-app", "/Applications/Old.app"}), "\"/Applications/Old.app\" is there already");
    EXPECT_EQ(refused({"add-app", "/Applications/New.app", "--creator", "ABC"}), "a creator code has four characters, not \"ABC\"");
    EXPECT_EQ(refused({"add-app", "Relative"}), "\"Relative\" is no absolute path of an application bundle (NAME.app)");
}

} // namespace

// --- the installer's road: the password prompt, and the Finder's restart
namespace {

TEST_F(MachineCommandsTest, AnAdministratorsPasswordAnswersThePromptWhichShowsAmongTheWindows)
{
    EXPECT_EQ(refused({"set-password", "bob", "x"}), "no user named \"bob\" (add-user first)");
    EXPECT_EQ(refused({"set-password", "alice"}), "usage: set-password USER PASSWORD [--admin]");
    ok({"add-user", "alice", "501"});
    ok({"add-user", "bob", "502"});
    EXPECT_EQ(ok({"set-password", "alice", "secret", "--admin"}), "alice has a password and is an administrator\n");
    ok({"set-password", "bob", "hunter2"});
    EXPECT_EQ(refused({"authorize", "alice", "secret"}), "no authorization prompt is shown");
    ok({"boot"});
    ok({"login", "alice"});
    const int installer = m.processes().launch({"installer", "com.tessmoor.Arvel.installer", "/Volumes/Arvel/Arvel Installer.app"}).pid;

    std::vector<std::int32_t> answers;
    m.authorization().ask(installer, "installer", "system.privilege.admin", [&](std::int32_t status) { answers.push_back(status); });
    EXPECT_EQ(ok({"show", "windows"}), "authorization 1 of installer (pid 3): \"Authenticate\" \"installer requires that you type an "
                                       "administrator's name and password.\" [OK] [Cancel]\n");
    EXPECT_EQ(ok({"authorize", "bob", "hunter2"}), "authorization: wrong name or password for \"bob\" (attempt 1 of 3)\n")
        << "bob is no administrator";
    EXPECT_EQ(ok({"authorize", "alice", "secret"}), "authorization: \"system.privilege.admin\" granted to installer (pid 3) by the administrator alice\n");
    EXPECT_EQ(answers, std::vector<std::int32_t> {0});
    EXPECT_EQ(ok({"show", "windows"}), "windows: none\n");

    std::vector<std::string> lines;
    const std::uint64_t prompt = m.authorization().ask(installer, "installer", "system.privilege.admin", [&](std::int32_t status) { answers.push_back(status); });
    EXPECT_EQ(m.authorization().ask(installer, "installer", "system.privilege.admin", [&](std::int32_t status) { answers.push_back(status); }), 0u)
        << "one prompt a program at a time";
    EXPECT_EQ(m.authorization().ask(installer, "installer", "system.privilege.anything", [&](std::int32_t status) { answers.push_back(status); }), 0u);
    EXPECT_EQ(answers, (std::vector<std::int32_t> {0, machine::errAuthorizationDenied, machine::errAuthorizationDenied}));
    answers = {0};
    EXPECT_EQ(ok({"press", "installer", "Cancel"}), "pressed \"Cancel\" on authorization 2 \"Authenticate\"\n");
    EXPECT_EQ(answers, (std::vector<std::int32_t> {0, machine::errAuthorizationCanceled}));
    EXPECT_FALSE(m.authorization().isGranted(prompt));
    lines = logLines();
    EXPECT_EQ(lines[lines.size() - 2], "arvel-machine[0] authorization: cancelled; \"system.privilege.admin\" denied to installer (pid 3)");
    EXPECT_EQ(refused({"cancel"}), "no authorization prompt is shown");
}

TEST_F(MachineCommandsTest, TheFindersRestartEndsEveryProgramAndBootsAgainKeepingTheUsers)
{
    DiskFixture::writeStartupItem("Arvel");
    ok({"add-user", "alice", "501"});
    ok({"boot"});
    ok({"login", "alice"});
    const std::size_t before = m.systemLog().lines().size();
    m.requestRestart("installer (pid 5)");
    harness.runFor(0.1);
    std::vector<std::string> lines = logLines();
    EXPECT_EQ(std::vector<std::string>(lines.begin() + static_cast<long>(before), lines.end()),
        (std::vector<std::string> {"arvel-machine[0] Finder: restart asked by installer (pid 5)", "arvel-machine[0] restarting: every program ends",
            "arvel-machine[0] the machine boots again", "arvel-machine[0] startup item Arvel: pid 2, host pid 7002, UID 0",
            "arvel-machine[0] login window on the console"}));
    EXPECT_EQ(programs.terminated, std::vector<int> {}) << "the recording starter runs nothing to end";
    EXPECT_EQ(ok({"show", "console"}), "console: login window\n");
    EXPECT_EQ(ok({"show", "sessions"}), "sessions: none\n");
    EXPECT_NE(m.users().userNamed("alice"), nullptr);
}

} // namespace
// --- end of the installer's road
