// The shims of this program against a machine served on a private bus by
// machine-host: with ARVEL_MACHINE set, every shim goes through the bus
// link, news arrive from the run loop, and the service ends what a program
// that left the bus had registered.
#include "Accessibility/AXObserver.h"
#include "Accessibility/AXUIElement.h"
#include "Bus/MessageBus.h"
#include "Carbon/CarbonEvents.h"
#include "Carbon/Gestalt.h"
#include "CoreGraphics/CGRemoteOperation.h"
#include "Foundation/PropertyList.h"
#include "IOKit/IOKitLib.h"
#include "IOKit/IOPMLib.h"
#include "Log/Log.h"
#include "MachineLink/MachineLink.h"
#include "MachineLink/MachineLinkProtocol.h"
#include "ProcessManager/Processes.h"
#include "RunLoop/RunLoop.h"
#include "SystemConfiguration/SCDynamicStore.h"
#include "support/PrivateBus.h"

#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::vector<std::uint8_t> bytesOf(const std::string& data)
{
    return std::vector<std::uint8_t>(data.begin(), data.end());
}

std::vector<std::uint8_t> plist(const Value& value)
{
    return bytesOf(*binaryPropertyListData(value));
}

std::vector<std::string> words(const std::string& text)
{
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

class AProgramOnAMachineService : public ::testing::Test {
protected:
    void SetUp() override
    {
        bus_ = &PrivateBus::shared();
        // Before anything asks for the link: the choice is made once.
        setenv(kMachineServiceVariable, kMachineLinkDefaultServiceName, 1);
        ASSERT_TRUE(MachineLink::usesBus());
        host_ = bus_->start(MACHINE_HOST_PROGRAM, {});
        ASSERT_TRUE(runLoopUntil([&] { return hostIsServing(); })) << bus_->output(host_);
    }
    void TearDown() override
    {
        IOKitResetForTesting();
        ApplicationEventTarget::shared().resetForTesting();
        setLogChannel(LogChannel::Console);
        if (host_ > 0) {
            bus_->kill(host_, SIGCONT);
            bus_->kill(host_, SIGKILL);
            bus_->wait(host_);
        }
        // What the old machine still had to say is of no interest to the next.
        runLoopUntil([] { return false; }, 0.05);
    }

    sdbus::IConnection& connection() { return MessageBus::shared()->connection(); }

    bool hostIsServing()
    {
        try {
            auto daemon = sdbus::createProxy(connection(), "org.freedesktop.DBus", "/org/freedesktop/DBus");
            bool owned = false;
            daemon->callMethod("NameHasOwner").onInterface("org.freedesktop.DBus").withArguments(std::string(kMachineLinkDefaultServiceName)).storeResultsTo(owned);
            return owned;
        } catch (const sdbus::Error&) {
            return false;
        }
    }

    // Runs a machine verb in the host; its answer.
    std::string verb(const std::string& line)
    {
        auto control = sdbus::createProxy(connection(), kMachineLinkDefaultServiceName, "/org/arvel/MachineHost");
        std::string answer;
        control->callMethod("Verb").onInterface("org.arvel.MachineHost").withArguments(words(line)).storeResultsTo(answer);
        return answer;
    }

    // A raw Call on the service from another program's connection (a
    // stranger to this program's registrations); the error's name, or ""
    // for an answer, which goes to *answer.
    std::string rawCall(const std::function<void(sdbus::MethodCall&)>& fill, Value* answer = nullptr)
    {
        if (!stranger_)
            stranger_ = sdbus::createSessionBusConnectionWithAddress(bus_->address());
        auto machine = sdbus::createProxy(*stranger_, kMachineLinkDefaultServiceName, kMachineLinkObjectPath);
        auto call = machine->createMethodCall(kMachineLinkInterface, "Call");
        fill(call);
        try {
            auto reply = machine->callMethod(call, 5000000);
            std::vector<std::uint8_t> data;
            reply >> data;
            if (answer)
                *answer = propertyListFromData(std::string_view(reinterpret_cast<const char*>(data.data()), data.size())).value_or(Value());
            return "";
        } catch (const sdbus::Error& error) {
            return error.getName();
        }
    }
    std::string rawCall(const std::string& operation, const Value& arguments, Value* answer = nullptr)
    {
        return rawCall([&](sdbus::MethodCall& call) { call << operation << plist(arguments); }, answer);
    }

    // A real program started by the machine as a service that cannot switch
    // users starts it: with our ids, meant to be this user.
    struct Started {
        std::string machinePid;
        pid_t hostPid = -1;
        std::string output;
    };
    Started startOnMachine(std::uint32_t uid, const std::vector<std::string>& environmentAndProgram)
    {
        Started started;
        started.output = bus_->folder().file("machine-program-" + std::to_string(++programs_));
        std::string line = "run " + std::to_string(uid) + " " + started.output;
        for (const auto& word : environmentAndProgram)
            line += " " + word;
        auto answer = words(verb(line));
        if (answer.size() == 2) {
            started.machinePid = answer[0];
            started.hostPid = static_cast<pid_t>(std::stoi(answer[1]));
        }
        return started;
    }
    // How it ended ("exited 0"), once it has.
    std::string endOf(const Started& program)
    {
        std::string status;
        runLoopUntil([&] { return (status = verb("status " + std::to_string(program.hostPid))) != "running"; }, 10);
        return status;
    }
    std::string outputOf(const Started& program)
    {
        std::ifstream in(program.output);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::unique_ptr<sdbus::IConnection> stranger_;
    int programs_ = 0;

    PrivateBus* bus_ = nullptr;
    pid_t host_ = -1;
};

// ---- the I/O registry

void countMatches(void* refCon, io_iterator_t iterator)
{
    auto* services = static_cast<std::vector<io_service_t>*>(refCon);
    while (io_service_t service = IOIteratorNext(iterator))
        services->push_back(service);
}

TEST_F(AProgramOnAMachineService, HearsTheDriverLoadFromItsRunLoopAndItsDriverCallsLandInTheService)
{
    mach_port_t master = 0;
    ASSERT_EQ(IOMasterPort(0, &master), KERN_SUCCESS);
    IONotificationPortRef port = IONotificationPortCreate(master);
    RunLoop::current().addSource(IONotificationPortGetRunLoopSource(port));
    std::vector<io_service_t> services;
    io_iterator_t iterator = 0;
    ASSERT_EQ(IOServiceAddMatchingNotification(port, kIOMatchedNotification, IOServiceMatching("Arvel"), countMatches,
                  &services, &iterator),
        kIOReturnSuccess);
    countMatches(&services, iterator);
    ASSERT_TRUE(services.empty());

    verb("load-driver");
    EXPECT_TRUE(services.empty()) << "heard inside the verb";
    ASSERT_TRUE(runLoopUntil([&] { return !services.empty(); }));
    ASSERT_EQ(services.size(), 1u);

    io_connect_t connect = 0;
    ASSERT_EQ(IOServiceOpen(services[0], mach_task_self(), 0, &connect), kIOReturnSuccess);
    EXPECT_EQ(IOConnectMethodScalarIScalarO(connect, 0, 0, 0), kIOReturnSuccess);
    EXPECT_EQ(IOConnectMethodScalarIScalarO(connect, 8, 1, 0, 1), kIOReturnSuccess);
    EXPECT_EQ(IOConnectMethodScalarIScalarO(connect, 3, 0, 0), kIOReturnBadArgument);
    std::int32_t observed[4] = {};
    IOByteCount size = sizeof observed;
    EXPECT_EQ(IOConnectMethodScalarIStructureO(connect, 7, 0, &size, observed), kIOReturnSuccess);
    EXPECT_EQ(size, sizeof observed);
    EXPECT_EQ(std::vector<std::int32_t>(observed, observed + 4), (std::vector<std::int32_t> {3000, 3000, 1, 1}));
    EXPECT_EQ(IORegistryEntrySetCFProperty(services[0], "DebugLogging", true), kIOReturnSuccess);
    EXPECT_EQ(IORegistryEntryCreateCFProperty(services[0], "DebugLogging", nullptr, 0), Value(true));
    EXPECT_EQ(verb("driver"),
        "driver: loaded, 1 client connection(s) open\n"
        "  user on console: yes\n"
        "  calls: 0 8(1) 7\n"
        "  calibration mode: on, observed {MinX = 3000; MinY = 3000; MaxX = 1; MaxY = 1; }\n"
        "  Calibration = {MaxX = 2880; MaxY = 2304; MinX = 120; MinY = 96; }\n"
        "  DebugLogging = true\n"
        "  per-application dictionary = (null)\n"
        "  configuration from the HID system = (null)\n");

    EXPECT_EQ(IOServiceClose(connect), kIOReturnSuccess);
    EXPECT_EQ(verb("driver").substr(0, 44), "driver: loaded, 0 client connection(s) open\n");
    IONotificationPortDestroy(port);
}

// ---- the configuration store

struct StoreNews {
    std::vector<Value> changes;
};

void storeChanged(SCDynamicStoreRef, const Value& keys, void* info)
{
    static_cast<StoreNews*>(info)->changes.push_back(keys);
}

TEST_F(AProgramOnAMachineService, HearsTheConsoleChangeThroughItsStoreSession)
{
    StoreNews news;
    SCDynamicStoreContext context;
    context.info = &news;
    SCDynamicStoreRef store = SCDynamicStoreCreate(nullptr, "Test", storeChanged, &context);
    ASSERT_TRUE(store);
    Value key = SCDynamicStoreKeyCreateConsoleUser(nullptr);
    ASSERT_TRUE(SCDynamicStoreSetNotificationKeys(store, Value::array({key}), Value()));
    auto source = SCDynamicStoreCreateRunLoopSource(nullptr, store, 0);
    RunLoop::current().addSource(source);

    verb("add-user alice 501");
    verb("login alice");
    EXPECT_TRUE(news.changes.empty()) << "heard inside the verb";
    ASSERT_TRUE(runLoopUntil([&] { return !news.changes.empty(); }));
    EXPECT_EQ(news.changes, std::vector<Value>({Value::array({"State:/Users/ConsoleUser"})}));

    uid_t uid = 0;
    gid_t gid = 0;
    EXPECT_EQ(SCDynamicStoreCopyConsoleUser(store, &uid, &gid), Value("alice"));
    EXPECT_EQ(uid, 501u);
    EXPECT_EQ(gid, 20u);
    RunLoop::current().removeSource(source);
}

// ---- system power

struct PowerNews {
    io_connect_t root = 0;
    std::vector<natural_t> messages;
};

void powerMessage(void* refcon, io_service_t, natural_t type, void* argument)
{
    auto* news = static_cast<PowerNews*>(refcon);
    news->messages.push_back(type);
    IOAllowPowerChange(news->root, reinterpret_cast<std::intptr_t>(argument));
}

TEST_F(AProgramOnAMachineService, HearsSleepAndTheServiceRecordsItsAnswer)
{
    PowerNews news;
    IONotificationPortRef port = nullptr;
    io_object_t notifier = 0;
    news.root = IORegisterForSystemPower(&news, &port, powerMessage, &notifier);
    ASSERT_NE(news.root, 0u);
    RunLoop::current().addSource(IONotificationPortGetRunLoopSource(port));
    EXPECT_EQ(verb("power"), "clients 1\n");

    verb("sleep");
    ASSERT_TRUE(runLoopUntil([&] { return !news.messages.empty(); }));
    EXPECT_EQ(news.messages, std::vector<natural_t>({kIOMessageSystemWillSleep}));
    EXPECT_EQ(verb("power"), "clients 1\nsystem-will-sleep acknowledged\n");

    EXPECT_EQ(IODeregisterForSystemPower(&notifier), kIOReturnSuccess);
    EXPECT_EQ(verb("power"), "clients 0\nsystem-will-sleep acknowledged\n");
}

TEST_F(AProgramOnAMachineService, ThatEndsLeavesNoPowerClientToHoldUpSleep)
{
    pid_t client = bus_->start(MACHINE_CLIENT_PROGRAM, {"power"});
    ASSERT_EQ(bus_->wait(client), 0) << bus_->output(client);
    EXPECT_EQ(bus_->output(client), "ok\n");
    ASSERT_TRUE(runLoopUntil([&] { return verb("registrations") == "0"; }));
    EXPECT_EQ(verb("power"), "clients 0\n");
    verb("sleep");
    EXPECT_EQ(verb("power"), "clients 0\n");
}

// ---- processes, accessibility, the pointer

TEST_F(AProgramOnAMachineService, HearsAnApplicationLaunchThroughItsEventTarget)
{
    EventTypeSpec spec {kEventClassApplication, kEventAppLaunched};
    ASSERT_EQ(InstallEventHandler(GetApplicationEventTarget(), NewEventHandlerUPP([](EventHandlerCallRef, EventRef, void*) {
        return static_cast<OSStatus>(noErr);
    }), 1, &spec, nullptr, nullptr),
        noErr);
    std::vector<CarbonApplicationEvent> heard;
    int sink = ApplicationEventTarget::shared().attach([&](const CarbonApplicationEvent& e) { heard.push_back(e); });

    std::vector<std::string> launched = words(verb("launch Editor com.example.editor"));
    ASSERT_EQ(launched.size(), 3u);
    EXPECT_TRUE(heard.empty()) << "heard inside the verb";
    ASSERT_TRUE(runLoopUntil([&] { return !heard.empty(); }));
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].kind, kEventAppLaunched);
    EXPECT_EQ(std::to_string(heard[0].psnHigh), launched[1]);
    EXPECT_EQ(std::to_string(heard[0].psnLow), launched[2]);

    ProcessSerialNumber psn {heard[0].psnHigh, heard[0].psnLow};
    pid_t pid = 0;
    EXPECT_EQ(GetProcessPID(&psn, &pid), noErr);
    EXPECT_EQ(std::to_string(pid), launched[0]);
    Value info = ProcessInformationCopyDictionary(&psn, kProcessDictionaryIncludeAllInformationMask);
    EXPECT_EQ(info["CFBundleIdentifier"], Value("com.example.editor"));
    ApplicationEventTarget::shared().detach(sink);
}

