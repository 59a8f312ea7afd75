// The real arveld on a private bus: the first-instance rule, proxy calls
// from another process, the death notice, and messages that are not calls.
#include "Bus/MessageBus.h"
#include "Common/ArvelDriverAccessProtocol.h"
#include "Common/ArvelSystemDefaultsProxy.h"
#include "DistributedObjects/BusConnectionTransport.h"
#include "DistributedObjects/Connection.h"
#include "Foundation/PropertyList.h"
#include "Log/Log.h"
#include "RunLoop/Clock.h"
#include "RunLoop/RunLoop.h"
#include "Notifications/NotificationCenter.h"
#include "support/PrivateBus.h"

#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>

#include <csignal>
#include <unistd.h>

namespace {

const Value kCalibration = Value::dictionary({{"MaxX", 900}, {"MaxY", 700}, {"MinX", 100}, {"MinY", 50}});

class ADaemonOnThePrivateBus : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "arveld runs as root only";
        bus_ = &PrivateBus::shared();
    }
    void TearDown() override
    {
        for (pid_t pid : daemons_) {
            bus_->kill(pid, SIGKILL);
            bus_->wait(pid);
        }
    }

    pid_t startDaemon()
    {
        pid_t pid = bus_->start(ARVELD_PROGRAM, {}, {"ARVEL_NO_DETACH=1", "ARVEL_ROOT=" + root_.path()});
        daemons_.push_back(pid);
        return pid;
    }

    // The daemon's store, once the daemon serves it.
    std::shared_ptr<ArvelSystemDefaultsProxy> waitForStore()
    {
        std::shared_ptr<ArvelSystemDefaultsProxy> store;
        runLoopUntil([&] { return (store = ArvelSystemDefaultsProxy::proxyForRegisteredName()) != nullptr; });
        return store;
    }

    std::uint32_t ownerPid(const std::string& busName)
    {
        auto daemon = sdbus::createProxy(MessageBus::shared()->connection(), "org.freedesktop.DBus", "/org/freedesktop/DBus");
        std::uint32_t pid = 0;
        daemon->callMethod("GetConnectionUnixProcessID").onInterface("org.freedesktop.DBus").withArguments(busName).storeResultsTo(pid);
        return pid;
    }

    PrivateBus* bus_ = nullptr;
    TemporaryFolder root_;
    std::vector<pid_t> daemons_;
};

TEST_F(ADaemonOnThePrivateBus, RefusesASecondDaemonWhileTheFirstKeepsItsNames)
{
    pid_t first = startDaemon();
    auto store = waitForStore();
    ASSERT_TRUE(store);

    pid_t second = startDaemon();
    EXPECT_EQ(bus_->wait(second), 255);
    std::erase(daemons_, second);

    EXPECT_EQ(ownerPid(kArvelSystemDefaultsName), static_cast<std::uint32_t>(first));
    EXPECT_EQ(ownerPid(kArvelDriverAccessName), static_cast<std::uint32_t>(first));
    store->setLoginwindowTap(true);
    EXPECT_TRUE(store->loginwindowTap());
}

TEST_F(ADaemonOnThePrivateBus, AnswersProxyCallsFromAnotherProcess)
{
    startDaemon();
    auto store = waitForStore();
    ASSERT_TRUE(store);

    EXPECT_EQ(store->calibration(), Value());
    store->setCalibration(kCalibration);
    EXPECT_EQ(store->calibration(), kCalibration);
    EXPECT_EQ(store->hidProperties(), Value::dictionary({{"Arvel", Value::dictionary({{"Calibration", kCalibration}})}}));
    store->clearCalibration();
    EXPECT_EQ(store->hidProperties(), Value::dictionary({{"Arvel", Value::dictionary({})}}));
}

TEST_F(ADaemonOnThePrivateBus, DyingPostsTheDeathNoticeFromTheRunLoopThenCallsAnswerNeutrally)
{
    pid_t daemon = startDaemon();
    auto store = waitForStore();
    ASSERT_TRUE(store);
    store->setLoginwindowTap(true);
    std::shared_ptr<Connection> connection = store->connectionForProxy();
    ASSERT_TRUE(connection);

    std::vector<const void*> senders;
    int observer = 0;
    NotificationCenter::defaultCenter().addObserver(&observer, [&](const Notification& n) { senders.push_back(n.sender); },
        kConnectionDidDieNotification);

    bus_->kill(daemon, SIGKILL);
    bus_->wait(daemon);
    std::erase(daemons_, daemon);
    EXPECT_TRUE(senders.empty()) << "the notice comes from the run loop, never before it runs";

    EXPECT_TRUE(runLoopUntil([&] { return !senders.empty(); }));
    EXPECT_EQ(senders, std::vector<const void*> {connection.get()});
    EXPECT_FALSE(connection->isValid());
    EXPECT_FALSE(store->loginwindowTap());
    EXPECT_EQ(store->calibration(), Value());
    EXPECT_EQ(ArvelSystemDefaultsProxy::proxyForRegisteredName(), nullptr);
    NotificationCenter::defaultCenter().removeObserver(&observer);
}

