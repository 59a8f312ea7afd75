#include "Unix/Identity.h"
#include "machine/Machine.h"

#include <gtest/gtest.h>

using machine::Machine;

class AMachine : public ::testing::Test {
protected:
    Machine& m = Machine::shared();
    AMachine() { m.reset(); }
    ~AMachine() override { m.reset(); }
};

TEST_F(AMachine, BootsWithOnlyRootAndRunsItsProgramAsRoot)
{
    ASSERT_EQ(m.users().all().size(), 1u);
    EXPECT_EQ(m.users().userWithId(0)->name, "root");
    EXPECT_EQ(m.effectiveUserHome(), "/var/root");
    EXPECT_EQ(posix::geteuid(), 0u);
}

TEST_F(AMachine, ExpandsTildesThroughItsUserTable)
{
    m.users().addUser("alice", 501);
    m.users().addUser("bob", 502, "/Volumes/Home/bob");
    EXPECT_EQ(m.expandTilde("~alice/Library/Preferences/"), "/Users/alice/Library/Preferences/");
    EXPECT_EQ(m.expandTilde("~bob"), "/Volumes/Home/bob");
    EXPECT_EQ(m.expandTilde("~nobody/Library"), "~nobody/Library");
    EXPECT_EQ(m.expandTilde("~/Library"), "/var/root/Library");
    EXPECT_EQ(m.expandTilde("/plain"), "/plain");
}

TEST_F(AMachine, SwitchesTheEffectiveIdLikeUnix)
{
    m.users().addUser("alice", 501);
    EXPECT_EQ(posix::seteuid(501), 0);
    EXPECT_EQ(posix::geteuid(), 501u);
    EXPECT_EQ(m.effectiveUserHome(), "/Users/alice");
    EXPECT_EQ(posix::seteuid(0), 0);

    m.failures().failNext("seteuid", -1);
    EXPECT_EQ(posix::seteuid(501), -1);
    EXPECT_EQ(posix::geteuid(), 0u);
    EXPECT_EQ(posix::seteuid(501), 0);

    m.setRealUserId(501);
    EXPECT_EQ(posix::seteuid(0), -1);
}

TEST_F(AMachine, ChangesGroupsOnlyWhileTheEffectiveIdIsRoot)
{
    m.users().addUser("alice", 501);
    EXPECT_EQ(posix::getpwuid(501)->pw_gid, 20u);
    EXPECT_FALSE(posix::getpwuid(777));
    EXPECT_EQ(posix::setgroups({20}), 0);
    EXPECT_EQ(posix::setegid(20), 0);
    EXPECT_EQ(posix::seteuid(501), 0);
    EXPECT_EQ(posix::setegid(0), -1) << "a user cannot take root's group back";
    EXPECT_EQ(posix::setgroups({0}), -1);
    EXPECT_EQ(posix::getegid(), 20u);
    EXPECT_EQ(posix::getgroups(), std::vector<posix::gid_t> {20});
    EXPECT_EQ(posix::seteuid(0), 0);
    EXPECT_EQ(posix::setegid(0), 0);
    EXPECT_EQ(posix::setgroups({0}), 0);
    EXPECT_EQ(posix::getgroups(), std::vector<posix::gid_t> {0});
}

TEST_F(AMachine, InjectsFailuresOnceRepeatedlyOrUntilCleared)
{
    auto& f = m.failures();
    f.failNext("IOServiceOpen", -536870207, 2);
    EXPECT_EQ(f.take("IOServiceOpen"), -536870207);
    EXPECT_EQ(f.take("IOServiceOpen"), -536870207);
    EXPECT_EQ(f.take("IOServiceOpen"), 0);
    f.failNext("x", 5, -1);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(f.take("x"), 5);
    f.clear("x");
    EXPECT_EQ(f.take("x"), 0);
}
