// Distributed notifications between real processes on a private bus: a post
// reaches the poster's session only, unless it is for every session.
#include "Notifications/DistributedNotificationCenter.h"
#include "support/PrivateBus.h"

#include <gtest/gtest.h>

namespace {

class DistributedNotificationsOnThePrivateBus : public ::testing::Test {
protected:
    // What a centre of the session received, as "name object userInfo".
    struct Listener {
        explicit Listener(std::uint32_t session) : centre(session)
        {
            centre.addObserver(this, [this](const Notification& n) {
                received.push_back(n.name + " " + n.object.description() + " " + n.userInfo.description());
            });
        }
        DistributedNotificationCenter centre;
        std::vector<std::string> received;
    };

    void SetUp() override { bus_ = &PrivateBus::shared(); }

    PrivateBus* bus_ = nullptr;
};

TEST_F(DistributedNotificationsOnThePrivateBus, ReachEverySessionOnlyWhenPostedForAll)
{
    Listener poster(501), other(502), daemon(kNoLoginSession);
    // Hear the bus before anything is posted on it.
    DistributedNotificationHub::shared();

    pid_t pid = bus_->start(BUS_POSTER_PROGRAM, {"501", "Own", "Everyone:all", "Done:all"});
    ASSERT_EQ(bus_->wait(pid), 0) << bus_->output(pid);
    ASSERT_TRUE(runLoopUntil([&] {
        return !poster.received.empty() && poster.received.back().starts_with("Done")
            && !other.received.empty() && other.received.back().starts_with("Done")
            && !daemon.received.empty() && daemon.received.back().starts_with("Done");
    }));

    EXPECT_EQ(poster.received, (std::vector<std::string> {
        "Own bus-poster {Index = 1; }",
        "Everyone bus-poster {Index = 2; }",
        "Done bus-poster {Index = 3; }",
    }));
    const std::vector<std::string> forAll {"Everyone bus-poster {Index = 2; }", "Done bus-poster {Index = 3; }"};
    EXPECT_EQ(other.received, forAll);
    EXPECT_EQ(daemon.received, forAll);
}

TEST_F(DistributedNotificationsOnThePrivateBus, LeaveThisProgramOnceAndAreNotHeardBackTwice)
{
    Listener here(501);
    DistributedNotificationHub::shared();
    here.centre.postNotificationName("Local", Value("here"), Value(), false);
    pid_t pid = bus_->start(BUS_POSTER_PROGRAM, {"501", "Done"});
    ASSERT_EQ(bus_->wait(pid), 0) << bus_->output(pid);
    ASSERT_TRUE(runLoopUntil([&] { return !here.received.empty() && here.received.back().starts_with("Done"); }));
    EXPECT_EQ(here.received, (std::vector<std::string> {"Local here (null)", "Done bus-poster {Index = 1; }"}));
}

} // namespace
