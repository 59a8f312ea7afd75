// What the machine finds on its disk: startup items, login items and the
// application bundles they name.
#include "machine/ApplicationBundle.h"
#include "service/LoginItems.h"
#include "service/StartupItems.h"
#include "service/DiskFixture.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using Strings = std::vector<std::string>;
using machine::ApplicationBundle;

class ADiskRoot : public ::testing::Test {
protected:
    DiskFixture disk;
};

TEST_F(ADiskRoot, FindsStartupItemsInNameOrderAndSaysWhichItLeavesOut)
{
    disk.writeStartupItem("Zeta");
    disk.writeStartupItem("Arvel");
    disk.makeFolder("/Library/StartupItems/Broken");
    disk.writeFile("/Library/StartupItems/Broken/Other", "#!/bin/sh\n", true);
    disk.writeFile("/Library/StartupItems/README", "not an item");
    disk.writeStartupItem(".Hidden");
    disk.makeFolder("/Library/StartupItems/Folder/Folder"); // a folder where the executable should be

    StartupItems found = StartupItems::find();
    EXPECT_EQ(found.items(), (std::vector<StartupItem> {{"Arvel", "/Library/StartupItems/Arvel/Arvel"},
                                 {"Zeta", "/Library/StartupItems/Zeta/Zeta"}}));
    EXPECT_EQ(found.skipped(), (Strings {"Broken: no executable \"/Library/StartupItems/Broken/Broken\"",
                                   "Folder: no executable \"/Library/StartupItems/Folder/Folder\"", "README: not a folder"}));
}

TEST_F(ADiskRoot, RunningItemsAsRootLeavesOutThoseOthersCouldChange)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can make files of other owners";
    disk.writeStartupItem("Arvel");
    disk.writeStartupItem("GroupWritable");
    chmod(hostPath("/Library/StartupItems/GroupWritable/GroupWritable").c_str(), 0775);
    disk.writeStartupItem("OpenFolder");
    chmod(hostPath("/Library/StartupItems/OpenFolder").c_str(), 0777);
    disk.writeStartupItem("Users");
    ASSERT_EQ(chown(hostPath("/Library/StartupItems/Users/Users").c_str(), 501, 20), 0);

    StartupItems safe = StartupItems::find(true);
    EXPECT_EQ(safe.items(), (std::vector<StartupItem> {{"Arvel", "/Library/StartupItems/Arvel/Arvel"}}));
    EXPECT_EQ(safe.skipped(),
        (Strings {"GroupWritable: \"/Library/StartupItems/GroupWritable/GroupWritable\" may be written by others than root",
            "OpenFolder: \"/Library/StartupItems/OpenFolder\" may be written by others than root",
            "Users: \"/Library/StartupItems/Users/Users\" is not owned by root"}));
    EXPECT_EQ(StartupItems::find(false).items().size(), 4u) << "a machine that cannot run them as root runs them all";
}

TEST_F(ADiskRoot, WithoutStartupItemsFindsNone)
{
    StartupItems found = StartupItems::find();
    EXPECT_TRUE(found.items().empty());
    EXPECT_TRUE(found.skipped().empty());
}

TEST_F(ADiskRoot, ReadsLoginItemsInOrderExpandingTheHomeAndLeavingOutBadEntries)
{
    disk.writeLoginItems("/Users/alice",
        Value::array({DiskFixture::loginItem("/Applications/Agent.app"), Value("just a string"),
            Value::dictionary({{"Hide", true}}), DiskFixture::loginItem("~/Applications/Mine.app", true),
            Value::dictionary({{"Path", 7}}), Value::dictionary({{"Path", "/Applications/NoHide.app"}})}));

    LoginItems found = LoginItems::readForHome("/Users/alice");
    EXPECT_EQ(found.items(), (std::vector<LoginItem> {{"/Applications/Agent.app", false},
                                 {"/Users/alice/Applications/Mine.app", true}, {"/Applications/NoHide.app", false}}));
    EXPECT_EQ(found.problems(),
        (Strings {"login item 2 is not a dictionary", "login item 3 has no Path", "login item 5 has no Path"}));
}

TEST_F(ADiskRoot, HasNoLoginItemsWithoutTheDomainAndSaysSoOnceWhenItCannotBeRead)
{
    EXPECT_TRUE(LoginItems::readForHome("/Users/alice").items().empty());
    EXPECT_TRUE(LoginItems::readForHome("/Users/alice").problems().empty());

    disk.writeFile("/Users/alice/Library/Preferences/loginwindow.plist", "<plist><dict><key>broken");
    LoginItems unreadable = LoginItems::readForHome("/Users/alice");
    EXPECT_TRUE(unreadable.items().empty());
    EXPECT_EQ(unreadable.problems(),
        (Strings {"unable to read \"/Users/alice/Library/Preferences/loginwindow.plist\": not a property list"}));

    LoginItems notAnArray = LoginItems::fromDomain(
        Value::dictionary({{"AutoLaunchedApplicationDictionary", Value::dictionary({})}}), "/Users/alice");
    EXPECT_EQ(notAnArray.problems(), (Strings {"AutoLaunchedApplicationDictionary is not an array"}));
}

TEST_F(ADiskRoot, ReadsAnApplicationBundlesExecutableAndIdentifier)
{
    disk.writeApplication("/Applications/Agent.app", "Agent", "com.example.Agent");
    std::string problem;
    auto bundle = ApplicationBundle::read("/Applications/Agent.app/", &problem);
    ASSERT_TRUE(bundle) << problem;
    EXPECT_EQ(bundle->path(), "/Applications/Agent.app");
    EXPECT_EQ(bundle->executableName(), "Agent");
    EXPECT_EQ(bundle->executable(), "/Applications/Agent.app/Contents/MacOS/Agent");
    EXPECT_EQ(bundle->identifier(), "com.example.Agent");
}

TEST_F(ADiskRoot, RefusesBundlesThatCannotBeOpenedWithTheReason)
{
    disk.writeBundle("/Applications/NoName.app", Value::dictionary({{"CFBundleIdentifier", "x.y"}}));
    disk.writeBundle("/Applications/Escape.app", Value::dictionary({{"CFBundleExecutable", "../../../bin/sh"}}));
    disk.writePropertyList("/Applications/Gone.app/Contents/Info.plist", Value::dictionary({{"CFBundleExecutable", "Gone"}}));
    disk.writeFile("/Applications/Array.app/Contents/Info.plist",
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><array/></plist>");

    auto problemOf = [](const std::string& path) {
        std::string problem;
        EXPECT_FALSE(ApplicationBundle::read(path, &problem)) << path;
        return problem;
    };
    EXPECT_EQ(problemOf("/Applications/Missing.app"),
        "\"/Applications/Missing.app\": no readable Contents/Info.plist (no such file)");
    EXPECT_EQ(problemOf("/Applications/Array.app"),
        "\"/Applications/Array.app\": no readable Contents/Info.plist (root is array, not dictionary)");
    EXPECT_EQ(problemOf("/Applications/NoName.app"), "\"/Applications/NoName.app\": Info.plist names no CFBundleExecutable");
    EXPECT_EQ(problemOf("/Applications/Escape.app"),
        "\"/Applications/Escape.app\": CFBundleExecutable \"../../../bin/sh\" is not a file name");
    EXPECT_EQ(problemOf("/Applications/Gone.app"), "\"/Applications/Gone.app\": no executable \"Contents/MacOS/Gone\"");
}

} // namespace
