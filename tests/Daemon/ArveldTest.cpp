#include "Common/ArvelDriverAccessProxy.h"
#include "Daemon/ArvelDOServer.h"
#include "Daemon/ArvelDriverAccess.h"
#include "Daemon/ArvelSystemDefaults.h"
#include "Daemon/arveld.h"
#include "DistributedObjects/Connection.h"
#include "DistributedObjects/PortNameServer.h"
#include "Notifications/NotificationCenter.h"
#include "tests/Daemon/DaemonFixture.h"

using machine::DriverCall;

class TheDaemon : public DaemonTest {
protected:
    std::vector<std::string> registeredNames() { return PortNameServer::systemDefaultPortNameServer().registeredNames(); }
};

TEST_F(TheDaemon, RefusesToRunAsAnyoneButRoot)
{
    world.runAsUser(501);
    Arveld daemon;
    EXPECT_EQ(daemon.startUp(), -1);
    EXPECT_EQ(world.logEntries(), (Entries {error("arveld error: Must be run as root.")}));
    EXPECT_FALSE(world.machine().programDetached());
    EXPECT_TRUE(registeredNames().empty());
}

TEST_F(TheDaemon, StopsWhenItCannotDetach)
{
    world.failNext("daemon", -1);
    Arveld daemon;
    EXPECT_EQ(daemon.startUp(), -1);
    EXPECT_EQ(world.logEntries(), (Entries {error("arveld error: Unable to go daemon.")}));
    EXPECT_TRUE(registeredNames().empty());
}

TEST_F(TheDaemon, StartsWithTheDriverLoadedAndPublishesBothObjects)
{
    ScopedEnvironment debug("ArvelDebug", std::nullopt);
    world.loadDriver();
    Arveld daemon;
    ASSERT_EQ(daemon.startUp(), 0);
    EXPECT_EQ(world.timedLogLines(), (Lines {"1.000 ArvelDriverAccess: Driver initial load.", "1.000 arveld: Daemon started."}));
    EXPECT_EQ(world.logEntries().back().priority, kLogPriorityNotice);
    EXPECT_TRUE(world.machine().programDetached());
    EXPECT_EQ(registeredNames(), (Lines {"com.tessmoor.Arvel.DaemonDriverAccess", "com.tessmoor.Arvel.DaemonSystemDefaults"}));
    EXPECT_EQ(daemon.server()->servedObjects().at(kArvelDriverAccessName), daemon.driverAccess());
    EXPECT_EQ(daemon.server()->servedObjects().at(kArvelSystemDefaultsName), daemon.systemDefaults());
    EXPECT_TRUE(world.driver().isOpen());
}

TEST_F(TheDaemon, WritesThePublicationLineOnlyWhenArvelDebugIsExactlyYES)
{
    for (std::optional<std::string> value : {std::optional<std::string>("yes"), std::optional<std::string>("Yes"),
             std::optional<std::string>("YES "), std::optional<std::string>("1"), std::optional<std::string>(),
             std::optional<std::string>("YES")}) {
        SCOPED_TRACE(value.value_or("(unset)"));
        ScopedEnvironment debug("ArvelDebug", value);
        resetVerboseLoggingForTesting();
        world.clearLog();
        {
            Arveld daemon;
            ASSERT_EQ(daemon.startUp(), 0);
            Lines expected;
            if (value == "YES") {
                expected.push_back("ArvelDOServer: Published \"" + daemon.driverAccess()->description()
                    + "\" as \"com.tessmoor.Arvel.DaemonDriverAccess\"");
                expected.push_back("ArvelDOServer: Published \"" + daemon.systemDefaults()->description()
                    + "\" as \"com.tessmoor.Arvel.DaemonSystemDefaults\"");
            }
            expected.push_back("arveld: Daemon started.");
            EXPECT_EQ(world.logLines(), expected);
        }
        releaseSharedInstances();
    }
}

TEST_F(TheDaemon, LetsASecondInstanceFailOnTheDriverAccessName)
{
    Arveld first;
    ASSERT_EQ(first.startUp(), 0);
    world.clearLog();
    {
        Arveld second;
        EXPECT_EQ(second.startUp(), -1);
    }
    EXPECT_EQ(world.logEntries(),
        (Entries {error("ArvelDOServer error: Unable to register name \"com.tessmoor.Arvel.DaemonDriverAccess\"."),
            error("arveld error: Unable to build or serve the driver access.")}));
    // The first daemon still serves.
    auto proxy = ArvelDriverAccessProxy::proxyForRegisteredName();
    ASSERT_NE(proxy, nullptr);
    world.loadDriver();
    world.runFor(0);
    EXPECT_TRUE(proxy->driverAvailable());
}