struct WindowNews {
    std::vector<std::pair<std::string, std::uint64_t>> notices;
};

void windowNotice(AXObserverRef, AXUIElementRef element, const std::string& notification, void* refcon)
{
    static_cast<WindowNews*>(refcon)->notices.push_back({notification, element->element()});
}

TEST_F(AProgramOnAMachineService, HearsAWindowOpenThroughItsObserver)
{
    int pid = std::stoi(words(verb("launch Editor com.example.editor"))[0]);
    WindowNews news;
    AXObserverRef observer;
    ASSERT_EQ(AXObserverCreate(pid, windowNotice, &observer), kAXErrorSuccess);
    ASSERT_EQ(AXObserverAddNotification(observer, AXUIElementCreateApplication(pid), "AXWindowCreated", &news), kAXErrorSuccess);
    EXPECT_EQ(AXObserverAddNotification(observer, AXUIElementCreateApplication(pid), "AXWindowCreated", &news),
        kAXErrorNotificationAlreadyRegistered);
    RunLoop::current().addSource(AXObserverGetRunLoopSource(observer));

    std::uint64_t window = std::stoull(verb("open-window " + std::to_string(pid)));
    ASSERT_NE(window, 0u);
    EXPECT_TRUE(news.notices.empty()) << "heard inside the verb";
    ASSERT_TRUE(runLoopUntil([&] { return !news.notices.empty(); }));
    EXPECT_EQ(news.notices, (std::vector<std::pair<std::string, std::uint64_t>>({{"AXWindowCreated", window}})));

    CFTypeRef focused;
    ASSERT_EQ(AXUIElementCopyAttributeValue(AXUIElementCreateApplication(pid), "AXFocusedWindow", &focused), kAXErrorSuccess);
    ASSERT_TRUE(focused.element());
    EXPECT_EQ(focused.element()->element(), window);
    RunLoop::current().removeSource(AXObserverGetRunLoopSource(observer));
}

