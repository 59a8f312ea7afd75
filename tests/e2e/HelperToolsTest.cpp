// The driver's three helper tools as real programs on the machine: what
// they print and log, their exit statuses, and what they change.
#include "e2e/InstalledSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <unistd.h>

namespace {

using Exited = InstalledSystem::Exited;
using Lines = std::vector<std::string>;

const char* const kPane = "/Library/PreferencePanes/Arvel.prefPane";
const char* const kInstallCheck = "/System/Library/Extensions/Arvel.kext/Contents/Resources/ArvelInstallSanity";

class TheHelperTools : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0) {
            GTEST_SKIP() << "the tools run as alice, whose ids only root can give them";
        }
        system = std::make_unique<InstalledSystem>(Lines {"alice:501"});
        ASSERT_EQ(system->problem(), "");
        ASSERT_TRUE(system->serve()) << system->problem();
        system->ok({"add-user", "alice", "501"});
    }
    void TearDown() override
    {
        if (system) {
            EXPECT_EQ(system->finish(), std::vector<pid_t> {}) << "processes the machine started are still running";
        }
    }
    // A tool of the build, run by hand by root (no uid) or by a user.
    Exited run(std::optional<std::uint32_t> uid, const std::string& tool, const Lines& arguments = {})
    {
        return system->runByHand(uid, std::string(ARVEL_BUILD_FOLDER) + "/Driver/Helper/" + tool, arguments,
            {"ARVEL_MACHINE=org.arvel.Machine", "ARVEL_ROOT=" + system->root()});
    }
    void removePane() { std::filesystem::remove_all(system->root() + kPane); }
    // What a program wrote to the system log, whatever its machine pid.
    Lines logOf(const std::string& program)
    {
        Lines out;
        for (const std::string& line : system->logLines())
            if (line.rfind(program + "[", 0) == 0)
                out.push_back(line);
        return out;
    }

    std::unique_ptr<InstalledSystem> system;
};

TEST_F(TheHelperTools, VerbosaTakesOnlyOnOrOffAndSetsTheDriversDebugLoggingAsRoot)
{
    const std::string usage = "Arvel driver debug logging.\n\n\tVerbosa [on | off]\n\n"
                              "Note that debug logging is _extremely_ verbose and will overflow your logs.\n"
                              "Only enable logging if instructed to do so by tech support.\n\n";
    EXPECT_EQ(run(std::nullopt, "Verbosa"), (Exited {255, usage}));
    EXPECT_EQ(run(std::nullopt, "Verbosa", {"ON"}), (Exited {255, usage}));

    system->ok({"boot"});
    EXPECT_EQ(run(std::nullopt, "Verbosa", {"on", "please"}), (Exited {0, "Arvel driver debug logging ON.\n"}));
    EXPECT_EQ(system->driverValue("DebugLogging"), "true");
    // The driver's properties are root's to write.
    EXPECT_EQ(run(501, "Verbosa", {"off"}), (Exited {255, "Arvel driver debug logging OFF.\nERROR: Unable to send driver message."}));
    EXPECT_EQ(system->driverValue("DebugLogging"), "true");
    EXPECT_EQ(run(std::nullopt, "Verbosa", {"off"}), (Exited {0, "Arvel driver debug logging OFF.\n"}));
    EXPECT_EQ(system->driverValue("DebugLogging"), "false");

    system->ok({"unload-driver"});
    EXPECT_EQ(run(std::nullopt, "Verbosa", {"on"}), (Exited {255, "Arvel driver debug logging ON.\nERROR: Unable to obtain driver service."}));
}

TEST_F(TheHelperTools, ThePaneLauncherRefusesRootAndAMissingPaneAndOpensThePaneForItsUserWithoutWaiting)
{
    system->ok({"boot"});
    system->ok({"login", "alice"});

    EXPECT_EQ(run(std::nullopt, "ArvelPrefLaunch"), (Exited {255, ""}));
    EXPECT_EQ(run(501, "ArvelPrefLaunch"), (Exited {0, ""}));
    ASSERT_TRUE(system->waitFor({"process", "System Preferences"}));
    removePane();
    EXPECT_EQ(run(501, "ArvelPrefLaunch"), (Exited {255, ""}));

    EXPECT_EQ(logOf("ArvelPrefLaunch"),
        (Lines {"ArvelPrefLaunch[0] <Error>: ArvelPrefLaunch error: Executed as root user. Abort.",
            "ArvelPrefLaunch[0] <Notice>: ArvelPrefLaunch: Launching \"/Library/PreferencePanes/Arvel.prefPane\".",
            "ArvelPrefLaunch[0] <Error>: ArvelPrefLaunch error: Unable to locate the Arvel preference pane. Abort."}));
    const Lines log = system->logLines();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& line) {
        return line.find("opened \"/Applications/System Preferences.app\" with \"/Library/PreferencePanes/Arvel.prefPane\" as UID 501 in session 100001: System Preferences")
            != std::string::npos;
    })) << "the pane was not opened for alice";
}

TEST_F(TheHelperTools, TheInstallCheckPassesAtBootAndWarnsAUserOfADiskWithoutItsPaneUntilSheAnswers)
{
    system->ok({"boot"});
    ASSERT_TRUE(system->waitFor({"log", "ArvelInstallSanity: Arvel installation appears correct."}));
    removePane();
    system->ok({"login", "alice"});

    const pid_t check = InstalledSystem::hostPidIn(system->ok({"start", kInstallCheck}));
    ASSERT_TRUE(system->waitFor({"window", "Arvel Installation Error"}));
    const std::string message = "\"The Arvel driver is present but the Arvel support files are missing. You should reinstall Arvel.\\n\\n"
                                "If you are attempting to uninstall Arvel please use the Uninstall function of the installer to "
                                "properly remove Arvel.\" [OK]\n";
    EXPECT_EQ(system->ok({"show", "alerts"}), "alert 1 (caution) from pid 5: \"Arvel Installation Error\" " + message);
    EXPECT_EQ(system->ok({"show", "windows"}), "alert 1 of ArvelInstallSanity (pid 5): \"Arvel Installation Error\" " + message);

    system->ok({"press", "ArvelInstallSanity", "OK"});
    ASSERT_TRUE(system->waitFor({"log", "ArvelInstallSanity (pid 5, host pid " + std::to_string(check) + ") exited with status 0"}));
    EXPECT_EQ(system->ok({"show", "alerts"}), "alerts: none\n");
    const Lines lines = logOf("ArvelInstallSanity");
    EXPECT_EQ(lines, (Lines {"ArvelInstallSanity[3] <Notice>: ArvelInstallSanity: Arvel installation appears correct.",
                         "ArvelInstallSanity[5] <Error>: ArvelInstallSanity: Arvel installation sanity check failed."}));
}

} // namespace
