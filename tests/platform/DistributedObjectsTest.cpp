#include "DistributedObjects/Connection.h"
#include "DistributedObjects/DOProtocol.h"
#include "DistributedObjects/Port.h"
#include "DistributedObjects/PortNameServer.h"
#include "Notifications/NotificationCenter.h"
#include "support/MachineHarness.h"

#include <gtest/gtest.h>

// A small protocol with every kind of argument and result.
class CounterProtocol : public DOProtocolObject<CounterProtocol> {
public:
    virtual int addAmount(int amount) = 0;
    virtual Value echo(const Value& value) = 0;
    virtual bool setFlag(bool on) = 0;
    virtual std::string nameWithSuffix(const std::string& suffix) = 0;
    virtual unsigned countTimes(unsigned times, double scale) = 0;
    virtual void reset() = 0;
    static const DOProtocolDescription<CounterProtocol>& protocolDescription()
    {
        using P = CounterProtocol;
        static const DOProtocolDescription<P> description("Counter", {
            doMethod("addAmount:", &P::addAmount),
            doMethod("echo:", &P::echo),
            doMethod("setFlag:", &P::setFlag),
            doMethod("nameWithSuffix:", &P::nameWithSuffix),
            doMethod("countTimes:scale:", &P::countTimes),
            doMethod("reset", &P::reset),
        });
        return description;
    }
};

class Counter final : public CounterProtocol {
public:
    int total = 0;
    bool flag = false;
    std::vector<bool> flags;
    int addAmount(int amount) override { return total += amount; }
    Value echo(const Value& value) override { return value; }
    bool setFlag(bool on) override
    {
        flags.push_back(on);
        return flag = on;
    }
    std::string nameWithSuffix(const std::string& suffix) override { return "counter" + suffix; }
    unsigned countTimes(unsigned times, double scale) override { return static_cast<unsigned>(times * scale); }
    void reset() override { total = 0; }
    std::string className() const override { return "Counter"; }
};

class CounterProxy final : public CounterProtocol {
public:
    explicit CounterProxy(std::shared_ptr<DistantObject> object) : proxy(std::move(object)) {}
    int addAmount(int amount) override { return proxy.invoke(&P::addAmount, amount); }
    Value echo(const Value& value) override { return proxy.invoke(&P::echo, value); }
    bool setFlag(bool on) override { return proxy.invoke(&P::setFlag, on); }
    std::string nameWithSuffix(const std::string& suffix) override { return proxy.invoke(&P::nameWithSuffix, suffix); }
    unsigned countTimes(unsigned times, double scale) override { return proxy.invoke(&P::countTimes, times, scale); }
    void reset() override { proxy.invoke(&P::reset); }
    std::string className() const override { return "CounterProxy"; }
    using P = CounterProtocol;
    DOTypedProxy<CounterProtocol> proxy;
};

class DistributedObjects : public ::testing::Test {
protected:
    MachineHarness world;
    std::shared_ptr<Counter> counter = std::make_shared<Counter>();

    std::shared_ptr<Connection> serve(const std::string& name)
    {
        auto port = Port::port();
        auto connection = Connection::connectionWithReceivePortSendPort(port, port);
        connection->setRootObject(counter);
        EXPECT_TRUE(connection->registerName(name));
        return connection;
    }

    std::vector<const void*> deathsHeard;
    void listenForDeaths()
    {
        NotificationCenter::defaultCenter().addObserver(
            this, [this](const Notification& n) { deathsHeard.push_back(n.sender); }, kConnectionDidDieNotification);
    }
};

TEST_F(DistributedObjects, CarryTypedCallsToTheServedObjectAndBack)
{
    auto server = serve("com.example.Counter");
    auto object = Connection::rootProxyForConnectionWithRegisteredNameHost("com.example.Counter", "");
    ASSERT_NE(object, nullptr);
    CounterProxy proxy(object);

    EXPECT_EQ(proxy.addAmount(5), 5);
    EXPECT_EQ(proxy.addAmount(-2), 3);
    Value nested = Value::dictionary({{"Arvel", Value::dictionary({{"Button", Value::array({1, 2.5, "x"})}})}});
    EXPECT_EQ(proxy.echo(nested), nested);
    EXPECT_TRUE(proxy.echo(Value()).isNil());
    EXPECT_TRUE(proxy.setFlag(true));
    EXPECT_EQ(proxy.nameWithSuffix("-1"), "counter-1");
    EXPECT_EQ(proxy.countTimes(4, 2.5), 10u);
    proxy.reset();
    EXPECT_EQ(counter->total, 0);
    EXPECT_EQ(server->clientCount(), 1u);

    // A name that nothing serves, and a foreign host, give no proxy.
    EXPECT_EQ(Connection::rootProxyForConnectionWithRegisteredNameHost("com.example.Nothing", ""), nullptr);
    EXPECT_EQ(Connection::rootProxyForConnectionWithRegisteredNameHost("com.example.Counter", "elsewhere.local"), nullptr);
}