TEST_F(AProgramOnAMachineService, WarpsThePointerOfTheServicesMachine)
{
    EXPECT_EQ(CGWarpMouseCursorPosition({120, 48}), kCGErrorSuccess);
    EXPECT_EQ(CGWarpMouseCursorPosition({3, 4}), kCGErrorSuccess);
    EXPECT_EQ(verb("warps"), "120,48\n3,4\n");
    SInt32 version = 0;
    EXPECT_EQ(Gestalt(gestaltSystemVersion, &version), noErr);
    EXPECT_EQ(version, 0x1039);
}

TEST_F(AProgramOnAMachineService, KeepsItsRegistrationsFromOtherPrograms)
{
    PowerNews news;
    IONotificationPortRef port = nullptr;
    io_object_t notifier = 0;
    news.root = IORegisterForSystemPower(&news, &port, powerMessage, &notifier);
    ASSERT_NE(news.root, 0u);
    int pid = std::stoi(words(verb("launch Editor com.example.editor"))[0]);
    AXObserverRef observer;
    ASSERT_EQ(AXObserverCreate(pid, windowNotice, &observer), kAXErrorSuccess);
    ASSERT_EQ(verb("registrations"), "2");

    // Ids are small numbers any program can guess; guessing them gains nothing.
    for (int id = 1; id <= 3; ++id) {
        EXPECT_EQ(rawCall("power.removeClient", Value::dictionary({{"client", id}})), "");
        EXPECT_EQ(rawCall("ax.destroyObserver", Value::dictionary({{"observer", id}})), "");
        Value answer;
        EXPECT_EQ(rawCall("ax.addNotification",
                      Value::dictionary({{"observer", id}, {"pid", pid}, {"element", 0}, {"notification", "AXWindowCreated"}}), &answer),
            "");
        EXPECT_EQ(answer, Value::dictionary({{"result", kAXErrorInvalidUIElementObserver}}));
    }
    EXPECT_EQ(verb("registrations"), "2");
    EXPECT_EQ(verb("power"), "clients 1\n");
    EXPECT_EQ(AXObserverAddNotification(observer, AXUIElementCreateApplication(pid), "AXWindowCreated", nullptr), kAXErrorSuccess);
}

