// The machine's performers answer a program in process (typed) and over the
// bus (coded by name) alike, and keep what a caller registers or opens to
// that caller: only it ends it, and its leaving ends it all.
#include "machine/Machine.h"
#include "machine/link/PerformerTable.h"

#include <gtest/gtest.h>

using namespace machine;

namespace {

// A caller as the service knows one: its user, whether it speaks from a
// detached child, and what it holds.
class TestCaller final : public Caller {
public:
    explicit TestCaller(std::uint32_t uid) : uid_(uid) {}
    std::optional<std::uint32_t> userId() const override { return uid_; }
    int machinePid() const override { return pid; }
    bool callsFromChildOf(int, int) const override { return fromChild; }
    void hold(Holding holding, std::function<void()> end) override { held_.emplace(std::move(holding), std::move(end)); }
    bool letGo(const Holding& holding) override { return held_.erase(holding) != 0; }
    bool holds(const Holding& holding) const override { return held_.count(holding) != 0; }
    void leave()
    {
        auto held = std::move(held_);
        held_.clear();
        for (auto& [holding, end] : held)
            end();
    }
    std::size_t holdingCount() const { return held_.size(); }
    bool fromChild = false;
    int pid = 0;

private:
    std::uint32_t uid_;
    std::map<Holding, std::function<void()>> held_;
};

class AMachinesPerformers : public ::testing::Test {
protected:
    Machine& m = Machine::shared();
    const PerformerTable& table = PerformerTable::shared();
    TestCaller root {0};
    std::vector<std::pair<std::uint64_t, Value>> newsOut;

    AMachinesPerformers() { m.reset(); }
    ~AMachinesPerformers() override { m.reset(); }

    template <class R, class... A, class... Given>
    R inProcess(const Operation<R(A...)>& operation, Caller& caller, Given... given)
    {
        std::tuple<A...> arguments(given...);
        R result {};
        EXPECT_TRUE(table.performTyped(operation, m, caller, &arguments, &result)) << operation.name();
        return result;
    }
    // The answer over the bus, nil when refused.
    Value served(const char* name, Caller& caller, const Value& arguments)
    {
        bool known = false;
        NewsOut out = [this](const SubscriptionBase&, std::uint64_t registration, Value news) { newsOut.emplace_back(registration, news); };
        return table.serve(name, m, caller, arguments, out, &known).value_or(Value());
    }
    template <class R, class... A, class... Given>
    R overTheBus(const Operation<R(A...)>& operation, Caller& caller, Given... given)
    {
        std::tuple<A...> arguments(given...);
        R result {};
        EXPECT_TRUE(operation.decodeAnswer(served(operation.name(), caller, operation.encodeArguments(&arguments)), &result)) << operation.name();
        return result;
    }
};

} // namespace

TEST_F(AMachinesPerformers, AnswerTheSameInProcessAndOverTheBus)
{
    m.users().addUser("alice", 501);
    int safari = m.processes().launch({"Safari", "com.apple.Safari", "/Applications/Safari.app", "sfri"}).pid;
    m.processes().bringToFront(safari);
    std::uint64_t window = m.accessibility().openWindow(safari, ButtonSpec {{400, 300}, {80, 20}, true});
    m.driver().load();
    auto [opened, connection] = inProcess(ops::entryOpen, root, m.driver().entry(), 0u);
    ASSERT_EQ(opened, kIOReturnSuccess);

    auto same = [&](const auto& operation, auto... arguments) {
        auto local = inProcess(operation, root, arguments...);
        EXPECT_EQ(overTheBus(operation, root, arguments...), local) << operation.name();
        return local;
    };
    EXPECT_EQ(same(ops::frontProcess)->name, "Safari");
    EXPECT_EQ(same(ops::applications).size(), 1u);
    EXPECT_EQ(same(ops::userNamed, std::string("alice"))->home, "/Users/alice");
    EXPECT_FALSE(same(ops::userWithId, 999u));
    EXPECT_EQ(same(ops::expandTilde, std::string("~/Library"), 501u), "/Users/alice/Library");
    ElementRef button = m.accessibility().defaultButtonOf({safari, window});
    EXPECT_EQ(same(ops::copyAttribute, safari, window, std::string("AXDefaultButton")).value, Attribute(button));
    EXPECT_EQ(same(ops::copyAttribute, safari, button.element, std::string("AXPosition")).value, Attribute(ScreenPoint {400, 300}));
    EXPECT_EQ(same(ops::copyAttribute, safari, window + 99, std::string("AXRole")).code, kAXErrorInvalidUIElement);
    auto [code, observed] = same(ops::entryCallStructure, m.driver().entry(), connection, 7u, std::vector<std::int64_t> {}, 16u);
    EXPECT_EQ(code, kIOReturnSuccess);
    EXPECT_EQ(observed.size(), 16u);
    EXPECT_EQ(same(ops::entryClose, m.driver().entry() + 1, connection), kIOReturnNoDevice);
}