TEST_F(DistributedObjects, AnswerNeutralValuesOnceTheServerIsGoneAndThenPostOneDeathNotice)
{
    listenForDeaths();
    auto server = serve("com.example.Counter");
    CounterProxy proxy(Connection::rootProxyForConnectionWithRegisteredNameHost("com.example.Counter"));
    const Connection* clientConnection = proxy.proxy.distantObject()->connectionForProxy().get();
    counter->total = 7;

    server.reset();
    EXPECT_EQ(proxy.addAmount(1), 0);
    EXPECT_TRUE(proxy.echo("x").isNil());
    EXPECT_FALSE(proxy.setFlag(true));
    EXPECT_EQ(proxy.nameWithSuffix("y"), "");
    proxy.reset();
    EXPECT_EQ(counter->total, 7) << "nothing reached the object";
    EXPECT_TRUE(deathsHeard.empty()) << "the notice comes from the run loop, not from inside a call";

    world.runFor(0);
    EXPECT_EQ(deathsHeard, (std::vector<const void*> {clientConnection}));
    EXPECT_FALSE(proxy.proxy.distantObject()->connectionForProxy()->isValid());
    world.runFor(1);
    EXPECT_EQ(deathsHeard.size(), 1u);
}

TEST_F(DistributedObjects, TellClientsOfAnInvalidatedServerEvenIfTheyNeverCallAgain)
{
    listenForDeaths();
    auto server = serve("com.example.Counter");
    auto first = Connection::rootProxyForConnectionWithRegisteredNameHost("com.example.Counter");
    auto second = Connection::rootProxyForConnectionWithRegisteredNameHost("com.example.Counter");
    server->invalidate();
    // The server's own notice comes at once, the clients' from the run loop.
    ASSERT_EQ(deathsHeard, (std::vector<const void*> {server.get()}));
    world.runFor(0);
    EXPECT_EQ(deathsHeard, (std::vector<const void*> {server.get(), first->connectionForProxy().get(),
                               second->connectionForProxy().get()}));
}

TEST_F(DistributedObjects, RefuseUnknownSelectorsAndArgumentsOfTheWrongKind)
{
    auto server = serve("com.example.Counter");
    auto object = Connection::rootProxyForConnectionWithRegisteredNameHost("com.example.Counter");
    std::string who = counter->description();

    EXPECT_EQ(object->sendInvocation("frobnicate", Value::array()), std::nullopt);
    EXPECT_EQ(object->sendInvocation("addAmount:", Value::array({"five"})), std::nullopt);
    EXPECT_EQ(object->sendInvocation("addAmount:", Value::array({1, 2})), std::nullopt);
    EXPECT_EQ(object->sendInvocation("addAmount:", Value()), std::nullopt);
    EXPECT_EQ(object->sendInvocation("countTimes:scale:", Value::array({-1, 1.0})), std::nullopt);
    EXPECT_EQ(counter->total, 0);
    EXPECT_EQ(world.logEntries(),
        (std::vector<CapturingLogSink::Entry> {
            MachineHarness::error("Connection error: " + who + " does not respond to \"frobnicate\"."),
            MachineHarness::error("Connection error: Arguments for \"addAmount:\" sent to " + who + " are of the wrong kind."),
            MachineHarness::error("Connection error: Arguments for \"addAmount:\" sent to " + who + " are of the wrong kind."),
            MachineHarness::error("Connection error: Arguments for \"addAmount:\" sent to " + who + " are of the wrong kind."),
            MachineHarness::error("Connection error: Arguments for \"countTimes:scale:\" sent to " + who + " are of the wrong kind."),
        }));

    // Any number is a truth value; the object sees true or false, nothing else.
    EXPECT_EQ(object->sendInvocation("setFlag:", Value::array({7})), Value(true));
    EXPECT_EQ(object->sendInvocation("setFlag:", Value::array({0.0})), Value(false));
    EXPECT_EQ(counter->flags, (std::vector<bool> {true, false}));
}

TEST_F(DistributedObjects, HoldANameForOneLiveConnectionAtATime)
{
    auto first = serve("com.example.Counter");
    auto port = Port::port();
    auto second = Connection::connectionWithReceivePortSendPort(port, port);
    second->setRootObject(counter);
    EXPECT_FALSE(second->registerName("com.example.Counter"));
    EXPECT_EQ(PortNameServer::systemDefaultPortNameServer().registeredNames(), (std::vector<std::string> {"com.example.Counter"}));

    first.reset();
    EXPECT_TRUE(PortNameServer::systemDefaultPortNameServer().registeredNames().empty());
    EXPECT_TRUE(second->registerName("com.example.Counter"));

    world.failNext("Connection::registerName", 1);
    EXPECT_FALSE(second->registerName("com.example.Other"));
    world.failNext("Port::port", 1);
    EXPECT_EQ(Port::port(), nullptr);
    world.failNext("Connection::connectionWithReceivePortSendPort", 1);
    EXPECT_EQ(Connection::connectionWithReceivePortSendPort(port, port), nullptr);
    EXPECT_EQ(Connection::connectionWithReceivePortSendPort(nullptr, port), nullptr);
}