TEST_F(TheDaemon, StopsWithTwoLinesWhenAnObjectCannotBeBuilt)
{
    {
        world.failNext("IOMasterPort", KERN_FAILURE);
        Arveld daemon;
        EXPECT_EQ(daemon.startUp(), -1);
        EXPECT_EQ(world.takeLogLines(), (Lines {"ArvelDriverAccess error: Unable to establish communication port with IOKit.",
                                            "ArvelDriverAccess error: Unable to allocate the shared driver access object.",
                                            "arveld error: Unable to build or serve the driver access."}));
        EXPECT_TRUE(registeredNames().empty());
    }
    {
        world.failNext("SCDynamicStoreCreate", 1);
        Arveld daemon;
        EXPECT_EQ(daemon.startUp(), -1);
        EXPECT_EQ(world.takeLogLines(), (Lines {"ArvelConsoleUser error: Unable to create SystemConfiguration session.",
                                            "ArvelConsoleUser error: Unable to allocate the shared console user access object.",
                                            "arveld error: Unable to build the console user access."}));
    }
    // Each attempt starts as a new process would, without shared objects.
    releaseSharedInstances();
    {
        world.failNext("ArvelSystemDefaults.init", 1);
        Arveld daemon;
        EXPECT_EQ(daemon.startUp(), -1);
        EXPECT_EQ(world.takeLogLines(), (Lines {"ArvelSystemDefaults error: Unable to allocate a system defaults object.",
                                            "arveld error: Unable to build or serve the system defaults."}));
    }
    releaseSharedInstances();
    {
        world.failNext("IORegisterForSystemPower", 1);
        Arveld daemon;
        EXPECT_EQ(daemon.startUp(), -1);
        EXPECT_EQ(world.takeLogLines(), (Lines {"ArvelSystemPower error: Unable to obtain system power notification port.",
                                            "ArvelSystemPower error: Unable to allocate the shared system power notification object.",
                                            "arveld error: Unable to build the system power notifier."}));
    }
    {
        world.failNext("ArvelHIDAccess.init", 1);
        Arveld daemon;
        EXPECT_EQ(daemon.startUp(), -1);
        EXPECT_EQ(world.takeLogLines(), (Lines {"ArvelHIDAccess error: Unable to allocate a HID access object.",
                                            "ArvelConfigPush error: Cannot build HID access.",
                                            "arveld error: Unable to build the configuration push."}));
    }
    // What was published goes with the daemon that gave up.
    EXPECT_TRUE(registeredNames().empty());
}

TEST_F(TheDaemon, RunsItsLoopInSlicesOfAtMostFiveMinutes)
{
    Arveld daemon;
    ASSERT_EQ(daemon.startUp(), 0);
    double before = world.elapsed();
    daemon.runSlice();
    EXPECT_DOUBLE_EQ(world.elapsed() - before, 300.0);
}

TEST_F(TheDaemon, ServesClientCallsAsLocalCallsWithTheLinesInItsOwnLog)
{
    Arveld daemon;
    ASSERT_EQ(daemon.startUp(), 0);
    auto proxy = ArvelDriverAccessProxy::proxyForRegisteredName();
    ASSERT_NE(proxy, nullptr);
    world.clearLog();

    EXPECT_TRUE(proxy->readDriverObservedGeometry().isNil());
    EXPECT_EQ(world.logEntries(),
        (Entries {error("ArvelDriverAccess error: readDriverObservedGeometry unavailable, no client connection.")}));

    world.loadDriver();
    world.runFor(0);
    EXPECT_TRUE(proxy->driverAvailable());
    EXPECT_TRUE(proxy->userOnConsole());
    EXPECT_TRUE(proxy->userOffConsole());
    EXPECT_TRUE(proxy->resetDriverObservedGeometry());
    proxy->setCalibrationInProgress(true);
    world.touch(200, 300);
    EXPECT_EQ(proxy->readDriverObservedGeometry(), Value::dictionary({{"MinX", 200}, {"MinY", 300}, {"MaxX", 200}, {"MaxY", 300}}));
    EXPECT_TRUE(proxy->resetDriverToDefaultCalibration());
    EXPECT_EQ(proxy->currentCalibration(), machine::TrackpadDriver::builtInCalibration());
    Value perApplication = Value::dictionary({{"ApplicationSet", Value::dictionary({{"NWCorner", Value::dictionary({{"Action", 3}})}})}});
    proxy->sendDriverProperties(perApplication);
    EXPECT_EQ(world.driver().lastApplicationProperties(), perApplication);
    EXPECT_EQ(world.driver().calls(), (std::vector<DriverCall> {{0, {}}, {1, {}}, {6, {}}, {8, {1}}, {7, {}}, {5, {}}}));

    // A client that sends any true number still gets exactly 1 sent.
    proxy->connectionForProxy()->sendInvocation("setCalibrationInProgress:", Value::array({42}));
    EXPECT_EQ(world.driver().calls().back(), (DriverCall {8, {1}}));
}

TEST_F(TheDaemon, LeavesClientsRunningWithNeutralAnswersOnceItIsGone)
{
    std::vector<const void*> deaths;
    NotificationCenter::defaultCenter().addObserver(
        this, [&](const Notification& n) { deaths.push_back(n.sender); }, kConnectionDidDieNotification);
    world.loadDriver();
    auto daemon = std::make_unique<Arveld>();
    ASSERT_EQ(daemon->startUp(), 0);
    auto proxy = ArvelDriverAccessProxy::proxyForRegisteredName();
    ASSERT_TRUE(proxy->driverAvailable());

    daemon.reset();
    world.clearLog();
    EXPECT_FALSE(proxy->driverAvailable());
    EXPECT_FALSE(proxy->userOnConsole());
    EXPECT_TRUE(proxy->readDriverObservedGeometry().isNil());
    EXPECT_TRUE(proxy->currentCalibration().isNil());
    proxy->setCalibrationInProgress(true);
    proxy->sendDriverProperties(Value::dictionary());
    EXPECT_TRUE(world.logLines().empty());
    EXPECT_FALSE(world.driver().calibrationMode());
    EXPECT_TRUE(deaths.empty());

    world.runFor(0);
    EXPECT_EQ(deaths, (std::vector<const void*> {proxy->connectionForProxy().get()}));
    EXPECT_EQ(ArvelDriverAccessProxy::proxyForRegisteredName(), nullptr);
}