TEST_F(AProgramOnAMachineService, HearsNewsOnlyFromTheRunLoopEvenWhenACallWaitedWhileTheyCame)
{
    std::vector<std::uint32_t> heard;
    std::uint64_t client = MachineLink::shared().subscribe(ops::powerClient, [&](std::uint32_t type, std::intptr_t) { heard.push_back(type); });
    ASSERT_NE(client, 0u);
    verb("sleep");
    // The news reached this program while this call waited for its answer.
    (void)MachineLink::shared().call(ops::buttonState);
    EXPECT_TRUE(heard.empty());
    ASSERT_TRUE(runLoopUntil([&] { return !heard.empty(); }));
    EXPECT_EQ(heard, std::vector<std::uint32_t>({kIOMessageSystemWillSleep}));
    MachineLink::shared().unsubscribe(ops::powerClient, client);
    EXPECT_EQ(verb("power"), "clients 0\nsystem-will-sleep unanswered\n");
}

// ---- the system log

TEST_F(AProgramOnAMachineService, WritesItsSyslogLinesToTheMachinesSystemLogToo)
{
    MachineLink::shared();
    setLogSink(nullptr);
    setLogChannel(LogChannel::Syslog);
    logNotice("MachineLinkTest: A line for the machine.\n");
    logError("MachineLinkTest error: And an error.\n");
    setLogChannel(LogChannel::Console);
    EXPECT_EQ(verb("log"),
        "machinelink_tests[0] <Notice>: MachineLinkTest: A line for the machine.\n"
        "machinelink_tests[0] <Error>: MachineLinkTest error: And an error.\n");
}

