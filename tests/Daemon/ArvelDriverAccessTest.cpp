#include "Common/ArvelNotifications.h"
#include "Daemon/ArvelDriverAccess.h"
#include "IOKit/IOKitLib.h"
#include "tests/Daemon/DaemonFixture.h"

#include <functional>

using machine::DriverCall;

class ADriverAccess : public DaemonTest {
protected:
    ADriverAccess() { world.recordNotifications({kArvelDriverLoadedNotification, kArvelDriverUnloadedNotification}); }

    std::shared_ptr<ArvelDriverAccess> start()
    {
        auto access = ArvelDriverAccess::sharedInstance();
        EXPECT_NE(access, nullptr);
        return access;
    }
    std::shared_ptr<ArvelDriverAccess> startWithDriver()
    {
        world.loadDriver();
        auto access = start();
        world.clearLog();
        return access;
    }
};

// Each driver operation with the call it makes; success is YES or an answer
// (setCalibrationInProgress answers nothing and counts as a success).
struct DriverOperation {
    const char* name;
    std::function<bool(ArvelDriverAccess&)> call;
    DriverCall expected;
    const char* form = "IOConnectMethodScalarIScalarO";
    bool answers = true;

    void expectRefused(ArvelDriverAccess& access) const
    {
        bool succeeded = call(access);
        if (answers) {
            EXPECT_FALSE(succeeded) << name;
        }
    }
};

static const std::vector<DriverOperation>& driverOperations()
{
    static const std::vector<DriverOperation> operations {
        {"userOnConsole", [](ArvelDriverAccess& a) { return a.userOnConsole(); }, {0, {}}},
        {"userOffConsole", [](ArvelDriverAccess& a) { return a.userOffConsole(); }, {1, {}}},
        {"resetDriverToDefaultCalibration", [](ArvelDriverAccess& a) { return a.resetDriverToDefaultCalibration(); }, {5, {}}},
        {"resetDriverObservedGeometry", [](ArvelDriverAccess& a) { return a.resetDriverObservedGeometry(); }, {6, {}}},
        {"readDriverObservedGeometry", [](ArvelDriverAccess& a) { return !a.readDriverObservedGeometry().isNil(); }, {7, {}},
            "IOConnectMethodScalarIStructureO"},
        {"setCalibrationInProgress",
            [](ArvelDriverAccess& a) {
                a.setCalibrationInProgress(true);
                return true;
            },
            {8, {1}}, "IOConnectMethodScalarIScalarO", false},
    };
    return operations;
}

TEST_F(ADriverAccess, TakesUpADriverAlreadyLoadedAfterOneSecondAndAnnouncesNothing)
{
    world.loadDriver();
    auto access = start();
    EXPECT_DOUBLE_EQ(world.elapsed(), 1.0) << "the wait goes through the clock";
    EXPECT_TRUE(access->driverAvailable());
    EXPECT_EQ(world.driver().openConnectionCount(), 1u);
    EXPECT_EQ(world.logEntries(), (Entries {notice("ArvelDriverAccess: Driver initial load.")}));
    world.runFor(10);
    EXPECT_TRUE(world.notifications().empty());
}

TEST_F(ADriverAccess, CallsOnlyALaterLoadALoadAndAnnouncesIt)
{
    auto access = start();
    EXPECT_DOUBLE_EQ(world.elapsed(), 0.0);
    EXPECT_FALSE(access->driverAvailable());
    EXPECT_TRUE(world.logLines().empty()) << "the unload seen while arming is silent";

    world.loadDriver();
    EXPECT_FALSE(access->driverAvailable()) << "the daemon hears of the load from its run loop";
    world.runFor(0);
    EXPECT_TRUE(access->driverAvailable());
    world.unloadDriver();
    world.runFor(0);
    EXPECT_FALSE(access->driverAvailable());
    EXPECT_FALSE(world.driver().isOpen());
    world.loadDriver();
    world.runFor(0);
    EXPECT_TRUE(access->driverAvailable());

    EXPECT_EQ(world.timedLogLines(), (Lines {
                                         "1.000 ArvelDriverAccess: Driver initial load.",
                                         "1.000 ArvelDriverAccess: Driver was unloaded.",
                                         "2.000 ArvelDriverAccess: Driver was loaded.",
                                     }));
    EXPECT_EQ(world.notifications(),
        (Lines {"com.tessmoor.Arvel.DriverUnloaded (null)", "com.tessmoor.Arvel.DriverLoaded (null)"}));
}

