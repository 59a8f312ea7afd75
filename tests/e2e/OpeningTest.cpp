// Opening as a user's program does it, with real processes: the pane's
// Launch Services call and its /usr/bin/open reach the machine service,
// which starts the program with the caller's own ids in her login session,
// and refuses a caller who has none.
#include "e2e/InstalledSystem.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Lines = std::vector<std::string>;

const char* const kAgentApp = "/Library/PreferencePanes/Arvel.prefPane/Contents/Resources/ArvelSessionAgent.app";
const char* const kUniversalAccess = "/System/Library/PreferencePanes/UniversalAccessPref.prefPane";

// The real user id of a host process, from /proc.
std::string hostUid(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        std::istringstream fields(line);
        std::string name, uid;
        if (fields >> name >> uid && name == "Uid:")
            return uid;
    }
    return "";
}

class AUsersProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "programs opened for a user take her ids, which only a root machine service can give";
    }
    void TearDown() override
    {
        if (!system)
            return;
        EXPECT_EQ(system->finish(), std::vector<pid_t> {}) << "processes the machine started are still running";
    }
    InstalledSystem::Ran as(std::uint32_t uid, const InstalledSystem::Words& arguments)
    {
        return system->runAsUser(uid, MACHINE_CLIENT_PROGRAM, arguments, {"ARVEL_MACHINE=org.arvel.Machine", "ARVEL_ROOT=" + system->root()});
    }
    // The machine's own last line: the daemon and the agent write theirs
    // whenever they come to it.
    std::string lastLogLine()
    {
        Lines lines = system->logLines();
        for (auto line = lines.rbegin(); line != lines.rend(); ++line)
            if (line->starts_with("arvel-machine[0] "))
                return *line;
        return "";
    }

    std::unique_ptr<InstalledSystem> system;
};

TEST_F(AUsersProgram, OpensTheAgentAndPanesAsHerInHerSessionAndNothingForAUserWithoutOne)
{
    system = std::make_unique<InstalledSystem>(std::vector<std::string> {"alice:501"});
    ASSERT_EQ(system->problem(), "");
    ASSERT_TRUE(system->serve()) << system->problem();
    system->ok({"add-user", "alice", "501"});
    system->ok({"add-user", "carol", "503"});
    system->ok({"boot"});
    system->ok({"login", "alice"});
    system->ok({"quit", "ArvelSessionAgent"});
    ASSERT_TRUE(system->waitFor({"no-process", "ArvelSessionAgent"}));

    // What the pane does each time it is shown, from a program of hers.
    EXPECT_EQ(as(501, {"launch-agent"}), (InstalledSystem::Ran {true, "ok\n"}));
    const std::string opened = lastLogLine();
    const pid_t agent = InstalledSystem::hostPidIn(opened);
    EXPECT_EQ(opened, "arvel-machine[0] <Notice>: opened \"" + std::string(kAgentApp) + "\" as UID 501 in session 100001: ArvelSessionAgent (pid 6, host pid "
            + std::to_string(agent) + ")");
    EXPECT_TRUE(system->waitForAgentRun(agent, 0, {"ArvelSessionAgent: Tracking for user \"alice\" in session 100001."}));
    EXPECT_EQ(hostUid(agent), "501");
    EXPECT_EQ(as(501, {"launch-agent"}), (InstalledSystem::Ran {true, "ok\n"}));
    EXPECT_EQ(lastLogLine(), opened) << "her agent runs: nothing more is opened";

    // Carol has no session to open anything in.
    const std::string refused = "unable to open \"" + std::string(kAgentApp) + "\": UID 503 has no login session on the console";
    EXPECT_EQ(as(503, {"open", kAgentApp}), (InstalledSystem::Ran {true, refused + "\nstatus 1\n"}));
    EXPECT_EQ(lastLogLine(), "arvel-machine[0] <Error>: " + refused);

    // The pane's button for the Universal Access pane: the preferences host
    // opens it as her.
    const InstalledSystem::Ran pane = as(501, {"open", kUniversalAccess});
    const pid_t preferences = InstalledSystem::hostPidIn(pane.output);
    EXPECT_EQ(pane, (InstalledSystem::Ran {true, "opened \"/Applications/System Preferences.app\" with \"" + std::string(kUniversalAccess)
                                                   + "\" as UID 501 in session 100001: System Preferences (pid 7, host pid " + std::to_string(preferences)
                                                   + ")\nstatus 0\n"}));
    EXPECT_EQ(hostUid(preferences), "501");
    const std::string processes = system->ok({"show", "processes"});
    EXPECT_NE(processes.find("100001  /Applications/System Preferences.app/Contents/MacOS/System Preferences " + std::string(kUniversalAccess)),
        std::string::npos)
        << processes;
}

} // namespace