// ---- who the program is

TEST_F(AProgramOnAMachineService, IsWhomTheServiceThatStartedItMeantAndReallySwitchesOnlyWhenReallyRoot)
{
    verb("add-user alice 501");
    std::string host = std::to_string(::geteuid());

    Started user = startOnMachine(501, {MACHINE_CLIENT_PROGRAM, "identity", "0"});
    ASSERT_EQ(endOf(user), "exited 0") << outputOf(user);
    EXPECT_EQ(outputOf(user), "501 501 /Users/alice " + host + "\n-1\n501 501 /Users/alice " + host + "\n");

    Started root = startOnMachine(0, {MACHINE_CLIENT_PROGRAM, "identity", "501"});
    ASSERT_EQ(endOf(root), "exited 0") << outputOf(root);
    std::string after = ::getuid() == 0 ? "501" : host;
    EXPECT_EQ(outputOf(root), "0 0 /var/root " + host + "\n0\n0 501 /Users/alice " + after + "\n");
}

TEST_F(AProgramOnAMachineService, IsWhoTheBusSaysWhateverItsEnvironmentClaims)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root starts a program as another user";
    verb("add-user carol 503");
    pid_t carol = bus_->startAsUser(503, MACHINE_CLIENT_PROGRAM, {"identity", "0"}, {"ARVEL_MACHINE_UID=0"});
    ASSERT_EQ(bus_->wait(carol), 0) << bus_->output(carol);
    EXPECT_EQ(bus_->output(carol), "503 503 /Users/carol 503\n-1\n503 503 /Users/carol 503\n");

    // Nor does a machine pid borrowed from a program the machine started as
    // root make it that program.
    Started daemon = startOnMachine(0, {"/bin/sleep", "30"});
    pid_t borrower = bus_->startAsUser(503, MACHINE_CLIENT_PROGRAM, {"identity", "0"}, {"ARVEL_MACHINE_PID=" + daemon.machinePid});
    ASSERT_EQ(bus_->wait(borrower), 0) << bus_->output(borrower);
    EXPECT_EQ(bus_->output(borrower), "503 503 /Users/carol 503\n-1\n503 503 /Users/carol 503\n");
    ::kill(daemon.hostPid, SIGKILL);
}