TEST_F(ADriverAccess, StaysSilentAboutAnUnloadBeforeAnyLoad)
{
    auto access = start();
    access->_driverDidUnload();
    EXPECT_TRUE(world.logLines().empty());
    world.runFor(1);
    EXPECT_TRUE(world.notifications().empty());
}

TEST_F(ADriverAccess, CallsEachOperationOnItsIndex)
{
    auto access = startWithDriver();
    std::vector<DriverCall> expected;
    for (const auto& operation : driverOperations()) {
        SCOPED_TRACE(operation.name);
        EXPECT_TRUE(operation.call(*access));
        expected.push_back(operation.expected);
    }
    EXPECT_EQ(world.driver().calls(), expected);
    EXPECT_TRUE(world.logLines().empty());
}

TEST_F(ADriverAccess, SendsExactlyOneOrZeroForTheCalibrationMode)
{
    auto access = startWithDriver();
    access->setCalibrationInProgress(true);
    EXPECT_TRUE(world.driver().calibrationMode());
    access->setCalibrationInProgress(false);
    // What arrives over a connection as any true number is still sent as 1.
    access->dispatchInvocation("setCalibrationInProgress:", Value::array({7}));
    access->dispatchInvocation("setCalibrationInProgress:", Value::array({-2.5}));
    access->dispatchInvocation("setCalibrationInProgress:", Value::array({0}));
    EXPECT_EQ(world.driver().calls(), (std::vector<DriverCall> {{8, {1}}, {8, {0}}, {8, {1}}, {8, {1}}, {8, {0}}}));
}

TEST_F(ADriverAccess, ReportsEveryOperationUnavailableWithoutAConnection)
{
    auto check = [&](ArvelDriverAccess& access) {
        Entries expected;
        for (const auto& operation : driverOperations()) {
            operation.expectRefused(access);
            expected.push_back(error(std::string("ArvelDriverAccess error: ") + operation.name + " unavailable, no client connection."));
        }
        EXPECT_TRUE(access.currentCalibration().isNil());
        expected.push_back(error("ArvelDriverAccess error: currentCalibration unavailable, no driver loaded."));
        EXPECT_EQ(world.logEntries(), expected);
        EXPECT_TRUE(world.driver().calls().empty());
    };

    // No driver at all.
    auto access = start();
    check(*access);

    // The driver is there but the connection could not be opened.
    world.clearLog();
    world.failNext("IOServiceOpen", kIOReturnExclusiveAccess);
    world.loadDriver();
    world.runFor(0);
    EXPECT_EQ(world.takeLogLines(), (Lines {"ArvelDriverAccess error: Driver load unable to connect to driver client 0xe00002c5.",
                                        "ArvelDriverAccess: Driver initial load."}));
    EXPECT_FALSE(access->driverAvailable());
    check(*access);
}

TEST_F(ADriverAccess, ReportsWhatTheDriverAnswersInHexadecimal)
{
    auto access = startWithDriver();
    Entries expected;
    for (const auto& operation : driverOperations()) {
        world.failNext(std::string(operation.form) + ":" + std::to_string(operation.expected.index), kIOReturnNotPrivileged);
        operation.expectRefused(*access);
        expected.push_back(error(std::string("ArvelDriverAccess error: ") + operation.name + " failed 0xe00002c1."));
    }
    EXPECT_EQ(world.logEntries(), expected);
    EXPECT_TRUE(world.driver().calls().empty());
}

