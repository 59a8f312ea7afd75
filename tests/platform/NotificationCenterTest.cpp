#include "Notifications/NotificationCenter.h"

#include <gtest/gtest.h>

class ANotificationCenter : public ::testing::Test {
protected:
    NotificationCenter center;
    std::vector<std::string> heard;
    int a = 0, b = 0, c = 0;
    int senderOne = 0, senderTwo = 0;

    NotificationCenter::Callback recorder(std::string who)
    {
        return [this, who](const Notification& n) { heard.push_back(who + ":" + n.name + ":" + n.object.description()); };
    }
};

TEST_F(ANotificationCenter, MatchesByNameAndSenderEitherOfWhichMayBeAny)
{
    center.addObserver(&a, recorder("byName"), "com.tessmoor.Arvel.ConsoleUserLogin");
    center.addObserver(&b, recorder("bySender"), "", &senderOne);
    center.addObserver(&c, recorder("any"));
    center.postNotificationName("com.tessmoor.Arvel.ConsoleUserLogin", 501u, {}, &senderTwo);
    center.postNotificationName("com.tessmoor.Arvel.ConsoleUserLogout", {}, {}, &senderOne);
    EXPECT_EQ(heard,
        (std::vector<std::string> {"byName:com.tessmoor.Arvel.ConsoleUserLogin:501", "any:com.tessmoor.Arvel.ConsoleUserLogin:501",
            "bySender:com.tessmoor.Arvel.ConsoleUserLogout:(null)", "any:com.tessmoor.Arvel.ConsoleUserLogout:(null)"}));
}

TEST_F(ANotificationCenter, RemovesAnObserverFromEverything)
{
    center.addObserver(&a, recorder("a1"), "one");
    center.addObserver(&a, recorder("a2"), "two");
    center.addObserver(&b, recorder("b"), "one");
    center.removeObserver(&a);
    center.postNotificationName("one");
    center.postNotificationName("two");
    EXPECT_EQ(heard, std::vector<std::string> {"b:one:(null)"});
    EXPECT_EQ(center.observerCount(), 1u);
}

TEST_F(ANotificationCenter, RemovesOnlyTheNamedRegistration)
{
    center.addObserver(&a, recorder("a1"), "one");
    center.addObserver(&a, recorder("a2"), "two");
    center.removeObserver(&a, "one");
    center.postNotificationName("one");
    center.postNotificationName("two");
    EXPECT_EQ(heard, std::vector<std::string> {"a2:two:(null)"});
}

TEST_F(ANotificationCenter, SkipsObserversRemovedDuringAPostAndDefersOnesAdded)
{
    center.addObserver(&a, [&](const Notification& n) {
        heard.push_back("a");
        center.removeObserver(&b);
        center.removeObserver(&a); // removing itself while running is safe
        center.addObserver(&c, recorder("c"), n.name);
    }, "event");
    center.addObserver(&b, recorder("b"), "event");
    center.postNotificationName("event");
    EXPECT_EQ(heard, std::vector<std::string> {"a"});
    center.postNotificationName("event");
    EXPECT_EQ(heard, (std::vector<std::string> {"a", "c:event:(null)"}));
}

TEST_F(ANotificationCenter, DeliversPostsMadeFromInsideAnObserverAtOnce)
{
    center.addObserver(&a, [&](const Notification&) {
        heard.push_back("first");
        center.postNotificationName("second");
    }, "first");
    center.addObserver(&b, recorder("b"), "second");
    center.postNotificationName("first");
    EXPECT_EQ(heard, (std::vector<std::string> {"first", "b:second:(null)"}));
}