TEST_F(AProgramOnAMachineService, ThatIsNotRootIsRefusedTheDriversUserClientAndItsProperties)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root starts a program as another user";
    verb("load-driver");
    pid_t carol = bus_->startAsUser(503, MACHINE_CLIENT_PROGRAM, {"driver"});
    ASSERT_EQ(bus_->wait(carol), 0) << bus_->output(carol);
    EXPECT_EQ(bus_->output(carol), "open e00002c1 write e00002c1\n");
    EXPECT_TRUE(verb("driver").starts_with("driver: loaded, 0 client connection(s) open\n")) << verb("driver");
    EXPECT_NE(verb("driver").find("  per-application dictionary = (null)\n"), std::string::npos) << verb("driver");
}

TEST_F(AProgramOnAMachineService, StartedByHandIsWhoTheHostSays)
{
    verb("add-user alice 501");
    pid_t client = bus_->start(MACHINE_CLIENT_PROGRAM, {"identity", "501"});
    ASSERT_EQ(bus_->wait(client), 0) << bus_->output(client);
    std::string uid = std::to_string(::getuid());
    std::string euid = std::to_string(::geteuid());
    if (::getuid() == 0)
        EXPECT_EQ(bus_->output(client), "0 0 /var/root 0\n0\n0 501 /Users/alice 501\n");
    else
        EXPECT_EQ(bus_->output(client), uid + " " + euid + " ~ " + euid + "\n-1\n" + uid + " " + euid + " ~ " + euid + "\n");
}

