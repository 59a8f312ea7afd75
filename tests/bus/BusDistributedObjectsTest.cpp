// Distributed objects between real processes on a private bus: the real
// arveld's first-instance rule, proxy calls from another process, the death
// notice, a hung daemon and messages that are not calls; a hung bus, and a
// published object that throws.
#include "Bus/MessageBus.h"
#include "Common/ArvelDriverAccessProtocol.h"
#include "Common/ArvelDriverAccessProxy.h"
#include "Common/ArvelSystemDefaultsProxy.h"
#include "DistributedObjects/BusConnectionTransport.h"
#include "DistributedObjects/Connection.h"
#include "DistributedObjects/DistantObject.h"
#include "Foundation/PropertyList.h"
#include "Log/Log.h"
#include "RunLoop/Clock.h"
#include "RunLoop/RunLoop.h"
#include "Notifications/NotificationCenter.h"
#include "support/PrivateBus.h"

#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <ranges>
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

    pid_t startDaemon(std::vector<std::string> environment = {})
    {
        environment.push_back("ARVEL_NO_DETACH=1");
        environment.push_back("ARVEL_ROOT=" + root_.path());
        pid_t pid = bus_->start(ARVELD_PROGRAM, {}, environment);
        daemons_.push_back(pid);
        return pid;
    }

    // Waits (a little real time) for the daemon to have logged the line.
    bool waitForSyslogLine(pid_t pid, const std::string& line)
    {
        return runLoopUntil([&] { return std::ranges::count(bus_->syslogLines(pid), line) > 0; });
    }

    // The syslog lines of the daemon from the index on.
    std::vector<std::string> syslogLinesFrom(pid_t pid, std::size_t from)
    {
        auto lines = bus_->syslogLines(pid);
        return std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(std::min(from, lines.size())), lines.end());
    }

    // Every file under the daemon's disk root, with its contents.
    std::map<std::string, std::string> filesOnDisk()
    {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root_.path())) {
            if (entry.is_regular_file()) {
                std::ifstream in(entry.path(), std::ios::binary);
                files[entry.path().string()] = std::string(std::istreambuf_iterator<char>(in), {});
            }
        }
        return files;
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

