// The real InstallTool, run as a program from a package's resources onto a
// disk root: what it refuses, what it leaves, and that a tool killed at any
// moment leaves every item whole, the old version or the new.
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const char* const kItems[] = {"/System/Library/Extensions/Arvel.kext", "/Library/StartupItems/Arvel", "/Library/PreferencePanes/Arvel.prefPane"};
const char* const kResources[] = {"Arvel.kext", "StartupItems/Arvel", "Arvel.prefPane"};
constexpr int kFilesPerItem = 60;

struct ToolRun {
    int status = -1;         // exit status; -1 when it did not exit
    std::int32_t result = -1; // the 4 bytes it wrote; -1 when it wrote none
    std::string error;       // its standard error
};

class AnInstallTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "the tool runs as root and gives root what it installs";
        // The tool run as another user must reach its own program.
        fs::permissions(folder.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read
                | fs::perms::others_exec);
        disk = folder.path() + "/disk";
        fs::create_directories(disk);
    }

    // A package's resources: the tool and the three items, each file of
    // which reads the version.
    std::string package(const std::string& version, bool withKext = true)
    {
        const std::string resources = folder.path() + "/package-" + version;
        fs::create_directories(resources);
        fs::copy_file(ARVEL_INSTALL_TOOL, resources + "/InstallTool", fs::copy_options::overwrite_existing);
        for (const char* item : kResources) {
            if (!withKext && std::string(item) == "Arvel.kext")
                continue;
            fs::create_directories(resources + "/" + item + "/Contents");
            for (int i = 0; i < kFilesPerItem; ++i)
                std::ofstream(resources + "/" + item + "/Contents/file" + std::to_string(i)) << version << std::string(4096, '.');
        }
        return resources;
    }

    pid_t spawn(const std::string& resources, const std::vector<std::string>& arguments, uid_t uid = 0, int* out = nullptr, int* err = nullptr)
    {
        int outPipe[2], errPipe[2];
        EXPECT_EQ(pipe(outPipe), 0);
        EXPECT_EQ(pipe(errPipe), 0);
        pid_t pid = fork();
        if (pid == 0) {
            dup2(outPipe[1], 1);
            dup2(errPipe[1], 2);
            setenv("ARVEL_ROOT", disk.c_str(), 1);
            if (uid && setuid(uid) != 0)
                _exit(125);
            std::vector<char*> argv {const_cast<char*>("InstallTool")};
            for (const std::string& argument : arguments)
                argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            execv((resources + "/InstallTool").c_str(), argv.data());
            _exit(127);
        }
        close(outPipe[1]);
        close(errPipe[1]);
        if (out)
            *out = outPipe[0];
        else
            close(outPipe[0]);
        if (err)
            *err = errPipe[0];
        else
            close(errPipe[0]);
        return pid;
    }

    ToolRun run(const std::string& resources, const std::vector<std::string>& arguments, uid_t uid = 0)
    {
        int out = -1, err = -1;
        const pid_t pid = spawn(resources, arguments, uid, &out, &err);
        ToolRun ran;
        char buffer[4096];
        for (ssize_t got; (got = read(err, buffer, sizeof buffer)) > 0;)
            ran.error.append(buffer, static_cast<std::size_t>(got));
        std::int32_t result = 0;
        if (read(out, &result, sizeof result) == sizeof result)
            ran.result = result;
        close(out);
        close(err);
        int status = 0;
        waitpid(pid, &status, 0);
        if (WIFEXITED(status))
            ran.status = WEXITSTATUS(status);
        // The line without the console's date and pid.
        if (std::size_t text = ran.error.find("] "); text != std::string::npos && ran.error.find('\n') == ran.error.size() - 1)
            ran.error = ran.error.substr(text + 2);
        return ran;
    }

    // The version every file of the item reads; "missing", or "mixed" when
    // its files disagree or some are missing.
    std::string versionOf(const char* item)
    {
        const std::string contents = disk + item + "/Contents";
        if (!fs::exists(disk + item))
            return "missing";
        std::string seen;
        for (int i = 0; i < kFilesPerItem; ++i) {
            std::ifstream file(contents + "/file" + std::to_string(i));
            std::string text;
            file >> text;
            const std::string version = text.substr(0, 3);
            if (!file || (!seen.empty() && version != seen))
                return "mixed";
            seen = version;
        }
        return seen;
    }

    TemporaryFolder folder;
    std::string disk;
};

