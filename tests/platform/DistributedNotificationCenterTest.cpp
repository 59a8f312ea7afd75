#include "Notifications/DistributedNotificationCenter.h"
#include "RunLoop/Clock.h"

#include <gtest/gtest.h>

class ADistributedNotificationCenter : public ::testing::Test {
protected:
    ScopedVirtualClock time;
    DistributedNotificationCenter daemon {kNoLoginSession};
    DistributedNotificationCenter aliceAgent {101};
    DistributedNotificationCenter bobAgent {102};
    DistributedNotificationCenter alicePane {101};
    std::vector<std::string> heard;
    int a = 0, b = 0, c = 0, d = 0;

    ~ADistributedNotificationCenter() override { RunLoop::current().removeAllSourcesForTesting(); }

    DistributedNotificationCenter::Callback recorder(std::string who)
    {
        return [this, who](const Notification& n) { heard.push_back(who + ":" + n.name + ":" + n.object.description()); };
    }
    void runLoop() { RunLoop::current().runUntilDate(currentDate() + 0.1); }
};

TEST_F(ADistributedNotificationCenter, DeliversToAllSessionsOnlyWhenAsked)
{
    aliceAgent.addObserver(&a, recorder("alice"), "com.tessmoor.Arvel.DriverStateChange");
    bobAgent.addObserver(&b, recorder("bob"), "com.tessmoor.Arvel.DriverStateChange");
    daemon.postNotificationName("com.tessmoor.Arvel.DriverStateChange");
    runLoop();
    EXPECT_TRUE(heard.empty());
    daemon.postNotificationName("com.tessmoor.Arvel.DriverStateChange", {}, {}, true);
    runLoop();
    EXPECT_EQ(heard, (std::vector<std::string> {"alice:com.tessmoor.Arvel.DriverStateChange:(null)", "bob:com.tessmoor.Arvel.DriverStateChange:(null)"}));
}

TEST_F(ADistributedNotificationCenter, KeepsAPostInsideThePostersSessionOtherwise)
{
    aliceAgent.addObserver(&a, recorder("alice agent"), "com.tessmoor.Arvel.PrefChange");
    bobAgent.addObserver(&b, recorder("bob agent"), "com.tessmoor.Arvel.PrefChange");
    alicePane.postNotificationName("com.tessmoor.Arvel.PrefChange");
    runLoop();
    EXPECT_EQ(heard, std::vector<std::string> {"alice agent:com.tessmoor.Arvel.PrefChange:(null)"});
}

TEST_F(ADistributedNotificationCenter, DeliversLaterFromTheRunLoopInPostOrder)
{
    aliceAgent.addObserver(&a, recorder("any"));
    alicePane.postNotificationName("one", "text");
    alicePane.postNotificationName("two", 5); // not a string: travels as nil
    EXPECT_TRUE(heard.empty());
    EXPECT_EQ(aliceAgent.pendingCount(), 2u);
    runLoop();
    EXPECT_EQ(heard, (std::vector<std::string> {"any:one:text", "any:two:(null)"}));
}

TEST_F(ADistributedNotificationCenter, FiltersByObjectStringAndForgetsRemovedObservers)
{
    aliceAgent.addObserver(&a, recorder("x only"), "n", "x");
    aliceAgent.addObserver(&b, recorder("removed"), "n");
    aliceAgent.removeObserver(&b);
    alicePane.postNotificationName("n", "y");
    alicePane.postNotificationName("n", "x");
    runLoop();
    EXPECT_EQ(heard, std::vector<std::string> {"x only:n:x"});
}

TEST_F(ADistributedNotificationCenter, StopsDeliveringToADestroyedCentre)
{
    {
        DistributedNotificationCenter gone {101};
        gone.addObserver(&c, recorder("gone"));
        alicePane.postNotificationName("n");
    }
    runLoop();
    EXPECT_TRUE(heard.empty());
}