TEST_F(AProgramOnAMachineService, FindsItsLoginSessionThroughItsMachineProcess)
{
    verb("add-user alice 501");
    std::string session = verb("session-login alice");
    std::string pid = verb("start-process-in " + session + " /Applications/Agent");
    pid_t agent = bus_->start(MACHINE_CLIENT_PROGRAM, {"session"}, {"ARVEL_MACHINE_PID=" + pid});
    ASSERT_EQ(bus_->wait(agent), 0) << bus_->output(agent);
    EXPECT_EQ(bus_->output(agent), "{kCGSSessionIDKey = " + session
            + "; kCGSSessionOnConsoleKey = 1; kCGSSessionUserIDKey = 501; kCGSSessionUserNameKey = alice; } 0 " + session + "\n");

    pid_t byHand = bus_->start(MACHINE_CLIENT_PROGRAM, {"session"});
    ASSERT_EQ(bus_->wait(byHand), 0) << bus_->output(byHand);
    EXPECT_EQ(bus_->output(byHand), "(null) -60500 0\n");
}

// ---- going daemon

TEST_F(AProgramOnAMachineService, ThatGoesDaemonTellsTheMachineItsNewProcessBeforeTheOldOneEnds)
{
    Started client = startOnMachine(0, {MACHINE_CLIENT_PROGRAM, "detach"});
    ASSERT_EQ(endOf(client), "exited 0") << outputOf(client);
    // The parent ended only once the machine knew the child.
    int hostPid = std::atoi(verb("host-pid " + client.machinePid).c_str());
    EXPECT_GT(hostPid, 0);
    EXPECT_NE(hostPid, client.hostPid);
    EXPECT_EQ(::kill(hostPid, 0), 0);

    // Nobody else moves the machine process: not to this program, not to
    // any other process.
    for (int other : {static_cast<int>(::getpid()), 1}) {
        Value answer;
        EXPECT_EQ(rawCall("processes.setHostPid", Value::dictionary({{"pid", std::stoi(client.machinePid)}, {"hostPid", other}}), &answer), "");
        EXPECT_EQ(answer, Value::dictionary({{"result", false}}));
    }
    EXPECT_EQ(std::atoi(verb("host-pid " + client.machinePid).c_str()), hostPid);
    if (hostPid > 0 && hostPid != client.hostPid)
        ::kill(hostPid, SIGKILL);
}

// ---- the real daemon on the machine service

TEST_F(AProgramOnAMachineService, LikeTheDaemonServesItAndLeavesNothingOpenWhenKilled)
{
    TemporaryFolder root;
    Started daemon = startOnMachine(0, {"ARVEL_NO_DETACH=1", "ARVEL_ROOT=" + root.path(), ARVELD_PROGRAM});
    std::string started = "arveld[" + daemon.machinePid + "] <Notice>: arveld: Daemon started.\n";
    ASSERT_TRUE(runLoopUntil([&] { return verb("log").find(started) != std::string::npos; })) << verb("log") << outputOf(daemon);
    EXPECT_EQ(verb("power"), "clients 1\n");

    verb("load-driver");
    ASSERT_TRUE(runLoopUntil([&] { return verb("driver").starts_with("driver: loaded, 1 client connection(s) open\n"); }))
        << verb("driver");

    ::kill(daemon.hostPid, SIGKILL);
    ASSERT_TRUE(runLoopUntil([&] { return verb("registrations") == "0"; }));
    EXPECT_EQ(endOf(daemon), "signal 9");
    EXPECT_EQ(verb("power"), "clients 0\n");
    EXPECT_TRUE(verb("driver").starts_with("driver: loaded, 0 client connection(s) open\n")) << verb("driver");
}

TEST_F(AProgramOnAMachineService, LikeTheDaemonGoesDaemonAndServesItFromItsNewProcess)
{
    TemporaryFolder root;
    Started parent = startOnMachine(0, {"ARVEL_ROOT=" + root.path(), ARVELD_PROGRAM});
    ASSERT_EQ(endOf(parent), "exited 0") << outputOf(parent);
    int daemon = std::atoi(verb("host-pid " + parent.machinePid).c_str());
    ASSERT_GT(daemon, 0);
    EXPECT_NE(daemon, parent.hostPid);
    std::string started = "arveld[" + parent.machinePid + "] <Notice>: arveld: Daemon started.\n";
    EXPECT_TRUE(runLoopUntil([&] { return verb("log").find(started) != std::string::npos; })) << verb("log");
    EXPECT_EQ(verb("power"), "clients 1\n");
    ::kill(daemon, SIGKILL);
    EXPECT_TRUE(runLoopUntil([&] { return verb("registrations") == "0"; }));
}

