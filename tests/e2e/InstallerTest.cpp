// The installer as a person uses it, with real processes: the package built
// from the tree on the disk of a machine with nothing installed, the
// installer opened by alice, her administrator's password typed into the
// machine's prompt, the tool run as root, the Finder's restart, and the
// system it leaves running; then the uninstall, and the system without it.
#include "e2e/InstalledSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

const char* const kInstaller = "/Volumes/Arvel/Arvel Installer.app";
const char* const kItems[] = {"/System/Library/Extensions/Arvel.kext", "/Library/StartupItems/Arvel", "/Library/PreferencePanes/Arvel.prefPane"};
const char* const kAliceSettings = "/Users/alice/Library/Preferences/com.tessmoor.Arvel.plist";

class TheInstaller : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "the tool runs as root and alice's programs take her ids: only a root machine service gives both";
    }
    void TearDown() override
    {
        if (!system)
            return;
        EXPECT_EQ(system->finish(), std::vector<pid_t> {}) << "processes the machine started are still running";
    }
    bool wait(const InstalledSystem::Words& condition, double timeoutSeconds = 10)
    {
        bool held = system->waitFor(condition, timeoutSeconds);
        if (!held) {
            std::string log;
            for (const std::string& line : system->logLines())
                log += "\n  " + line;
            ADD_FAILURE() << "timed out waiting for " << ::testing::PrintToString(condition) << "; the system log:" << log;
        }
        return held;
    }
    bool present(const std::string& systemPath)
    {
        struct stat info {};
        return ::lstat((system->root() + systemPath).c_str(), &info) == 0;
    }
    // alice opens the installer and presses its button; the prompt comes.
    // The line the installer's own end will write to the system log.
    std::string openAndPress(const std::string& button)
    {
        const std::string opened = system->ok({"open", kInstaller});
        std::smatch process;
        EXPECT_TRUE(std::regex_search(opened, process, std::regex(R"(installer \(pid \d+, host pid \d+\))"))) << opened;
        EXPECT_TRUE(wait({"window", "Arvel 1.0 Installation"}));
        system->ok({"press", "installer", button});
        EXPECT_TRUE(wait({"window", "Authenticate"}));
        return process.str() + " exited with status 0";
    }

    std::unique_ptr<InstalledSystem> system;
};

TEST_F(TheInstaller, InstallsFromThePackageRestartsIntoTheDaemonAndUninstallsKeepingAlicesSettings)
{
    system = std::make_unique<InstalledSystem>(InstalledSystem::EmptyDisk {});
    ASSERT_EQ(system->problem(), "");
    std::error_code error;
    fs::create_directories(system->root() + "/Volumes/Arvel");
    fs::copy(ARVEL_PACKAGE, system->root() + kInstaller, fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
    ASSERT_FALSE(error) << error.message();
    ASSERT_TRUE(system->serve());
    system->ok({"add-user", "alice", "501"});
    system->ok({"set-password", "alice", "secret", "--admin"});
    EXPECT_EQ(system->ok({"boot"}), "login window on the console\n");
    system->ok({"login", "alice"});
    // alice as her system leaves her before anything of Arvel: her login
    // items (none) and her settings of an earlier install.
    const std::vector<std::string> onTheMachine {"ARVEL_MACHINE=org.arvel.Machine"};
    ASSERT_TRUE(system->defaults({"--user", "alice", "write", "loginwindow", "AutoLaunchedApplicationDictionary", "<array/>"}, nullptr, onTheMachine));
    ASSERT_TRUE(system->defaults({"--user", "alice", "write", "com.tessmoor.Arvel", "CornerSize", "-int", "12"}, nullptr, onTheMachine));

    const std::string installerEnded = openAndPress("Install");
    EXPECT_EQ(system->perform({"authorize", "alice", "guess"}),
        (InstalledSystem::Ran {true, "authorization: wrong name or password for \"alice\" (attempt 1 of 3)\n"}));
    system->ok({"authorize", "alice", "secret"});
    ASSERT_TRUE(wait({"window", "Installation Successful"}));
    for (const char* item : kItems) {
        struct stat info {};
        ASSERT_EQ(::lstat((system->root() + item).c_str(), &info), 0) << item;
        EXPECT_EQ(info.st_uid, 0u) << item;
        EXPECT_EQ(info.st_mode & 0022, 0u) << item;
    }
    system->ok({"press", "installer", "Restart"});
    ASSERT_TRUE(wait({"log", "arvel-machine[0] <Notice>: the machine boots again"}));
    ASSERT_TRUE(wait({"log", "arveld: Daemon started."}));
    EXPECT_TRUE(wait({"log", installerEnded})) << "the installer ends on its own when the restart asks it to";

    // The agent is alice's login item now: her login starts it, and the
    // daemon pushes her settings.
    const std::string login = system->ok({"login", "alice"});
    EXPECT_NE(login.find("login item /Library/PreferencePanes/Arvel.prefPane/Contents/Resources/ArvelSessionAgent.app (hidden)"), std::string::npos)
        << login;
    EXPECT_TRUE(wait({"driver-app-writes", "1"})) << "the daemon's push for alice ends by clearing the application override";
    EXPECT_NE(system->ok({"show", "hid"}).find("CornerSize = 12"), std::string::npos) << system->ok({"show", "hid"});

    const std::string uninstallerEnded = openAndPress("Uninstall");
    system->ok({"authorize", "alice", "secret"});
    ASSERT_TRUE(wait({"window", "Uninstall Successful"}));
    const std::size_t before = system->logLength();
    system->ok({"press", "installer", "Restart"});
    ASSERT_TRUE(wait({"log", uninstallerEnded}));
    ASSERT_TRUE(eventually([&] {
        Lines booted = system->logLines(before);
        return std::find(booted.begin(), booted.end(), "arvel-machine[0] <Notice>: login window on the console") != booted.end();
    })) << "the machine boots again";
    for (const char* item : kItems)
        EXPECT_FALSE(present(item)) << item;
    EXPECT_TRUE(wait({"no-process", "arveld"}));
    EXPECT_TRUE(present(kAliceSettings));
}

} // namespace