TEST_F(AnInstallTool, RefusesAnyOtherArgumentsANonRootCallerAndMissingResources)
{
    const std::string resources = package("1.0");
    for (const auto& arguments : std::vector<std::vector<std::string>> {{}, {"--install", "--uninstall"}, {"--Install"}, {"install"}}) {
        EXPECT_EQ(run(resources, arguments).error, "InstallTool error: Usage: InstallTool --install | --uninstall\n");
    }
    ToolRun notRoot = run(resources, {"--install"}, 65534);
    EXPECT_EQ(notRoot.status, 1);
    EXPECT_EQ(notRoot.result, 2);
    EXPECT_EQ(notRoot.error, "InstallTool error: Must run as root, not as UID 65534.\n");

    ToolRun missing = run(package("2.0", false), {"--install"});
    EXPECT_EQ(missing.result, 3);
    EXPECT_EQ(missing.error, "InstallTool error: Missing resource \"Arvel.kext\" in " + folder.path() + "/package-2.0.\n");
    EXPECT_FALSE(fs::exists(disk + "/Library")) << "nothing is installed from a package missing an item";
}

TEST_F(AnInstallTool, InstallsRootsItemsReplacesThemOnUpdateAndRemovesOnlyThem)
{
    const std::string resources = package("1.0");
    fs::create_symlink("/etc/passwd", resources + "/Arvel.prefPane/Contents/passwd");
    EXPECT_EQ(run(resources, {"--install"}).result, 0);
    for (const char* item : kItems) {
        struct stat info {};
        ASSERT_EQ(lstat((disk + item + "/Contents/file0").c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, 0u);
        EXPECT_EQ(info.st_mode & 07777, 0644u);
        EXPECT_EQ(versionOf(item), "1.0");
    }
    EXPECT_TRUE(fs::is_symlink(disk + kItems[2] + "/Contents/passwd")) << "a link is copied as a link, never followed";

    EXPECT_EQ(run(package("2.0"), {"--install"}).result, 0);
    for (const char* item : kItems)
        EXPECT_EQ(versionOf(item), "2.0");

    fs::create_directories(disk + "/Users/alice/Library/Preferences");
    std::ofstream(disk + "/Users/alice/Library/Preferences/com.tessmoor.Arvel.plist") << "settings";
    EXPECT_EQ(run(resources, {"--uninstall"}).result, 0);
    for (const char* item : kItems)
        EXPECT_FALSE(fs::exists(fs::symlink_status(disk + item))) << item;
    EXPECT_TRUE(fs::exists(disk + "/Users/alice/Library/Preferences/com.tessmoor.Arvel.plist"));
    EXPECT_TRUE(fs::exists("/etc/passwd"));
}

TEST_F(AnInstallTool, RefusesToWriteThroughAFolderThatIsALink)
{
    fs::create_directories(disk + "/Library");
    fs::create_directories(folder.path() + "/elsewhere");
    fs::create_directory_symlink(folder.path() + "/elsewhere", disk + "/Library/PreferencePanes");
    ToolRun ran = run(package("1.0"), {"--install"});
    EXPECT_EQ(ran.result, 4);
    EXPECT_TRUE(fs::is_empty(folder.path() + "/elsewhere"));
}

TEST_F(AnInstallTool, KilledAtAnyMomentLeavesEveryItemWholeAndTheNextInstallSucceeds)
{
    const std::string versions[] = {package("1.0"), package("2.0")};
    ASSERT_EQ(run(versions[0], {"--install"}).result, 0);
    // How long a whole install takes here, to kill it anywhere inside.
    const auto began = std::chrono::steady_clock::now();
    ASSERT_EQ(run(versions[1], {"--install"}).result, 0);
    const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - began).count();
    std::mt19937 random(16);
    std::uniform_int_distribution<long> moment(0, whole + whole / 4);
    std::set<std::string> outcomes;
    for (int trial = 0; trial < 100; ++trial) {
        const pid_t pid = spawn(versions[trial % 2], {"--install"});
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        std::string outcome;
        for (const char* item : kItems) {
            const std::string version = versionOf(item);
            ASSERT_TRUE(version == "1.0" || version == "2.0") << "trial " << trial << ": " << item << " is " << version;
            outcome += version + " ";
        }
        outcomes.insert(outcome);
    }
    EXPECT_GT(outcomes.size(), 1u) << "the kills all fell at the same point";
    EXPECT_EQ(run(versions[0], {"--install"}).result, 0);
    for (const char* item : kItems)
        EXPECT_EQ(versionOf(item), "1.0");
    for (const char* folder : {"/System/Library/Extensions", "/Library/StartupItems", "/Library/PreferencePanes"})
        EXPECT_EQ(std::distance(fs::directory_iterator(disk + folder), fs::directory_iterator {}), 1) << folder << " holds a leftover";
}

} // namespace
