#include "Defaults/PreferenceDomainFile.h"
#include "Foundation/PropertyList.h"
#include "Paths/DiskRoot.h"
#include "support/PreferencesTestMachine.h"

#include <fcntl.h>
#include <functional>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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
    EXPECT_EQ(machine.filesIn(kFolder),
        (std::vector<std::string> {"com.tessmoor.Arvel.plist.lock", "com.tessmoor.Arvel.plist.unreadable"}));
    EXPECT_TRUE(removePreferenceDomain(kDomainFile)) << "nothing left to remove is no failure";
}

// What a user can put in his own folder in place of his settings, to make a
// root reader block, run out of memory, or copy out a file he may not read.
TEST_F(APreferenceDomainFile, ThatIsNotARegularFileOfBoundedSizeIsRefusedWithoutWaitingAndMovedAside)
{
    const std::string host = hostPath(kDomainFile);
    std::filesystem::create_directories(hostPath(kFolder));
    machine.writeFile("/private/secret.plist", "<plist><dict><key>Secret</key><string>root's</string></dict></plist>");
    // A domain of exactly the largest size read: one long string.
    const std::string head = "<plist><dict><key>A</key><string>", tail = "</string></dict></plist>";
    const std::string text(kMaximumPreferenceFileBytes - head.size() - tail.size(), 'x');
    const std::string largest = head + text + tail;
    using Type = std::filesystem::file_type;
    struct Case {
        std::function<void()> plant;
        std::string reason;
        Type movedAside; // the file itself, never what it points to
    };
    const Case cases[] = {
        {[&] { std::filesystem::create_symlink(hostPath("/private/secret.plist"), host); }, "a symbolic link",
            Type::symlink},
        {[&] { ASSERT_EQ(::mkfifo(host.c_str(), 0644), 0); }, "not a regular file", Type::fifo},
        {[&] { machine.writeFile(kDomainFile, largest + " "); }, "larger than 1048576 bytes", Type::regular},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        machine.clearLog();
        c.plant();
        bool unreadable = false;
        EXPECT_TRUE(loadPreferenceDomain(kDomainFile, true, &unreadable).isNil());
        EXPECT_TRUE(unreadable);
        EXPECT_EQ(machine.logLines(), std::vector<std::string> {setAsideLine(c.reason, kDomainFile + ".unreadable")});
        EXPECT_FALSE(machine.exists(kDomainFile));
        EXPECT_EQ(std::filesystem::symlink_status(hostPath(kDomainFile + ".unreadable")).type(), c.movedAside);
        std::filesystem::remove(hostPath(kDomainFile + ".unreadable"));
    }

    // Up to the limit a domain is read.
    machine.writeFile(kDomainFile, largest);
    EXPECT_EQ(loadPreferenceDomain(kDomainFile), Value::dictionary({{"A", text}}));
}

TEST_F(APreferenceDomainFile, OfAnotherOwnerIsRefusedAndNeitherMovedNorReplaced)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving a file to another user takes root";
    machine.writeDomain(kDomainFile, Value::dictionary({{"A", 1}}));
    ASSERT_EQ(::chown(hostPath(kDomainFile).c_str(), 501, 20), 0);
    EXPECT_TRUE(loadPreferenceDomain(kDomainFile).isNil());
    EXPECT_FALSE(storePreferenceDomain(kDomainFile, Value::dictionary({{"B", 2}})));
    const std::string refused = "Preferences error: \"" + kDomainFile
        + "\" cannot be read (owned by UID 501, not UID 0) and cannot be moved aside (it belongs to UID 501); leaving it "
          "in place.";
    // Said once while the file stays as it is; again once it changed.
    EXPECT_TRUE(loadPreferenceDomain(kDomainFile).isNil());
    EXPECT_EQ(machine.logLines(), (std::vector<std::string> {refused}));
    ASSERT_EQ(::chmod(hostPath(kDomainFile).c_str(), 0600), 0);
    EXPECT_TRUE(loadPreferenceDomain(kDomainFile).isNil());
    EXPECT_EQ(machine.logLines(), (std::vector<std::string> {refused, refused}));
    EXPECT_EQ(machine.readDomain(kDomainFile), Value::dictionary({{"A", 1}}));
}

TEST_F(APreferenceDomainFile, WriteKeepsTheFilesFormatAndClearsWhatKilledWritersLeft)
{
    const std::string leftover = kFolder + "/.com.tessmoor.Arvel.plist.Ab12Cd";
    machine.writeFile(leftover, "half a domain");
    machine.writeFile(kFolder + "/.com.tessmoor.Arvel.plist.notes", "not a writer's");
    machine.writeFile(kDomainFile, *propertyListData(Value::dictionary({{"A", 1}}), PropertyListFormat::Binary));
    ASSERT_TRUE(updatePreferenceDomain(kDomainFile, [](Value domain) { return domain.set("B", 2); }));
    EXPECT_EQ(machine.readFile(kDomainFile).rfind("bplist00", 0), 0u);
    EXPECT_EQ(machine.readDomain(kDomainFile), Value::dictionary({{"A", 1}, {"B", 2}}));
    EXPECT_EQ(machine.filesIn(kFolder), (std::vector<std::string> {".com.tessmoor.Arvel.plist.notes",
                                            "com.tessmoor.Arvel.plist", "com.tessmoor.Arvel.plist.lock"}));

    machine.writeDomain(kDomainFile, Value::dictionary({{"A", 1}}));
    ASSERT_TRUE(updatePreferenceDomain(kDomainFile, [](Value domain) { return domain.set("B", 2); }));
    EXPECT_EQ(machine.readFile(kDomainFile).rfind("<?xml", 0), 0u);
    EXPECT_TRUE(machine.logLines().empty());
}

TEST_F(APreferenceDomainFile, WriterGivesUpOnALockHeldForGoodOrNotAPlainFileOfItsOwn)
{
    machine.writeDomain(kDomainFile, Value::dictionary({{"A", 1}}));
    const std::string lock = kDomainFile + ".lock";
    int held = ::open(hostPath(lock).c_str(), O_RDONLY | O_CREAT, 0600);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    EXPECT_FALSE(storePreferenceDomain(kDomainFile, Value::dictionary({{"B", 2}})));
    ::close(held);
    std::filesystem::remove(hostPath(lock));
    std::filesystem::create_symlink(hostPath(kFolder + "/elsewhere"), hostPath(lock));
    EXPECT_FALSE(storePreferenceDomain(kDomainFile, Value::dictionary({{"B", 2}})));
    EXPECT_FALSE(machine.exists(kFolder + "/elsewhere"));
    EXPECT_EQ(machine.readDomain(kDomainFile), Value::dictionary({{"A", 1}}));
    const std::string unable = "Preferences error: Unable to write \"" + kDomainFile + "\": its lock \"" + lock;
    EXPECT_EQ(machine.logLines(),
        (std::vector<std::string> {unable + "\" is held by another writer.", unable + "\" is a symbolic link."}));
}