TEST_F(ADriverAccess, ReadsTheObservedExtremesAsSignedNumbers)
{
    auto access = startWithDriver();
    EXPECT_EQ(access->readDriverObservedGeometry(),
        Value::dictionary({{"MinX", 3000}, {"MinY", 3000}, {"MaxX", 1}, {"MaxY", 1}}));
    access->setCalibrationInProgress(true);
    world.touch(-20, 40);
    world.touch(2990, 2100);
    EXPECT_EQ(access->readDriverObservedGeometry(),
        Value::dictionary({{"MinX", -20}, {"MinY", 40}, {"MaxX", 2990}, {"MaxY", 2100}}));
}

TEST_F(ADriverAccess, ReadsTheCalibrationUpToItsFirstMissingValue)
{
    auto access = startWithDriver();
    EXPECT_EQ(access->currentCalibration(), machine::TrackpadDriver::builtInCalibration());
    world.driver().setCalibrationForTesting(Value::dictionary({{"MinX", 7}, {"MaxX", 9}, {"MaxY", 10}, {"Extra", 1}}));
    EXPECT_EQ(access->currentCalibration(), Value::dictionary({{"MinX", 7}}));
    world.driver().setCalibrationForTesting(Value::dictionary({{"MinX", "odd"}, {"MinY", 2.5}, {"MaxX", 3}, {"MaxY", 4}}));
    EXPECT_EQ(access->currentCalibration(), Value::dictionary({{"MinX", "odd"}, {"MinY", 2.5}, {"MaxX", 3}, {"MaxY", 4}}))
        << "values pass through unchanged";
    EXPECT_TRUE(world.logLines().empty());

    for (const Value& none : {Value(), Value(5), Value::array({1, 2, 3, 4})}) {
        world.driver().setCalibrationForTesting(none);
        EXPECT_TRUE(access->currentCalibration().isNil());
    }
    EXPECT_EQ(world.logEntries(), (Entries(3, error("ArvelDriverAccess error: Driver calibration unavailable, found no calibration info."))));
}

TEST_F(ADriverAccess, WritesDriverPropertiesWheneverTheServiceIsKnown)
{
    Value perApplication = Value::dictionary({{"ApplicationSet", Value::dictionary()}});
    auto access = start();
    access->sendDriverProperties(perApplication);
    access->sendDriverProperties(Value());
    EXPECT_EQ(world.takeLogLines(), (Lines {"ArvelDriverAccess error: Driver properties could not be sent, driver is not loaded.",
                                        "ArvelDriverAccess error: Passed nil driver properties."}));

    // Even without a connection: only the service is needed.
    world.failNext("IOServiceOpen", kIOReturnExclusiveAccess);
    world.loadDriver();
    world.runFor(0);
    world.clearLog();
    setVerboseLoggingForTesting(true);
    access->sendDriverProperties(perApplication);
    EXPECT_EQ(world.driver().lastApplicationProperties(), perApplication);
    EXPECT_EQ(world.logEntries(), (Entries {notice("ArvelDriverAccess: Sending properties {ApplicationSet = {}; }")}));

    world.clearLog();
    setVerboseLoggingForTesting(false);
    world.failNext("IORegistryEntrySetCFProperties", kIOReturnError);
    access->sendDriverProperties(Value::dictionary({{"ApplicationSet", Value::dictionary({{"NWCorner", 1}})}}));
    access->sendDriverProperties(Value::array({1})); // what a confused client might send
    EXPECT_EQ(world.logEntries(),
        (Entries {error("ArvelDriverAccess error: Driver properties could not be written due to kernel error: e00002bc."),
            error("ArvelDriverAccess error: Driver properties could not be written due to kernel error: e00002c2.")}));
    EXPECT_EQ(world.driver().lastApplicationProperties(), perApplication);
}

