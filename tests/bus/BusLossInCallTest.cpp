// Losing the bus found first by the program's own traffic, before its run
// loop has seen the bus go: the post or call that finds it says so once,
// everything after is quiet, and the death notices still come from the run
// loop. A program loses its bus once, so this is a program of its own.
#include "Bus/MessageBus.h"
#include "DistributedObjects/Connection.h"
#include "DistributedObjects/DistantObject.h"
#include "Log/Log.h"
#include "Notifications/DistributedNotificationCenter.h"
#include "Notifications/NotificationCenter.h"
#include "RunLoop/Clock.h"
#include "RunLoop/RunLoop.h"
#include "support/PrivateBus.h"

#include <gtest/gtest.h>

namespace {

TEST(ABusLostUnnoticed, IsSaidOnceByThePostThatFindsItThenCallsAndPostsAreQuietAndTheNoticeFollows)
{
    PrivateBus& bus = PrivateBus::shared();
    pid_t server = bus.start(BUS_SERVER_PROGRAM, {"org.arvel.Test.Echo"});
    std::shared_ptr<DistantObject> echo;
    runLoopUntil([&] { return (echo = Connection::rootProxyForConnectionWithRegisteredNameHost("org.arvel.Test.Echo")) != nullptr; });
    ASSERT_TRUE(echo) << bus.output(server);

    DistributedNotificationCenter centre(501);
    std::vector<std::string> heard;
    centre.addObserver(&heard, [&](const Notification& n) { heard.push_back(n.name); });
    DistributedNotificationHub::shared();
    std::vector<const void*> dead;
    int observer = 0;
    NotificationCenter::defaultCenter().addObserver(&observer, [&](const Notification& n) { dead.push_back(n.sender); },
        kConnectionDidDieNotification);

    ScopedLogCapture log;
    bus.killBus();
    centre.postNotificationName("First");
    centre.postNotificationName("Second");
    EXPECT_EQ(echo->sendInvocation("echo:", Value::Array {Value("after")}), std::nullopt);
    EXPECT_EQ(log.lines(), (std::vector<std::string> {
        "DistributedNotificationCenter error: Unable to post \"First\": Failed to emit signal (Connection reset by peer)",
        "MessageBus error: Lost the bus: Failed to process bus requests (Connection reset by peer)",
    }));
    EXPECT_TRUE(dead.empty()) << "the notice comes from the run loop, never from inside a post or a call";

    ASSERT_TRUE(runLoopUntil([&] { return !dead.empty(); }));
    RunLoop::current().runUntilDate(currentDate() + 0.1);
    EXPECT_EQ(dead, std::vector<const void*> {echo->connectionForProxy().get()});
    EXPECT_EQ(heard, (std::vector<std::string> {"First", "Second"}));
    EXPECT_EQ(log.lines().size(), 2u);
    NotificationCenter::defaultCenter().removeObserver(&observer);
}

} // namespace
