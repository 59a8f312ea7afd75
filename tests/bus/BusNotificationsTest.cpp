// Distributed notifications between real processes on a private bus: a post
// reaches the poster's session only, unless it is for every session (a
// program's session is its process's on the machine); what is not a post
// is dropped.
#include "Bus/MessageBus.h"
#include "Common/ArvelNotifications.h"
#include "Foundation/PropertyList.h"
#include "Log/Log.h"
#include "MachineLink/MachineLinkProtocol.h"
#include "Notifications/BusNotificationCarrier.h"
#include "Notifications/DistributedNotificationCenter.h"
#include "support/PrivateBus.h"

#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>

#include <csignal>
#include <functional>

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

// A program of alice's login session that learns its session from the
// machine service: its own session's post reaches alice's session only.
TEST_F(DistributedNotificationsOnThePrivateBus, ReachTheLoginSessionOfThePostersProcessOnTheMachine)
{
    pid_t host = bus_->start(MACHINE_HOST_PROGRAM, {});
    // A machine verb; "" until the host serves.
    auto verb = [](const std::vector<std::string>& words) {
        auto control = sdbus::createProxy(MessageBus::shared()->connection(), kMachineLinkDefaultServiceName, "/org/arvel/MachineHost");
        std::string answer;
        try {
            control->callMethod("Verb").onInterface("org.arvel.MachineHost").withArguments(words).storeResultsTo(answer);
        } catch (const sdbus::Error&) {
        }
        return answer;
    };
    ASSERT_TRUE(runLoopUntil([&] { return verb({"add-user", "alice", "501"}) == "ok"; })) << bus_->output(host);
    verb({"add-user", "bob", "502"});
    const std::string alice = verb({"session-login", "alice"});
    const std::string bob = verb({"session-login", "bob"});
    const std::string pane = verb({"start-process-in", alice, "/Library/PreferencePanes/Arvel.prefPane"});
    Listener inAlice(std::stoul(alice)), inBob(std::stoul(bob)), daemon(kNoLoginSession);
    DistributedNotificationHub::shared();

    pid_t pid = bus_->start(BUS_POSTER_PROGRAM, {"-", kArvelPrefChangeNotification, std::string(kArvelDriverStateChangeNotification) + ":all"},
        {std::string(kMachineServiceVariable) + "=" + kMachineLinkDefaultServiceName, std::string(kMachinePidVariable) + "=" + pane});
    ASSERT_EQ(bus_->wait(pid), 0) << bus_->output(pid);
    ASSERT_TRUE(runLoopUntil([&] { return inAlice.received.size() == 2 && inBob.received.size() == 1 && daemon.received.size() == 1; }))
        << inAlice.received.size() << " " << inBob.received.size() << " " << daemon.received.size();
    bus_->kill(host, SIGKILL);
    bus_->wait(host);

    EXPECT_EQ(inAlice.received, (std::vector<std::string> {
        "com.tessmoor.Arvel.PrefChange bus-poster {Index = 1; }",
        "com.tessmoor.Arvel.DriverStateChange bus-poster {Index = 2; }",
    }));
    const std::vector<std::string> forAll {"com.tessmoor.Arvel.DriverStateChange bus-poster {Index = 2; }"};
    EXPECT_EQ(inBob.received, forAll);
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

// Signals on the carrier's interface that are not posts, sent by another
// program: each is dropped with one line, and the next post is heard.
TEST_F(DistributedNotificationsOnThePrivateBus, DropPostsThatDoNotFitWithOneLineEachAndKeepHearing)
{
    Listener here(501);
    DistributedNotificationHub::shared();
    auto sender = sdbus::createSessionBusConnectionWithAddress(bus_->address());
    auto object = sdbus::createObject(*sender, "/org/arvel/Elsewhere");
    const std::string from = sender->getUniqueName();
    auto emit = [&](const std::function<void(sdbus::Signal&)>& fill) {
        auto signal = object->createSignal(kDistributedNotificationsInterface, "Post");
        fill(signal);
        object->emitSignal(signal);
    };
    auto bytes = [](const std::string& data) { return std::vector<std::uint8_t>(data.begin(), data.end()); };
    const std::string dictionary = binaryPropertyListData(Value::dictionary({{"object", "raw"}})).value_or("");
    const std::string array = binaryPropertyListData(Value::Array {Value("raw")}).value_or("");

    ScopedLogCapture log;
    emit([](auto& s) { s << std::string("Short"); });
    emit([&](auto& s) { s << 7 << bytes(dictionary) << 501u << false; });
    emit([&](auto& s) { s << std::string("Garbage") << std::vector<std::uint8_t> {1, 2, 3} << 501u << false; });
    emit([&](auto& s) { s << std::string("Listed") << bytes(array) << 501u << false; });
    emit([&](auto& s) { s << std::string("Heavy") << std::vector<std::uint8_t>(1024 * 1024 + 1, 'x') << 501u << false; });
    emit([&](auto& s) { s << std::string(100000, 'N') << bytes(dictionary) << 501u << false; });
    const std::string nul = std::string("<plist><dict><key>object</key><string>a") + '\0' + "b</string></dict></plist>";
    emit([&](auto& s) { s << std::string("Nul") << bytes(nul) << 501u << false; });
    emit([&](auto& s) { s << std::string("Fits") << bytes(dictionary) << 501u << false; });
    ASSERT_TRUE(runLoopUntil([&] { return !here.received.empty(); }));

    EXPECT_EQ(here.received, std::vector<std::string> {"Fits raw (null)"});
    EXPECT_EQ(log.lines(), (std::vector<std::string> {
        "DistributedNotificationCenter error: Dropped a post of the wrong shape from \"" + from + "\".",
        "DistributedNotificationCenter error: Dropped a post of the wrong shape from \"" + from + "\".",
        "DistributedNotificationCenter error: Dropped \"Garbage\" from \"" + from + "\": its payload is not a dictionary.",
        "DistributedNotificationCenter error: Dropped \"Listed\" from \"" + from + "\": its payload is not a dictionary.",
        "DistributedNotificationCenter error: Dropped \"Heavy\" from \"" + from + "\": its payload of 1048577 bytes is too large.",
        "DistributedNotificationCenter error: Dropped a post with a name of 100000 bytes from \"" + from + "\".",
        "DistributedNotificationCenter error: Dropped \"Nul\" from \"" + from + "\": its payload is not a dictionary.",
    }));
}

// A program hears only the names it observes: other posts, ill-shaped ones
// included, never wake it, so there is nothing to drop or log. Beside an
// observer of every name, and of a name with a quote in it, each post
// still comes once.
TEST_F(DistributedNotificationsOnThePrivateBus, ReachOnlyTheProgramsThatObserveTheirName)
{
    DistributedNotificationCenter centre(501);
    std::vector<std::string> heard;
    centre.addObserver(&heard, [&](const Notification& n) { heard.push_back(n.name); }, "Wanted");
    auto sender = sdbus::createSessionBusConnectionWithAddress(bus_->address());
    auto object = sdbus::createObject(*sender, "/org/arvel/Elsewhere");
    const std::string dictionary = binaryPropertyListData(Value::dictionary({})).value_or("");
    auto post = [&](const std::string& name, bool fits) {
        auto signal = object->createSignal(kDistributedNotificationsInterface, "Post");
        signal << name;
        if (fits) {
            appendByteArray(signal, dictionary);
            signal << 501u << false;
        }
        object->emitSignal(signal);
    };

    ScopedLogCapture log;
    post("Unwanted", false);
    post("Unwanted", true);
    post("Wanted", true);
    ASSERT_TRUE(runLoopUntil([&] { return !heard.empty(); }));
    EXPECT_EQ(heard, std::vector<std::string> {"Wanted"});
    EXPECT_EQ(log.lines(), std::vector<std::string> {});

    Listener any(501);
    centre.addObserver(&centre, [&](const Notification& n) { heard.push_back(n.name); }, "It's odd");
    post("It's odd", true);
    post("Wanted", true);
    post("Done", true);
    ASSERT_TRUE(runLoopUntil([&] { return any.received.size() == 3; }));
    EXPECT_EQ(heard, (std::vector<std::string> {"Wanted", "It's odd", "Wanted"}));
}

} // namespace
