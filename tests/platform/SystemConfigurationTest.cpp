#include "RunLoop/RunLoop.h"
#include "SystemConfiguration/SCDynamicStore.h"
#include "support/MachineHarness.h"

#include <gtest/gtest.h>

namespace {

struct Changes {
    std::vector<std::string> calls;
};

void recordChanges(SCDynamicStoreRef store, const Value& changedKeys, void* info)
{
    EXPECT_NE(store, nullptr);
    static_cast<Changes*>(info)->calls.push_back(changedKeys.description());
}

} // namespace

class AStoreSession : public ::testing::Test {
protected:
    MachineHarness world;
    Changes changes;
    SCDynamicStoreRef store;
    CFRunLoopSourceRef source;

    void SetUp() override
    {
        world.addUser("alice", 501);
        SCDynamicStoreContext context;
        context.info = &changes;
        store = SCDynamicStoreCreate(nullptr, "test", recordChanges, &context);
        ASSERT_NE(store, nullptr);
        ASSERT_TRUE(SCDynamicStoreSetNotificationKeys(store, Value::array({SCDynamicStoreKeyCreateConsoleUser(nullptr)}), Value()));
        source = SCDynamicStoreCreateRunLoopSource(nullptr, store, 0);
        ASSERT_NE(source, nullptr);
        RunLoop::current().addSource(source);
    }

    std::string consoleUser()
    {
        uid_t uid = 12345;
        gid_t gid = 12345;
        Value name = SCDynamicStoreCopyConsoleUser(store, &uid, &gid);
        return name.description() + " " + std::to_string(uid) + " " + std::to_string(gid);
    }
};

TEST_F(AStoreSession, HearsItsKeyFromTheRunLoopOncePerServing)
{
    world.login("alice");
    world.showLoginWindow();
    EXPECT_TRUE(changes.calls.empty()) << "the machine verb must not call back by itself";
    world.runFor(0);
    EXPECT_EQ(changes.calls, (std::vector<std::string> {"(State:/Users/ConsoleUser)"}));

    // Other keys are not heard.
    world.machine().dynamicStore().setValue("State:/Network/Global/IPv4", Value::dictionary());
    world.runFor(1);
    EXPECT_EQ(changes.calls.size(), 1u);

    // Patterns are heard too.
    ASSERT_TRUE(SCDynamicStoreSetNotificationKeys(store, Value::array(), Value::array({"^State:/Network/"})));
    world.machine().dynamicStore().setValue("State:/Network/Global/IPv4", Value::dictionary());
    world.login("alice");
    world.runFor(0);
    EXPECT_EQ(changes.calls.back(), "(State:/Network/Global/IPv4)");
}

TEST_F(AStoreSession, CopiesTheConsoleUserAsTheLoginMechanismWroteIt)
{
    EXPECT_EQ(consoleUser(), "(null) 12345 12345");
    world.login("alice");
    EXPECT_EQ(consoleUser(), "alice 501 20");
    world.showLoginWindow();
    EXPECT_EQ(consoleUser(), "loginwindow 0 0");
    world.setConsoleUser("../../etc", 502);
    EXPECT_EQ(consoleUser(), "../../etc 502 20");
    world.leaveConsole();
    EXPECT_EQ(consoleUser(), "(null) 12345 12345");
    EXPECT_FALSE(world.login("nobody-known"));
}

TEST_F(AStoreSession, StopsWatchingWhenReleased)
{
    store.reset();
    EXPECT_EQ(world.machine().dynamicStore().watcherCount(), 0u);
    world.login("alice");
    world.runFor(0);
    EXPECT_TRUE(changes.calls.empty());
}