TEST_F(AMachinesPerformers, KeepWhatACallerMakesToItAndEndItWhenItLeaves)
{
    TestCaller daemon {0}, stranger {503};
    std::uint64_t client = served("power.addClient", daemon, Value::dictionary())["result"].unsignedInteger().value_or(0);
    ASSERT_NE(client, 0u);
    std::uint64_t observer = served("ax.createObserver", daemon, Value::dictionary({{"pid", 1}}))["result"].unsignedInteger().value_or(0);
    ASSERT_NE(observer, 0u);
    m.driver().load();
    ASSERT_EQ(overTheBus(ops::entryOpen, daemon, m.driver().entry(), 0u).code, kIOReturnSuccess);
    EXPECT_EQ(daemon.holdingCount(), 3u);

    // Another caller's attempts change nothing.
    EXPECT_EQ(served("power.removeClient", stranger, Value::dictionary({{"client", client}})), Value::dictionary());
    EXPECT_EQ(overTheBus(ops::addNotification, stranger, observer, 1, 0ull, std::string("AXWindowCreated")), kAXErrorInvalidUIElementObserver);
    EXPECT_EQ(m.power().clientCount(), 1u);

    // The holder's news go out as its registration's.
    m.power().sleep();
    ASSERT_EQ(newsOut.size(), 1u);
    EXPECT_EQ(newsOut[0].first, client);
    std::vector<std::uint32_t> heard;
    Subscription<void(), void(std::uint32_t, std::int64_t)>::Listener listener = [&](std::uint32_t type, std::int64_t) { heard.push_back(type); };
    EXPECT_TRUE(ops::powerClient.deliver(newsOut[0].second, &listener));
    EXPECT_EQ(heard, std::vector<std::uint32_t>({kIOMessageSystemWillSleep}));

    daemon.leave();
    EXPECT_EQ(m.power().clientCount(), 0u);
    EXPECT_EQ(m.accessibility().observerCount(), 0u);
    EXPECT_EQ(m.driver().openConnectionCount(), 0u);
}

TEST_F(AMachinesPerformers, MoveAMachineProcessOnlyForTheChildItDetachedInto)
{
    int daemon = m.processes().startUnixProcess("/usr/sbin/arveld").pid;
    m.processes().setHostPid(daemon, 4000);
    TestCaller other {0};
    EXPECT_FALSE(overTheBus(ops::setHostPid, other, daemon, 4001));
    EXPECT_EQ(m.processes().processWithPid(daemon)->hostPid, 4000);
    other.fromChild = true;
    EXPECT_TRUE(overTheBus(ops::setHostPid, other, daemon, 4001));
    EXPECT_EQ(m.processes().processWithPid(daemon)->hostPid, 4001);
}

TEST_F(AMachinesPerformers, ServeOnlyTheirNamesAndOnlyArgumentsThatFit)
{
    bool known = true;
    NewsOut out = [](const SubscriptionBase&, std::uint64_t, Value) {};
    EXPECT_FALSE(table.serve("no.such.operation", m, root, Value::dictionary(), out, &known));
    EXPECT_FALSE(known);
    EXPECT_FALSE(table.serve("pointer.warp", m, root, Value::dictionary({{"x", 1}, {"y", "two"}}), out, &known));
    EXPECT_TRUE(known);
    EXPECT_FALSE(table.serve("power.removeClient", m, root, Value::dictionary(), out, &known));
    EXPECT_TRUE(m.pointer().warps().empty());
    // What an opening passes on is bounded.
    Value::Array arguments(kMaxOpenArguments + 1, Value("/Users/alice/a"));
    EXPECT_FALSE(table.serve("launch.runOpen", m, root, Value::dictionary({{"arguments", Value(arguments)}}), out, &known));
    EXPECT_TRUE(known);
}
