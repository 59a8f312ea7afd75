// A user's files as the real root daemon meets them: alice puts, in place of
// her settings, a link to a file only root may read and a FIFO that no one
// writes to. The daemon, acting as alice with all her ids, refuses both with
// a line each and applies the defaults; it does not hang (her logout is still
// applied); nothing of root's file reaches her folder; and what it writes
// for her is hers.
//
// The machine gives alice her ids only as a root service: the test runs as
// root, and skips otherwise.
#include "e2e/InstalledSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

const std::string kPreferences = "/Users/alice/Library/Preferences";
const std::string kSettings = kPreferences + "/com.tessmoor.Arvel.plist";
const std::string kGlobal = kPreferences + "/.GlobalPreferences.plist";
const char* const kRootsSecret = "only-root-may-read-this";

std::string contents(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

class AUsersFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "alice's ids are given by a root machine service only";
    }
    void TearDown() override
    {
        if (!system)
            return;
        EXPECT_EQ(system->finish(), std::vector<pid_t> {}) << "processes the machine started are still running";
        EXPECT_EQ(system->serviceStatus(), 0);
    }

    std::string host(const std::string& systemPath) const { return system->root() + systemPath; }

    std::unique_ptr<InstalledSystem> system;
};

TEST_F(AUsersFiles, PutInPlaceOfHerSettingsAreRefusedByTheDaemonWhichNeitherHangsNorLeaksRootsFile)
{
    // No login items: only the daemon reads her files.
    system = std::make_unique<InstalledSystem>(std::vector<std::string> {});
    ASSERT_EQ(system->problem(), "");
    fs::create_directories(host(kPreferences));
    for (const char* folder : {"/Users/alice", "/Users/alice/Library", "/Users/alice/Library/Preferences"})
        ASSERT_EQ(chown(host(folder).c_str(), 501, 20), 0);
    const std::string secret = host("/private/root-only.plist");
    fs::create_directories(fs::path(secret).parent_path());
    std::ofstream(secret) << "<plist><dict><key>CornerSize</key><integer>20</integer><key>Secret</key><string>"
                          << kRootsSecret << "</string></dict></plist>";
    ASSERT_EQ(chmod(secret.c_str(), 0640), 0);
    fs::create_symlink(secret, host(kSettings));
    ASSERT_EQ(lchown(host(kSettings).c_str(), 501, 20), 0);
    ASSERT_EQ(mkfifo(host(kGlobal).c_str(), 0644), 0);
    ASSERT_EQ(chown(host(kGlobal).c_str(), 501, 20), 0);

    ASSERT_TRUE(system->serve()) << system->problem();
    system->ok({"add-user", "alice", "501"});
    system->ok({"boot"});
    ASSERT_TRUE(system->waitFor({"log", "arveld: Daemon started."}));
    const std::size_t since = system->logLength();
    EXPECT_EQ(system->ok({"login", "alice"}), "alice logged in: session 100001 on the console\n");
    ASSERT_TRUE(system->waitFor({"driver-app-writes", "1"}, 10));
    EXPECT_EQ(system->logLinesOf("arveld[2]", since),
        (Lines {"arveld[2] <Notice>: ArvelConsoleUser: User \"alice\" UID 501 on console.",
            "arveld[2] <Notice>: ArvelConfigPush: Setting driver to configuration for UID 501.",
            "arveld[2] <Error>: Preferences error: \"" + kSettings + "\" cannot be read (a symbolic link); moved it aside to \""
                + kSettings + ".unreadable\".",
            "arveld[2] <Error>: Preferences error: \"" + kGlobal + "\" cannot be read (not a regular file); moved it aside to \""
                + kGlobal + ".unreadable\"."}));
    const std::string configuration = system->driverValue("configuration from the HID system");
    EXPECT_NE(configuration.find("CornerSize = 15;"), std::string::npos) << configuration;
    EXPECT_EQ(system->driverValue("HIDTrackpadAcceleration"), "0.5");

    // The daemon still answers: her logout is applied.
    system->ok({"logout"});
    EXPECT_TRUE(system->waitFor({"log", "arveld[2] <Notice>: ArvelConfigPush: Setting driver to loginwindow defaults."}));

    // Her folder holds her own things only: what she planted, moved aside,
    // and what the daemon wrote acting as her.
    Lines names;
    for (const auto& entry : fs::directory_iterator(host(kPreferences))) {
        const std::string name = entry.path().filename().string();
        names.push_back(name);
        struct stat info {};
        ASSERT_EQ(lstat(entry.path().c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, 501u) << name;
        EXPECT_EQ(info.st_gid, 20u) << name;
        if (S_ISREG(info.st_mode)) {
            EXPECT_EQ(contents(entry.path()).find(kRootsSecret), std::string::npos) << name;
        }
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Lines {".GlobalPreferences.plist.lock", ".GlobalPreferences.plist.unreadable", "com.tessmoor.Arvel.plist",
                         "com.tessmoor.Arvel.plist.lock", "com.tessmoor.Arvel.plist.unreadable"}));
    EXPECT_TRUE(fs::is_symlink(host(kSettings + ".unreadable")));
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(host(kGlobal + ".unreadable"))));
}

// The defaults tool, run as root for a user, writes as the user: with the
// ids the machine's user table gives him, or, where no machine knows him,
// with the id it is given. Their homes are root's, open to all.
TEST_F(AUsersFiles, WrittenForAUserByTheDefaultsToolAreHisAsTheMachineOrTheCommandLineSays)
{
    system = std::make_unique<InstalledSystem>(std::vector<std::string> {});
    ASSERT_EQ(system->problem(), "");
    for (const char* home : {"/Users/erin", "/Users/frank"}) {
        fs::create_directories(host(home));
        fs::permissions(host(home), fs::perms::all);
    }
    auto owner = [&](const std::string& user) {
        struct stat info {};
        if (stat(host("/Users/" + user + "/Library/Preferences/com.tessmoor.Arvel.plist").c_str(), &info) != 0)
            return std::string("none");
        return std::to_string(info.st_uid) + ":" + std::to_string(info.st_gid);
    };

    ASSERT_TRUE(system->defaults({"--user", "frank", "--uid", "507", "write", "com.tessmoor.Arvel", "PrefsVersion", "-int", "4"}));
    EXPECT_EQ(owner("frank"), "507:20");

    ASSERT_TRUE(system->serve()) << system->problem();
    system->ok({"add-user", "erin", "505"});
    const std::vector<std::string> onTheMachine {"ARVEL_MACHINE=org.arvel.Machine"};
    ASSERT_TRUE(system->defaults({"--user", "erin", "write", "com.tessmoor.Arvel", "PrefsVersion", "-int", "4"}, nullptr, onTheMachine));
    EXPECT_EQ(owner("erin"), "505:20");
    EXPECT_FALSE(system->defaults({"--user", "erin", "--uid", "506", "read", "com.tessmoor.Arvel"}, nullptr, onTheMachine));
    EXPECT_EQ(system->problem(), "arvel-defaults failed: arvel-defaults: erin is UID 505 on the machine, not 506\n");
}
