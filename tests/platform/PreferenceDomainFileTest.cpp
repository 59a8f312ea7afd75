#include "Defaults/PreferenceDomainFile.h"
#include "support/PreferencesTestMachine.h"

#include <gtest/gtest.h>

namespace {

const std::string kFolder = "/Users/alice/Library/Preferences";
const std::string kDomainFile = kFolder + "/com.tessmoor.Arvel.plist";

std::string setAsideLine(const std::string& reason, const std::string& copy)
{
    return "Preferences error: \"" + kDomainFile + "\" cannot be read (" + reason + "); moved it aside to \"" + copy
        + "\".";
}

} // namespace

class APreferenceDomainFile : public ::testing::Test {
protected:
    PreferencesTestMachine machine;
};

TEST_F(APreferenceDomainFile, IsNamedAsTheOriginalOSNamesItAndNeverOutsideItsFolder)
{
    EXPECT_EQ(preferenceDomainPath("/Users/alice", "com.tessmoor.Arvel", false, "0011"), kDomainFile);
    EXPECT_EQ(preferenceDomainPath("/Users/alice/", "com.tessmoor.Arvel", true, "0011"),
        "/Users/alice/Library/Preferences/ByHost/com.tessmoor.Arvel.0011.plist");
    EXPECT_EQ(
        preferenceDomainPath("", ".GlobalPreferences", false, "0011"), "/Library/Preferences/.GlobalPreferences.plist");
    // Names that would leave the preferences folder name no file.
    EXPECT_EQ(preferenceDomainPath("/Users/alice", "../../../etc/passwd", false, "0011"), "");
    EXPECT_EQ(preferenceDomainPath("/Users/alice", "..", false, "0011"), "");
    EXPECT_EQ(preferenceDomainPath("/Users/alice", "", false, "0011"), "");
    EXPECT_EQ(preferenceDomainPath("/Users/alice", "com.x", true, "../x"), "");
}

TEST_F(APreferenceDomainFile, ThatIsNotAPropertyListIsMovedAsideWithOneLineAndReadsAsMissing)
{
    machine.writeFile(kDomainFile, "PrefsVersion=4 (hand edited)");
    EXPECT_TRUE(loadPreferenceDomain(kDomainFile).isNil());
    EXPECT_FALSE(machine.exists(kDomainFile));
    EXPECT_EQ(machine.readFile(kDomainFile + ".unreadable"), "PrefsVersion=4 (hand edited)");
    EXPECT_EQ(machine.logEntries(),
        (std::vector<CapturingLogSink::Entry> {
            {kLogPriorityError, setAsideLine("not a property list", kDomainFile + ".unreadable")}}));
}

TEST_F(APreferenceDomainFile, OfTheWrongRootTypeIsMovedAsideKeepingOlderCopies)
{
    machine.writeFile(kDomainFile + ".unreadable", "first");
    machine.writeFile(kDomainFile + ".unreadable.1", "second");
    machine.writeDomain(kDomainFile, Value::array({1, 2}));
    EXPECT_TRUE(loadPreferenceDomain(kDomainFile).isNil());
    EXPECT_EQ(machine.readFile(kDomainFile + ".unreadable"), "first");
    EXPECT_EQ(machine.readFile(kDomainFile + ".unreadable.1"), "second");
    EXPECT_EQ(machine.readDomain(kDomainFile + ".unreadable.2"), Value::array({1, 2}));
    EXPECT_EQ(machine.logLines(),
        std::vector<std::string> {setAsideLine("root is array, not dictionary", kDomainFile + ".unreadable.2")});
}

TEST_F(APreferenceDomainFile, IsNeverReplacedByAWriteWhileUnreadable)
{
    machine.writeFile(kDomainFile, "<plist><dict><key>Torn");
    ASSERT_TRUE(storePreferenceDomain(kDomainFile, Value::dictionary({{"PrefsVersion", 4}})));
    EXPECT_EQ(machine.readFile(kDomainFile + ".unreadable"), "<plist><dict><key>Torn");
    EXPECT_EQ(machine.readDomain(kDomainFile), Value::dictionary({{"PrefsVersion", 4}}));
    EXPECT_EQ(machine.logLines(),
        std::vector<std::string> {setAsideLine("not a property list", kDomainFile + ".unreadable")});
}

TEST_F(APreferenceDomainFile, IsLeftInPlaceByAReaderThatMayNotWriteIt)
{
    machine.writeFile(kDomainFile, "garbage");
    EXPECT_TRUE(loadPreferenceDomain(kDomainFile, false).isNil());
    EXPECT_EQ(machine.readFile(kDomainFile), "garbage");
    EXPECT_FALSE(machine.exists(kDomainFile + ".unreadable"));
    EXPECT_EQ(machine.logLines(),
        std::vector<std::string> {"Preferences error: \"" + kDomainFile + "\" cannot be read (not a property list)."});
}

TEST_F(APreferenceDomainFile, IsMovedAsideRatherThanDeletedWhenUnreadable)
{
    machine.writeFile(kDomainFile, "garbage");
    EXPECT_TRUE(removePreferenceDomain(kDomainFile));
    EXPECT_FALSE(machine.exists(kDomainFile));
    EXPECT_EQ(machine.readFile(kDomainFile + ".unreadable"), "garbage");

    machine.writeDomain(kDomainFile, Value::dictionary({{"A", 1}}));
    EXPECT_TRUE(removePreferenceDomain(kDomainFile));
    EXPECT_EQ(machine.filesIn(kFolder), std::vector<std::string> {"com.tessmoor.Arvel.plist.unreadable"});
    EXPECT_TRUE(removePreferenceDomain(kDomainFile)) << "nothing left to remove is no failure";
}