// ---- a service that is gone, hung, or sent nonsense

TEST_F(AProgramOnAMachineService, AnswersNeutrallyWithOneLineWhenTheServiceIsGone)
{
    // The program was running, and knew who it is, before the service went.
    MachineLink::shared();
    bus_->kill(host_, SIGKILL);
    bus_->wait(host_);
    host_ = -1;
    ASSERT_TRUE(runLoopUntil([&] { return !hostIsServing(); }));

    ScopedLogCapture log;
    ProcessSerialNumber psn;
    EXPECT_EQ(GetFrontProcess(&psn), procNotFound);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].rfind("MachineLink error: No answer to \"processes.front\" from \"org.arvel.Machine\": ", 0), 0u)
        << log.lines()[0];
    EXPECT_EQ(log.sink().entries()[0].priority, kLogPriorityError);
}

TEST_F(AProgramOnAMachineService, GivesUpOnAHungServiceAfterTheTimeOut)
{
    MachineLink::shared();
    bus_->kill(host_, SIGSTOP);
    ScopedLogCapture log;
    EXPECT_EQ(CGWarpMouseCursorPosition({1, 2}), kCGErrorSuccess);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].rfind("MachineLink error: No answer to \"pointer.warp\" from \"org.arvel.Machine\": ", 0), 0u)
        << log.lines()[0];
    bus_->kill(host_, SIGCONT);
}

TEST_F(AProgramOnAMachineService, RefusesMalformedCallsAndKeepsServing)
{
    EXPECT_EQ(rawCall("no.such.operation", Value::dictionary()), kMachineLinkUnknownOperationError);
    EXPECT_EQ(rawCall("pointer.warp", Value::dictionary({{"x", 1}})), kMachineLinkBadArgumentsError);
    EXPECT_EQ(rawCall("pointer.warp", Value::dictionary({{"x", 1}, {"y", "two"}})), kMachineLinkBadArgumentsError);
    EXPECT_EQ(rawCall("pointer.warp", Value::array({1, 2})), kMachineLinkBadArgumentsError);
    EXPECT_EQ(rawCall("registry.isActive", Value::dictionary({{"entry", -1}})), kMachineLinkBadArgumentsError);
    EXPECT_EQ(rawCall("entry.callScalar", Value::dictionary({{"entry", 1}, {"connection", 1}, {"index", 0},
                                              {"inputs", Value::array()}, {"outputCount", 1000000}})),
        kMachineLinkBadArgumentsError);
    EXPECT_EQ(rawCall("entry.callStructure", Value::dictionary({{"entry", 1}, {"connection", 1}, {"index", 0},
                                                 {"inputs", Value::array()}, {"size", 1 << 30}})),
        kMachineLinkBadArgumentsError);
    EXPECT_EQ(rawCall([](sdbus::MethodCall& call) { call << std::string("pointer.warp") << bytesOf("not a property list"); }),
        kMachineLinkBadArgumentsError);
    EXPECT_EQ(rawCall([](sdbus::MethodCall& call) {
        call << std::string("users.named") << bytesOf(std::string("<plist><dict><key>name</key><string>a") + '\0' + "</string></dict></plist>");
    }),
        kMachineLinkBadArgumentsError);
    EXPECT_EQ(rawCall([](sdbus::MethodCall& call) {
        call << std::string("pointer.warp") << std::vector<std::uint8_t>(kMachineLinkMaxArgumentBytes + 1, 0);
    }),
        kMachineLinkBadArgumentsError);
    EXPECT_NE(rawCall([](sdbus::MethodCall& call) { call << std::string("pointer.warp"); }), "");
    EXPECT_NE(rawCall([](sdbus::MethodCall& call) { call << 7; }), "");

    EXPECT_EQ(verb("warps"), "");
    EXPECT_EQ(CGWarpMouseCursorPosition({5, 6}), kCGErrorSuccess);
    EXPECT_EQ(verb("warps"), "5,6\n");
}

} // namespace
