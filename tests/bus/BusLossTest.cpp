// Losing the bus itself under connected clients and published names: every
// connection that rode on it dies from the run loop with its notice, as when
// a peer leaves, and everything after answers nothing at once. A program
// loses its bus once, so this is a program of its own and one case.
#include "Bus/MessageBus.h"
#include "DistributedObjects/Connection.h"
#include "DistributedObjects/DOObject.h"
#include "DistributedObjects/DistantObject.h"
#include "DistributedObjects/Port.h"
#include "Log/Log.h"
#include "Notifications/DistributedNotificationCenter.h"
#include "Notifications/NotificationCenter.h"
#include "RunLoop/Clock.h"
#include "RunLoop/RunLoop.h"
#include "support/PrivateBus.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::UnorderedElementsAre;

class Counter final : public DOObject {
public:
    DispatchResult dispatchInvocation(const std::string& selector, const Value&) override
    {
        if (selector != "count")
            return {DispatchStatus::NoSuchMethod, {}};
        return {DispatchStatus::Done, Value(++calls)};
    }
    std::string className() const override { return "Counter"; }
    int calls = 0;
};

std::shared_ptr<DistantObject> waitForProxy(const std::string& name)
{
    std::shared_ptr<DistantObject> proxy;
    runLoopUntil([&] { return (proxy = Connection::rootProxyForConnectionWithRegisteredNameHost(name)) != nullptr; });
    return proxy;
}

std::shared_ptr<Connection> publish(const std::string& name, std::shared_ptr<DOObject> object)
{
    auto port = Port::port();
    auto connection = Connection::connectionWithReceivePortSendPort(port, port);
    connection->setRootObject(std::move(object));
    return connection->registerName(name) ? connection : nullptr;
}

TEST(ALostBus, KillsEveryConnectionOnItFromTheRunLoopThenEverythingAnswersNothingAtOnce)
{
    PrivateBus& bus = PrivateBus::shared();
    pid_t server = bus.start(BUS_SERVER_PROGRAM, {"org.arvel.Test.Echo", "org.arvel.Test.Other"});
    auto echo = waitForProxy("org.arvel.Test.Echo");
    auto other = waitForProxy("org.arvel.Test.Other");
    ASSERT_TRUE(echo && other) << bus.output(server);
    ASSERT_EQ(echo->sendInvocation("echo:", Value::Array {Value("before")}), Value("before"));

    // A name this program serves, and a client of it in this program.
    auto counter = std::make_shared<Counter>();
    auto served = publish("org.arvel.Test.Here", counter);
    ASSERT_TRUE(served);
    auto here = Connection::rootProxyForConnectionWithRegisteredNameHost("org.arvel.Test.Here");
    ASSERT_TRUE(here);
    ASSERT_EQ(here->sendInvocation("count", Value::Array {}), Value(1));

    // Distributed notifications, heard in this program's session.
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
    EXPECT_TRUE(dead.empty()) << "the notices come from the run loop, never before it runs";

    ASSERT_TRUE(runLoopUntil([&] { return dead.size() >= 4; }));
    RunLoop::current().runUntilDate(currentDate() + 0.1);
    EXPECT_THAT(dead, UnorderedElementsAre(echo->connectionForProxy().get(), other->connectionForProxy().get(),
                          served.get(), here->connectionForProxy().get()));
    EXPECT_EQ(log.lines(), std::vector<std::string> {"MessageBus error: Lost the bus: Failed to process bus requests (Connection reset by peer)"});
    for (const auto* proxy : {&echo, &other, &here})
        EXPECT_FALSE((*proxy)->connectionForProxy()->isValid());
    EXPECT_FALSE(served->isValid());
    EXPECT_EQ(MessageBus::shared(), nullptr);

    // From now on nothing waits for a bus and nothing more is said: a call
    // that tried the bus would have logged why it got no answer.
    log.clear();
    EXPECT_EQ(echo->sendInvocation("echo:", Value::Array {Value("after")}), std::nullopt);
    EXPECT_EQ(here->sendInvocation("count", Value::Array {}), std::nullopt);
    EXPECT_EQ(counter->calls, 1);
    EXPECT_EQ(Connection::rootProxyForConnectionWithRegisteredNameHost("org.arvel.Test.Echo"), nullptr);
    EXPECT_EQ(publish("org.arvel.Test.Again", std::make_shared<Counter>()), nullptr);

    // The carrier has stopped: a post still reaches this program's centres,
    // without a word.
    centre.postNotificationName("AfterTheBus");
    RunLoop::current().runUntilDate(currentDate() + 0.1);
    EXPECT_EQ(heard, std::vector<std::string> {"AfterTheBus"});
    EXPECT_EQ(log.lines(), std::vector<std::string> {});
    EXPECT_EQ(dead.size(), 4u) << "each connection dies once";

    NotificationCenter::defaultCenter().removeObserver(&observer);
}

} // namespace
