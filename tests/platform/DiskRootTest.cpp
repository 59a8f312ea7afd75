#include "Paths/DiskRoot.h"

#include <cstdlib>
#include <gtest/gtest.h>

class ADiskRoot : public ::testing::Test {
protected:
    ~ADiskRoot() override
    {
        setDiskRoot("");
        unsetenv("ARVEL_ROOT");
    }
};

TEST_F(ADiskRoot, MapsSystemPathsUnderTheRootFromTheEnvironment)
{
    setenv("ARVEL_ROOT", "/tmp/machine/", 1);
    EXPECT_EQ(diskRoot(), "/tmp/machine");
    EXPECT_EQ(hostPath("/Library/PreferencePanes/Arvel.prefPane"), "/tmp/machine/Library/PreferencePanes/Arvel.prefPane");
    EXPECT_EQ(hostPath("/"), "/tmp/machine");
    EXPECT_EQ(systemPathForHostPath("/tmp/machine/Users/alice"), "/Users/alice");
    EXPECT_EQ(systemPathForHostPath("/tmp/machinery/x"), "");
}

TEST_F(ADiskRoot, FallsBackToTheDocumentedDefaultWhenTheVariableIsUnsetOrEmpty)
{
    unsetenv("ARVEL_ROOT");
    EXPECT_EQ(diskRoot(), kDefaultDiskRoot);
    setenv("ARVEL_ROOT", "", 1);
    EXPECT_EQ(diskRoot(), kDefaultDiskRoot);
}

TEST_F(ADiskRoot, PrefersATestOverride)
{
    setenv("ARVEL_ROOT", "/tmp/env", 1);
    setDiskRoot("/tmp/override");
    EXPECT_EQ(hostPath("/Users"), "/tmp/override/Users");
}

TEST_F(ADiskRoot, NeverLeavesTheRoot)
{
    setDiskRoot("/tmp/root");
    EXPECT_EQ(hostPath("/Users/../../../etc/passwd"), "/tmp/root/etc/passwd");
    EXPECT_EQ(hostPath("relative/./a//b/"), "/tmp/root/relative/a/b");
    EXPECT_EQ(normalizeSystemPath("/a/b/../c/."), "/a/c");
    EXPECT_EQ(normalizeSystemPath(".."), "/");
}
