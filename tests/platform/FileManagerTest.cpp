#include "Foundation/FileManager.h"
#include "Paths/DiskRoot.h"
#include "machine/Machine.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

class AFileManager : public ::testing::Test {
protected:
    TemporaryFolder root;
    AFileManager()
    {
        setDiskRoot(root.path());
        machine::Machine::shared().reset();
        machine::Machine::shared().users().addUser("alice", 501);
    }
    ~AFileManager() override
    {
        setDiskRoot("");
        machine::Machine::shared().reset();
    }
};

TEST_F(AFileManager, AnswersExistenceOnTheDiskRoot)
{
    EXPECT_FALSE(fileExistsAtPath(expandTildeInPath("~alice/Library/Preferences/")));
    root.write("Users/alice/Library/Preferences/.keep", "");
    bool folder = false;
    EXPECT_TRUE(fileExistsAtPath(expandTildeInPath("~alice/Library/Preferences/"), &folder));
    EXPECT_TRUE(folder);
    EXPECT_TRUE(fileExistsAtPath("/Users/alice/Library/Preferences/.keep", &folder));
    EXPECT_FALSE(folder);
    EXPECT_FALSE(fileExistsAtPath(""));
}
