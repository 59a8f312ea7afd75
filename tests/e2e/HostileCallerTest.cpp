// Another user of the machine (carol, 503, never logged in) trying, by hand
// and with her own ids, what is root's: taking the daemon's and the
// machine's names before boot, operating the machine, changing the
// machine-wide calibration and telling the driver nobody is on the console
// through the real daemon, and claiming to be root in her environment. Each
// is refused, and the daemon keeps serving alice's agent.
#include "e2e/InstalledSystem.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <unistd.h>

namespace {

using Lines = std::vector<std::string>;
using Ran = InstalledSystem::Ran;

const char* const kSafariSet = "<dict><key>com.apple.Safari</key><dict><key>ApplicationName</key><string>Safari</string>"
                               "<key>NECorner</key><dict><key>Action</key><integer>4</integer></dict></dict></dict>";
const char* const kSafariCorners
    = "{ApplicationSet = {NECorner = {Action = 4; }; NWCorner = {Action = 0; }; SECorner = {Action = 0; }; SWCorner = {Action = 0; }; }; }";

class AnotherUserOfTheMachine : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "the other user's programs run with her ids, which only root can give them";
    }
    void TearDown() override
    {
        if (system) {
            EXPECT_EQ(system->finish(), std::vector<pid_t> {}) << "processes the machine started are still running";
        }
    }

    // The machine-wide settings folder, file by file.
    std::map<std::string, std::string> machineSettings()
    {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(system->root() + "/Library/Preferences/ByHost")) {
            std::ifstream in(entry.path(), std::ios::binary);
            files[entry.path().filename()] = std::string(std::istreambuf_iterator<char>(in), {});
        }
        return files;
    }

    Ran asCarol(const std::string& program, const InstalledSystem::Words& arguments, const std::vector<std::string>& environment = {})
    {
        return system->runAsUser(503, program, arguments, environment);
    }

    std::unique_ptr<InstalledSystem> system;
};

TEST_F(AnotherUserOfTheMachine, IsRefusedWhatIsRootsWhileTheDaemonKeepsServingTheConsoleUser)
{
    system = std::make_unique<InstalledSystem>(std::vector<std::string> {"alice:501"});
    ASSERT_EQ(system->problem(), "");
    ASSERT_TRUE(system->defaults({"--user", "alice", "write", "com.tessmoor.Arvel", "PrefsVersion", "-int", "4"}));
    ASSERT_TRUE(system->defaults({"--user", "alice", "write", "com.tessmoor.Arvel", "ApplicationSet", kSafariSet}));
    ASSERT_TRUE(system->defaults({"--any-user", "write", "-currentHost", "com.tessmoor.Arvel", "Calibration", "-dict", "MinX", "-int",
        "100", "MinY", "-int", "80", "MaxX", "-int", "2900", "MaxY", "-int", "2320"}));
    ASSERT_TRUE(system->serve()) << system->problem();
    system->ok({"add-user", "alice", "501"});
    system->ok({"add-user", "carol", "503"});

    // Before boot, nothing serves the names yet: the bus keeps them root's.
    for (const char* name : {"com.tessmoor.Arvel.DaemonDriverAccess", "com.tessmoor.Arvel.DaemonSystemDefaults", "org.arvel.Machine"})
        EXPECT_EQ(asCarol(HOSTILE_CLIENT_PROGRAM, {"own", name}), (Ran {true, "org.freedesktop.DBus.Error.AccessDenied\n"})) << name;
    EXPECT_EQ(asCarol(ARVEL_MACHINE_PROGRAM, {"boot"}),
        (Ran {false, "arvel-machine: UID 503 may not operate the machine (only root and the service's own user may)\n"}));

    system->ok({"boot"});
    ASSERT_TRUE(system->waitFor({"log", "arveld: Daemon started."}));
    const pid_t agent = InstalledSystem::hostPidIn(system->ok({"login", "alice"}));
    ASSERT_TRUE(system->waitForAgentRun(agent, 0, {"ArvelSessionAgent: Tracking for user \"alice\" in session 100001."}));
    ASSERT_TRUE(system->waitFor({"driver-app-writes", "1"}));
    const auto settings = machineSettings();
    const std::size_t since = system->logLength();

    EXPECT_EQ(asCarol(HOSTILE_CLIENT_PROGRAM, {"calibrate", "1", "2", "3", "4"}),
        (Ran {true, "{MaxX = 2900; MaxY = 2320; MinX = 100; MinY = 80; }\n"}));
    EXPECT_EQ(asCarol(HOSTILE_CLIENT_PROGRAM, {"off-console"}), (Ran {true, "NO\n"}));
    EXPECT_EQ(system->logLinesOf("arveld[2]", since),
        (Lines {
            "arveld[2] <Error>: ArvelDOServer error: Refused \"setCalibration:\" from UID 503: only root or the console user may change this.",
            "arveld[2] <Error>: ArvelDOServer error: Refused \"syncToDisk\" from UID 503: only root or the console user may change this.",
            "arveld[2] <Error>: ArvelDOServer error: Refused \"userOffConsole\" from UID 503: only root may do this.",
        }));
    EXPECT_EQ(machineSettings(), settings);
    const std::string driver = system->ok({"show", "driver"});
    EXPECT_NE(driver.find("\n  user on console: yes\n"), std::string::npos) << driver;

    // Her environment says root; the machine asks the bus, and a daemon she
    // starts so is not root.
    const std::vector<std::string> claimingRoot {"ARVEL_MACHINE=org.arvel.Machine", "ARVEL_MACHINE_UID=0", "ARVEL_ROOT=" + system->root()};
    EXPECT_EQ(asCarol(MACHINE_CLIENT_PROGRAM, {"identity", "0"}, claimingRoot),
        (Ran {true, "503 503 /Users/carol 503\n-1\n503 503 /Users/carol 503\n"}));
    const std::size_t beforeDaemon = system->logLength();
    EXPECT_EQ(asCarol(system->root() + "/Library/StartupItems/Arvel/arveld", {}, claimingRoot), (Ran {false, ""}));
    EXPECT_EQ(system->logLinesOf("arveld[0]", beforeDaemon), (Lines {"arveld[0] <Error>: arveld error: Must be run as root."}));

    system->ok({"launch", "Safari", "com.apple.Safari", "/Applications/Safari.app", "sfri"});
    system->ok({"front", "Safari"});
    EXPECT_TRUE(system->waitForDriver("per-application dictionary", kSafariCorners))
        << "alice's agent is still served; the driver holds " << system->driverValue("per-application dictionary");
}

} // namespace