TEST_F(ADaemonOnThePrivateBus, HungAnswersNeutrallyAfterTheTimeOutWithOneLineAndNoDeathNotice)
{
    pid_t daemon = startDaemon();
    auto store = waitForStore();
    ASSERT_TRUE(store);
    store->setLoginwindowTap(true);
    int deaths = 0;
    NotificationCenter::defaultCenter().addObserver(&deaths, [&](const Notification&) { ++deaths; }, kConnectionDidDieNotification);

    bus_->kill(daemon, SIGSTOP);
    ScopedLogCapture log;
    EXPECT_FALSE(store->loginwindowTap());
    EXPECT_EQ(log.lines(), std::vector<std::string> {"Connection error: No answer to \"loginwindowTap\" from "
                                                      "\"com.tessmoor.Arvel.DaemonSystemDefaults\": Connection timed out"});
    bus_->kill(daemon, SIGCONT);
    EXPECT_TRUE(store->loginwindowTap());
    RunLoop::current().runUntilDate(currentDate());
    EXPECT_EQ(deaths, 0);
    EXPECT_TRUE(store->connectionForProxy()->isValid());
    NotificationCenter::defaultCenter().removeObserver(&deaths);
}

// Sends one raw Invoke-shaped call; the error's name, or empty on success.
std::string rawCall(const std::string& method, const std::function<void(sdbus::MethodCall&)>& fill)
{
    const std::string path = objectPathForBusName(kArvelSystemDefaultsName);
    auto proxy = sdbus::createProxy(MessageBus::shared()->connection(), kArvelSystemDefaultsName, path);
    try {
        auto call = proxy->createMethodCall(kDistributedObjectsInterface, method);
        fill(call);
        proxy->callMethod(call);
    } catch (const sdbus::Error& error) {
        return error.getName();
    }
    return {};
}

std::vector<std::uint8_t> plistBytes(const Value& value)
{
    std::string data = binaryPropertyListData(value).value_or("");
    return std::vector<std::uint8_t>(data.begin(), data.end());
}

TEST_F(ADaemonOnThePrivateBus, AnswersMalformedMessagesWithAnErrorAndChangesNothing)
{
    startDaemon();
    auto store = waitForStore();
    ASSERT_TRUE(store);
    store->setLoginwindowTap(true);
    store->setCalibration(kCalibration);

    const std::string kInvalidArgs = "org.freedesktop.DBus.Error.InvalidArgs";
    const std::string kBadInvocation = "org.arvel.DistributedObjects.Error.BadInvocation";
    const std::string kRefused = "org.arvel.DistributedObjects.Error.Refused";
    // Wrong types and missing arguments never reach the object.
    EXPECT_EQ(rawCall("Invoke", [](auto& call) { call << 42; }), kInvalidArgs);
    EXPECT_EQ(rawCall("Invoke", [](auto& call) { call << std::string("setLoginwindowTap:"); }), kInvalidArgs);
    EXPECT_EQ(rawCall("Invoke", [](auto& call) { call << std::string("setLoginwindowTap:") << std::string("NO"); }), kInvalidArgs);
    EXPECT_EQ(rawCall("NoSuchMethod", [](auto&) {}), "org.freedesktop.DBus.Error.UnknownMethod");
    // Data that is not a property-list array, or too much of it.
    EXPECT_EQ(rawCall("Invoke", [](auto& call) { call << std::string("setLoginwindowTap:") << std::vector<std::uint8_t> {1, 2, 3}; }),
        kBadInvocation);
    EXPECT_EQ(rawCall("Invoke", [](auto& call) { call << std::string("setLoginwindowTap:") << plistBytes(Value::dictionary({{"on", false}})); }),
        kBadInvocation);
    EXPECT_EQ(rawCall("Invoke", [](auto& call) {
        call << std::string("setCalibration:") << std::vector<std::uint8_t>(kMaxInvocationBytes + 1, 'x');
    }), kBadInvocation);
    std::string deepXml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    for (int i = 0; i < 100000; ++i)
        deepXml += "<array>";
    deepXml += "</plist>";
    EXPECT_EQ(rawCall("Invoke", [&](auto& call) {
        call << std::string("setCalibration:") << std::vector<std::uint8_t>(deepXml.begin(), deepXml.end());
    }), kBadInvocation);
    // Well-formed calls the object does not take.
    EXPECT_EQ(rawCall("Invoke", [](auto& call) { call << std::string("eraseEverything") << plistBytes(Value::Array {}); }), kRefused);
    EXPECT_EQ(rawCall("Invoke", [](auto& call) { call << std::string("setCalibration:") << plistBytes(Value::Array {}); }), kRefused);
    EXPECT_EQ(rawCall("Invoke", [](auto& call) {
        call << std::string("setLoginwindowTap:") << plistBytes(Value::Array {Value("NO")});
    }), kRefused);

    EXPECT_TRUE(store->loginwindowTap());
    EXPECT_EQ(store->calibration(), kCalibration);
}

} // namespace