TEST_F(ADriverAccess, ReplacesAServiceAndConnectionItStillHeldAtALoad)
{
    auto access = startWithDriver();
    access->_driverDidLoad(0);
    mach_port_t master = 0;
    IOMasterPort(MACH_PORT_NULL, &master);
    access->_driverDidLoad(IOServiceGetMatchingService(master, IOServiceMatching("Arvel")));
    EXPECT_EQ(world.logLines(), (Lines {"ArvelDriverAccess error: Driver load was not passed a service.",
                                    "ArvelDriverAccess error: Driver load already had a client connection.",
                                    "ArvelDriverAccess error: Driver load already had a service.",
                                    "ArvelDriverAccess: Driver was loaded."}));
    EXPECT_EQ(world.driver().openConnectionCount(), 1u);
    EXPECT_TRUE(access->driverAvailable());
    mach_port_deallocate(mach_task_self(), master);
}

TEST_F(ADriverAccess, ReportsEachStepOfItsSetUpThatFailsAndTriesAgainNextTime)
{
    struct Case {
        const char* operation;
        const char* line;
    };
    for (const Case& c : {
             Case {"IOMasterPort", "ArvelDriverAccess error: Unable to establish communication port with IOKit."},
             Case {"IONotificationPortCreate", "ArvelDriverAccess error: Unable to establish notification port with IOKit."},
             Case {"IONotificationPortGetRunLoopSource",
                 "ArvelDriverAccess error: Unable to establish notification runloop source with IOKit."},
             Case {"IOServiceAddMatchingNotification:IOServiceMatched",
                 "ArvelDriverAccess error: Unable to establish driver load notification with IOKit 0xe00002be."},
             Case {"IOServiceAddMatchingNotification:IOServiceTerminate",
                 "ArvelDriverAccess error: Unable to establish driver unload notification with IOKit 0xe00002be."},
         }) {
        SCOPED_TRACE(c.operation);
        world.clearLog();
        world.failNext(c.operation, kIOReturnNoResources);
        EXPECT_EQ(ArvelDriverAccess::sharedInstance(), nullptr);
        EXPECT_EQ(world.logEntries(),
            (Entries {error(c.line), error("ArvelDriverAccess error: Unable to allocate the shared driver access object.")}));
        EXPECT_EQ(IOKitObjectCountForTesting(), 0u) << "whatever was obtained is given back";
        EXPECT_EQ(world.machine().registry().listenerCount(), 0u);
    }
    EXPECT_NE(ArvelDriverAccess::sharedInstance(), nullptr);
}

TEST_F(ADriverAccess, GivesBackTheDriverAndEveryHandleWhenItGoes)
{
    auto access = startWithDriver();
    access.reset();
    releaseSharedInstances();
    EXPECT_FALSE(world.driver().isOpen());
    EXPECT_EQ(IOKitObjectCountForTesting(), 0u);
    EXPECT_EQ(world.machine().registry().listenerCount(), 0u);
    world.unloadDriver();
    world.loadDriver();
    world.runFor(2);
    EXPECT_TRUE(world.logLines().empty());
}

TEST(TheDriverAccessProtocol, NamesEachMethodOnceWithAsManyArgumentsAsItsSelectorHasColons)
{
    const auto& methods = ArvelDriverAccessProtocol::protocolDescription().methods();
    std::vector<std::string> selectors;
    for (const auto& method : methods) {
        selectors.push_back(method.selector);
        EXPECT_EQ(static_cast<std::size_t>(std::count(method.selector.begin(), method.selector.end(), ':')),
            method.argumentTypes.size())
            << method.selector;
    }
    EXPECT_EQ(selectors, (std::vector<std::string> {"driverAvailable", "userOnConsole", "userOffConsole",
                             "sendDriverProperties:", "currentCalibration", "resetDriverToDefaultCalibration",
                             "resetDriverObservedGeometry", "readDriverObservedGeometry", "setCalibrationInProgress:"}));
}