TEST_F(ADaemonOnThePrivateBus, RefusesASecondDaemonWithItsTwoLinesAndStatus255WhileTheFirstKeepsServing)
{
    pid_t first = startDaemon();
    auto store = waitForStore();
    ASSERT_TRUE(store);
    ASSERT_TRUE(waitForSyslogLine(first, "arveld: Daemon started."));
    const std::size_t firstLines = bus_->syslog(first).size();

    pid_t second = startDaemon();
    EXPECT_EQ(bus_->wait(second), 255);
    std::erase(daemons_, second);
    EXPECT_EQ(bus_->syslog(second), (std::vector<CapturingLogSink::Entry> {
        {kLogPriorityError, "ArvelDOServer error: Unable to register name \"com.tessmoor.Arvel.DaemonDriverAccess\"."},
        {kLogPriorityError, "arveld error: Unable to build or serve the driver access."},
    }));

    EXPECT_EQ(ownerPid(kArvelSystemDefaultsName), static_cast<std::uint32_t>(first));
    EXPECT_EQ(ownerPid(kArvelDriverAccessName), static_cast<std::uint32_t>(first));
    store->setLoginwindowTap(true);
    EXPECT_TRUE(store->loginwindowTap());
    EXPECT_EQ(bus_->syslog(first).size(), firstLines) << "the refused second daemon costs the first nothing";
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

// Another user of the machine (carol, 503), known by what the bus says of
// her connection, whatever her program claims.
TEST_F(ADaemonOnThePrivateBus, RefusesAnotherUsersChangesWithOneLineEachAndKeepsServingRoot)
{
    pid_t daemon = startDaemon();
    auto store = waitForStore();
    ASSERT_TRUE(store);
    store->setCalibration(kCalibration);
    store->syncToDisk();
    const auto files = filesOnDisk();
    const std::size_t before = bus_->syslog(daemon).size();

    pid_t calibrate = bus_->startAsUser(503, HOSTILE_CLIENT_PROGRAM, {"calibrate", "1", "2", "3", "4"}, {"ARVEL_MACHINE_UID=0"});
    ASSERT_EQ(bus_->wait(calibrate), 0) << bus_->output(calibrate);
    EXPECT_EQ(bus_->output(calibrate), kCalibration.description() + "\n") << "reads are anyone's";
    pid_t offConsole = bus_->startAsUser(503, HOSTILE_CLIENT_PROGRAM, {"off-console"});
    ASSERT_EQ(bus_->wait(offConsole), 0) << bus_->output(offConsole);
    EXPECT_EQ(bus_->output(offConsole), "NO\n");

    EXPECT_EQ(syslogLinesFrom(daemon, before), (std::vector<std::string> {
        "ArvelDOServer error: Refused \"setCalibration:\" from UID 503: only root or the console user may change this.",
        "ArvelDOServer error: Refused \"syncToDisk\" from UID 503: only root or the console user may change this.",
        "ArvelDOServer error: Refused \"userOffConsole\" from UID 503: only root may do this.",
    }));
    EXPECT_EQ(filesOnDisk(), files);
    store->setLoginwindowTap(true);
    EXPECT_TRUE(store->loginwindowTap());
}

// A name that is not root's is no daemon of this system, whoever serves it.
TEST_F(ADaemonOnThePrivateBus, IsNoOneButRootToItsClients)
{
    pid_t impostor = bus_->startAsUser(503, BUS_SERVER_PROGRAM, {kArvelDriverAccessName});
    EXPECT_EQ(bus_->wait(impostor), 1) << "the bus lets root alone own the daemon's names";
    EXPECT_EQ(bus_->output(impostor), "bus-server: \"com.tessmoor.Arvel.DaemonDriverAccess\" is taken\n");

    pid_t other = bus_->startAsUser(503, BUS_SERVER_PROGRAM, {"org.arvel.Test.Impostor"});
    ASSERT_TRUE(runLoopUntil([&] { return bus_->output(other) == "ready\n"; })) << bus_->output(other);
    {
        ScopedLogCapture log;
        EXPECT_EQ(ArvelDriverAccessProxy::proxyForRegisteredName("org.arvel.Test.Impostor"), nullptr);
        EXPECT_EQ(log.lines(), std::vector<std::string> {"Connection error: \"org.arvel.Test.Impostor\" is owned by UID 503, not "
                                                          "root; not using it."});
    }
    startDaemon();
    ASSERT_TRUE(waitForStore());
    EXPECT_NE(ArvelDriverAccessProxy::proxyForRegisteredName(), nullptr);
    bus_->kill(other, SIGKILL);
    bus_->wait(other);
}

// A bus that hangs (its daemon stopped) costs a caller the call time-out at
// most, and one line; once it goes on, so does everything.
TEST(AHungBus, AnswersALookupWithNothingAfterTheTimeOutWithOneLineThenServesAgain)
{
    PrivateBus& bus = PrivateBus::shared();
    pid_t server = bus.start(BUS_SERVER_PROGRAM, {"org.arvel.Test.Echo"});
    std::shared_ptr<DistantObject> echo;
    runLoopUntil([&] { return (echo = Connection::rootProxyForConnectionWithRegisteredNameHost("org.arvel.Test.Echo")) != nullptr; });
    ASSERT_TRUE(echo) << bus.output(server);

    bus.signalBus(SIGSTOP);
    {
        ScopedLogCapture log;
        EXPECT_EQ(Connection::rootProxyForConnectionWithRegisteredNameHost("org.arvel.Test.Echo"), nullptr);
        EXPECT_EQ(log.lines(), std::vector<std::string> {"Connection error: No answer from the bus about \"org.arvel.Test.Echo\": "
                                                          "Connection timed out"});
    }
    bus.signalBus(SIGCONT);

    auto again = Connection::rootProxyForConnectionWithRegisteredNameHost("org.arvel.Test.Echo");
    ASSERT_TRUE(again);
    EXPECT_EQ(again->sendInvocation("echo:", Value::Array {Value(7)}), Value(7));
    EXPECT_EQ(echo->sendInvocation("echo:", Value::Array {Value(8)}), Value(8));
    bus.kill(server, SIGKILL);
    bus.wait(server);
}

// An object that throws while serving a call costs that call only: the
// serving program keeps its bus and its name, and says what happened once.
TEST(APublishedObject, ThatThrowsRefusesTheCallWithOneLineAndKeepsServing)
{
    PrivateBus& bus = PrivateBus::shared();
    pid_t server = bus.start(BUS_SERVER_PROGRAM, {"org.arvel.Test.Fragile"});
    std::shared_ptr<DistantObject> fragile;
    runLoopUntil([&] { return (fragile = Connection::rootProxyForConnectionWithRegisteredNameHost("org.arvel.Test.Fragile")) != nullptr; });
    ASSERT_TRUE(fragile) << bus.output(server);

    ScopedLogCapture log;
    EXPECT_EQ(fragile->sendInvocation("fail", Value::Array {}), std::nullopt);
    EXPECT_EQ(fragile->sendInvocation("echo:", Value::Array {Value("still")}), Value("still"));
    EXPECT_EQ(log.lines(), std::vector<std::string> {});
    RunLoop::current().runUntilDate(currentDate());
    EXPECT_TRUE(fragile->connectionForProxy()->isValid());
    std::string output = bus.output(server);
    EXPECT_NE(output.find("] Connection error: <BusEcho: 0x"), std::string::npos) << output;
    EXPECT_NE(output.find("> failed to answer \"fail\": the echo broke\n"), std::string::npos) << output;
    EXPECT_EQ(std::ranges::count(output, '\n'), 2) << "\"ready\" and the one line: " << output;
    bus.kill(server, SIGKILL);
    bus.wait(server);
}

// Sends one raw call to the daemon's store on the connection given; the
// error's name, or empty on success.
std::string rawCallOn(sdbus::IConnection& connection, const std::string& method,
    const std::function<void(sdbus::MethodCall&)>& fill, const std::string& path = objectPathForBusName(kArvelSystemDefaultsName),
    const std::string& interface = kDistributedObjectsInterface)
{
    auto proxy = sdbus::createProxy(connection, kArvelSystemDefaultsName, path);
    try {
        auto call = proxy->createMethodCall(interface, method);
        fill(call);
        proxy->callMethod(call);
    } catch (const sdbus::Error& error) {
        return error.getName();
    }
    return {};
}

std::string rawCall(const std::string& method, const std::function<void(sdbus::MethodCall&)>& fill)
{
    return rawCallOn(MessageBus::shared()->connection(), method, fill);
}

std::string invoke(const std::string& selector, const std::vector<std::uint8_t>& arguments)
{
    return rawCall("Invoke", [&](auto& call) { call << selector << arguments; });
}

// Invoke with a large argument, sent in one piece on a connection of its own.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizedBuild = true;
#else
constexpr bool kSanitizedBuild = false;
#endif

std::string invokeLarge(sdbus::IConnection& connection, const std::string& selector, std::size_t bytes)
{
    const std::string data(bytes, 'x');
    return rawCallOn(connection, "Invoke", [&](auto& call) {
        call << selector;
        appendByteArray(call, data);
    });
}

std::vector<std::uint8_t> plistBytes(const Value& value)
{
    std::string data = binaryPropertyListData(value).value_or("");
    return std::vector<std::uint8_t>(data.begin(), data.end());
}

void appendBigEndian(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// A binary property list of arrays each holding the next, depth deep; or,
// cyclic, one array that holds itself. Written by hand: the writer refuses
// to nest that deep.
std::vector<std::uint8_t> binaryNestedArrays(int depth, bool cyclic = false)
{
    const int count = cyclic ? 1 : depth;
    std::vector<std::uint8_t> out {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    std::vector<std::uint64_t> offsets;
    for (int i = 0; i < count; ++i) {
        offsets.push_back(out.size());
        if (cyclic || i + 1 < count) {
            out.push_back(0xA1);
            appendBigEndian(out, cyclic ? 0 : static_cast<std::uint64_t>(i + 1), 2);
        } else {
            out.push_back(0xA0);
        }
    }
    const std::uint64_t offsetTable = out.size();
    for (auto offset : offsets)
        appendBigEndian(out, offset, 4);
    out.insert(out.end(), {0, 0, 0, 0, 0, 0, 4, 2});
    appendBigEndian(out, static_cast<std::uint64_t>(count), 8);
    appendBigEndian(out, 0, 8);
    appendBigEndian(out, offsetTable, 8);
    return out;
}

// "<ArvelSystemDefaults: 0x...>" as the daemon published it.
std::string publishedObject(const std::vector<std::string>& lines, const std::string& name)
{
    const std::string prefix = "ArvelDOServer: Published \"";
    const std::string suffix = "\" as \"" + name + "\"";
    for (const auto& line : lines) {
        if (line.starts_with(prefix) && line.ends_with(suffix))
            return line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
    }
    return {};
}

// Every message below gets an error reply and reaches no object state:
//   - org.freedesktop.DBus.Error.InvalidArgs / UnknownMethod / UnknownObject:
//     the bus library refuses what is not Invoke(say) on the published path
//     and interface, before the daemon's code runs;
//   - org.arvel.DistributedObjects.Error.BadInvocation: not a call at all
//     (a malformed selector, argument data that is not a property-list
//     array, too much of it, nested too deep); one line, no object reached;
//   - org.arvel.DistributedObjects.Error.Refused: a well-formed call the
//     object does not take (no such selector, arguments of the wrong kind
//     or number); one line. A proxy reads it as the neutral answer (NO, 0,
//     nil, nothing), as it reads a dead connection.
TEST_F(ADaemonOnThePrivateBus, AnswersMalformedMessagesWithAnErrorAndALineAndChangesNothing)
{
    using namespace std::string_literals;
    pid_t daemon = startDaemon({"ArvelDebug=YES"});
    auto store = waitForStore();
    ASSERT_TRUE(store);
    ASSERT_TRUE(waitForSyslogLine(daemon, "arveld: Daemon started."));
    const std::string object = publishedObject(bus_->syslogLines(daemon), kArvelSystemDefaultsName);
    ASSERT_TRUE(object.starts_with("<ArvelSystemDefaults: 0x")) << object;
    store->setLoginwindowTap(true);
    store->setCalibration(kCalibration);
    store->syncToDisk();
    const auto files = filesOnDisk();
    ASSERT_FALSE(files.empty());
    const std::size_t linesBefore = bus_->syslog(daemon).size();

    const std::string kInvalidArgs = "org.freedesktop.DBus.Error.InvalidArgs";
    const std::string kBadInvocation = "org.arvel.DistributedObjects.Error.BadInvocation";
    const std::string kRefused = "org.arvel.DistributedObjects.Error.Refused";
    std::vector<std::string> expected;

    // Not Invoke(say): wrong signature, missing or extra arguments, wrong
    // method, object or interface.
    EXPECT_EQ(rawCall("Invoke", [](auto& call) { call << 42; }), kInvalidArgs);
    EXPECT_EQ(rawCall("Invoke", [](auto&) {}), kInvalidArgs);
    EXPECT_EQ(rawCall("Invoke", [](auto& call) { call << std::string("setLoginwindowTap:"); }), kInvalidArgs);
    EXPECT_EQ(rawCall("Invoke", [](auto& call) { call << std::string("setLoginwindowTap:") << std::string("NO"); }), kInvalidArgs);
    EXPECT_EQ(rawCall("Invoke", [](auto& call) {
        call << std::string("setLoginwindowTap:") << plistBytes(Value::Array {Value(false)}) << 1;
    }), kInvalidArgs);
    EXPECT_EQ(rawCall("NoSuchMethod", [](auto&) {}), "org.freedesktop.DBus.Error.UnknownMethod");
    auto& connection = MessageBus::shared()->connection();
    EXPECT_EQ(rawCallOn(connection, "Invoke", [](auto&) {}, "/org/arvel/Elsewhere"), "org.freedesktop.DBus.Error.UnknownObject");
    EXPECT_EQ(rawCallOn(connection, "Invoke", [](auto&) {}, objectPathForBusName(kArvelSystemDefaultsName), "org.arvel.Other"),
        "org.freedesktop.DBus.Error.UnknownMethod");

    // Selectors that no protocol has: refused unread, and not echoed into
    // the log, where a long or multi-line one would do harm.
    EXPECT_EQ(invoke("", plistBytes(Value::Array {})), kBadInvocation);
    EXPECT_EQ(invoke("setLoginwindowTap:\narveld: Daemon started.", plistBytes(Value::Array {Value(false)})), kBadInvocation);
    EXPECT_EQ(invoke(std::string(100000, 'x'), plistBytes(Value::Array {})), kBadInvocation);
    expected.insert(expected.end(), 3, "Connection error: Refused a call with a malformed selector.");

    // Argument data that is not a property-list array.
    EXPECT_EQ(invoke("setLoginwindowTap:", {1, 2, 3}), kBadInvocation);
    EXPECT_EQ(invoke("setLoginwindowTap:", {}), kBadInvocation);
    EXPECT_EQ(invoke("setLoginwindowTap:", plistBytes(Value::dictionary({{"on", false}}))), kBadInvocation);
    // A string holding U+0000, in XML and as a binary UTF-16 string.
    const std::string nulXml = "<plist><array><string>a\0b</string></array></plist>"s;
    EXPECT_EQ(invoke("setLoginwindowTap:", std::vector<std::uint8_t>(nulXml.begin(), nulXml.end())), kBadInvocation);
    std::string nulBinary = *binaryPropertyListData(Value::Array {Value("a\u00e9")});
    nulBinary.replace(nulBinary.find("\x00\xE9"s), 2, "\x00\x00"s);
    EXPECT_EQ(invoke("setLoginwindowTap:", std::vector<std::uint8_t>(nulBinary.begin(), nulBinary.end())), kBadInvocation);
    expected.insert(expected.end(), 5, "Connection error: Arguments for \"setLoginwindowTap:\" are not a property-list array.");

    // Nested beyond the 512 levels a property list may have: XML, binary,
    // and a binary list that holds itself.
    std::string deepXml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    for (int i = 0; i < 100000; ++i)
        deepXml += "<array>";
    deepXml += "</plist>";
    EXPECT_EQ(invoke("setCalibration:", std::vector<std::uint8_t>(deepXml.begin(), deepXml.end())), kBadInvocation);
    EXPECT_EQ(invoke("setCalibration:", binaryNestedArrays(600)), kBadInvocation);
    EXPECT_EQ(invoke("setCalibration:", binaryNestedArrays(1, true)), kBadInvocation);
    expected.insert(expected.end(), 3, "Connection error: Arguments for \"setCalibration:\" are not a property-list array.");

    // Too much data: refused before it is parsed. The largest array the bus
    // carries (64 MiB) reaches the daemon and is refused there; anything
    // larger never leaves the bus, which drops the sender (a connection of
    // its own here, so this program keeps its own).
    EXPECT_EQ(invoke("setCalibration:", std::vector<std::uint8_t>(kMaxInvocationBytes + 1, 'x')), kBadInvocation);
    expected.push_back("Connection error: Refused 4194305 bytes of arguments for \"setCalibration:\".");
    // The address sanitizer's realloc always copies, so the daemon's bus
    // library growing its buffer piece by piece takes tens of seconds for
    // 64 MiB there; the plain build covers the bus's own limit.
    if (!kSanitizedBuild) {
        auto sender = sdbus::createSessionBusConnectionWithAddress(bus_->address());
        EXPECT_EQ(invokeLarge(*sender, "setCalibration:", 64 * 1024 * 1024), kBadInvocation);
        expected.push_back("Connection error: Refused 67108864 bytes of arguments for \"setCalibration:\".");
        EXPECT_EQ(invokeLarge(*sender, "setCalibration:", 64 * 1024 * 1024 + 1), "org.freedesktop.DBus.Error.Disconnected");
    }

    // Well-formed calls the object does not take.
    EXPECT_EQ(invoke("eraseEverything", plistBytes(Value::Array {})), kRefused);
    expected.push_back("Connection error: " + object + " does not respond to \"eraseEverything\".");
    EXPECT_EQ(invoke("setCalibration:", plistBytes(Value::Array {})), kRefused);
    EXPECT_EQ(invoke("setCalibration:", plistBytes(Value::Array {kCalibration, kCalibration})), kRefused);
    expected.insert(expected.end(), 2, "Connection error: Arguments for \"setCalibration:\" sent to " + object + " are of the wrong kind.");
    EXPECT_EQ(invoke("setLoginwindowTap:", plistBytes(Value::Array {Value("NO")})), kRefused);
    EXPECT_EQ(invoke("setLoginwindowTap:", plistBytes(Value::Array {Value::Array {Value(false)}})), kRefused);
    expected.insert(expected.end(), 2, "Connection error: Arguments for \"setLoginwindowTap:\" sent to " + object + " are of the wrong kind.");

    EXPECT_EQ(syslogLinesFrom(daemon, linesBefore), expected);
    EXPECT_TRUE(std::ranges::all_of(bus_->syslog(daemon) | std::views::drop(linesBefore),
        [](const auto& entry) { return entry.priority == kLogPriorityError; }));

    // Nothing changed, and the daemon still answers, over this program's
    // connection and a new one alike.
    EXPECT_TRUE(store->loginwindowTap());
    EXPECT_EQ(store->calibration(), kCalibration);
    EXPECT_EQ(filesOnDisk(), files);
    auto fresh = sdbus::createSessionBusConnectionWithAddress(bus_->address());
    EXPECT_EQ(rawCallOn(*fresh, "Invoke", [](auto& call) { call << std::string("syncFromDisk") << plistBytes(Value::Array {}); }), "");
    store->setLoginwindowTap(false);
    EXPECT_FALSE(store->loginwindowTap());
    EXPECT_EQ(syslogLinesFrom(daemon, linesBefore).size(), expected.size()) << "valid calls add no line";
}

} // namespace
