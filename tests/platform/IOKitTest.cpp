#include "IOKit/IOKitLib.h"
#include "RunLoop/RunLoop.h"
#include "support/MachineHarness.h"

#include <gtest/gtest.h>

using machine::DriverCall;
using machine::DriverGeometry;

namespace {

// Records each callback with the services its iterator held, draining it
// (which re-arms the notification).
struct Heard {
    std::vector<std::string> events;
    const char* label = "";
    bool drain = true;
    std::vector<std::string>* shared = nullptr; // also logged here, when set
};

void recordingCallback(void* refcon, io_iterator_t iterator)
{
    auto* heard = static_cast<Heard*>(refcon);
    std::string event = heard->label;
    if (heard->drain) {
        while (io_object_t service = IOIteratorNext(iterator)) {
            event += " " + std::to_string(service != 0);
            IOObjectRelease(service);
        }
    }
    heard->events.push_back(event);
    if (heard->shared)
        heard->shared->push_back(event);
}

} // namespace

class TheIOKitShim : public ::testing::Test {
protected:
    MachineHarness world;
    mach_port_t master = 0;
    IONotificationPortRef port = nullptr;

    void SetUp() override
    {
        ASSERT_EQ(IOMasterPort(MACH_PORT_NULL, &master), KERN_SUCCESS);
        port = IONotificationPortCreate(master);
        ASSERT_NE(port, nullptr);
        RunLoop::current().addSource(IONotificationPortGetRunLoopSource(port));
    }
    void TearDown() override
    {
        IONotificationPortDestroy(port);
        mach_port_deallocate(mach_task_self(), master);
    }

    io_iterator_t watch(const char* type, Heard& heard)
    {
        io_iterator_t iterator = 0;
        EXPECT_EQ(IOServiceAddMatchingNotification(port, type, IOServiceMatching("Arvel"), recordingCallback, &heard, &iterator),
            kIOReturnSuccess);
        return iterator;
    }

    io_connect_t openDriver()
    {
        io_service_t service = IOServiceGetMatchingService(master, IOServiceMatching("Arvel"));
        io_connect_t connection = 0;
        EXPECT_EQ(IOServiceOpen(service, mach_task_self(), 0, &connection), kIOReturnSuccess);
        IOObjectRelease(service);
        return connection;
    }
};

TEST_F(TheIOKitShim, TellsOfChangesOnlyWhenTheRunLoopServesTheArmedNotification)
{
    world.loadDriver();
    Heard loads {{}, "load"};
    io_iterator_t iterator = watch(kIOMatchedNotification, loads);

    // The service that already matches waits in the iterator; the
    // notification is not armed until the iterator has been drained.
    world.unloadDriver();
    world.loadDriver();
    world.runFor(1);
    EXPECT_TRUE(loads.events.empty());

    recordingCallback(&loads, iterator); // drains two services: armed
    EXPECT_EQ(loads.events, (std::vector<std::string> {"load 1 1"}));

    world.unloadDriver();
    world.loadDriver();
    EXPECT_EQ(loads.events.size(), 1u) << "the machine verb must not call back by itself";
    world.runFor(0);
    EXPECT_EQ(loads.events, (std::vector<std::string> {"load 1 1", "load 1"}));

    // A callback that leaves its iterator full hears nothing more.
    loads.drain = false;
    world.unloadDriver();
    world.loadDriver();
    world.runFor(0);
    world.unloadDriver();
    world.loadDriver();
    world.runFor(0);
    EXPECT_EQ(loads.events, (std::vector<std::string> {"load 1 1", "load 1", "load"}));
    IOObjectRelease(iterator);
}

TEST_F(TheIOKitShim, DeliversATerminationBeforeTheLoadThatFollowedIt)
{
    world.loadDriver();
    std::vector<std::string> events;
    Heard loads {{}, "load"};
    Heard unloads {{}, "unload"};
    loads.shared = unloads.shared = &events;
    // Registered load first: delivery must still follow the order of events.
    io_iterator_t loadIterator = watch(kIOMatchedNotification, loads);
    io_iterator_t unloadIterator = watch(kIOTerminatedNotification, unloads);
    recordingCallback(&unloads, unloadIterator);
    recordingCallback(&loads, loadIterator);
    events.clear();

    world.unloadDriver();
    world.loadDriver();
    world.runFor(0);
    EXPECT_EQ(events, (std::vector<std::string> {"unload 1", "load 1"}));
    IOObjectRelease(loadIterator);
    IOObjectRelease(unloadIterator);
}

TEST_F(TheIOKitShim, CarriesEachCallFormToTheDriverWithItsLayout)
{
    world.loadDriver();
    io_connect_t connection = openDriver();
    EXPECT_TRUE(world.driver().isOpen());

    EXPECT_EQ(IOConnectMethodScalarIScalarO(connection, 0, 0, 0), kIOReturnSuccess);
    EXPECT_EQ(IOConnectMethodScalarIScalarO(connection, 6, 0, 0), kIOReturnSuccess);
    EXPECT_EQ(IOConnectMethodScalarIScalarO(connection, 8, 1, 0, 1), kIOReturnSuccess);
    world.touch(400, 2500);
    world.touch(2900, 150);
    EXPECT_EQ(IOConnectMethodScalarIScalarO(connection, 8, 1, 0, 0), kIOReturnSuccess);
    world.touch(10, 10); // calibration mode is off: not seen

    std::int32_t geometry[4] = {0, 0, 0, 0};
    IOByteCount size = sizeof geometry;
    EXPECT_EQ(IOConnectMethodScalarIStructureO(connection, 7, 0, &size, geometry), kIOReturnSuccess);
    EXPECT_EQ(size, 16u);
    EXPECT_EQ(geometry[0], 400);
    EXPECT_EQ(geometry[1], 150);
    EXPECT_EQ(geometry[2], 2900);
    EXPECT_EQ(geometry[3], 2500);

    // Wrong forms and unknown indices are refused without reaching the driver.
    EXPECT_EQ(IOConnectMethodScalarIScalarO(connection, 7, 0, 0), kIOReturnBadArgument);
    EXPECT_EQ(IOConnectMethodScalarIScalarO(connection, 8, 0, 0), kIOReturnBadArgument);
    EXPECT_EQ(IOConnectMethodScalarIScalarO(connection, 2, 0, 0), kIOReturnBadArgument);
    size = 8;
    EXPECT_EQ(IOConnectMethodScalarIStructureO(connection, 7, 0, &size, geometry), kIOReturnBadArgument);

    EXPECT_EQ(world.driver().calls(),
        (std::vector<DriverCall> {{0, {}}, {6, {}}, {8, {1}}, {8, {0}}, {7, {}}}));
    EXPECT_EQ(world.driver().userOnConsole(), true);

    IOServiceClose(connection);
    EXPECT_FALSE(world.driver().isOpen());
}

TEST_F(TheIOKitShim, ResetsExtremesAndCalibrationAndReadsAndWritesProperties)
{
    world.loadDriver();
    io_service_t service = IOServiceGetMatchingService(master, IOServiceMatching("Arvel"));
    io_connect_t connection = openDriver();

    IOConnectMethodScalarIScalarO(connection, 8, 1, 0, 1);
    world.touch(5, 6);
    IOConnectMethodScalarIScalarO(connection, 6, 0, 0);
    EXPECT_EQ(world.driver().observedGeometry(), (DriverGeometry {3000, 3000, 1, 1}));

    world.driver().setCalibrationForTesting(Value::dictionary({{"MinX", 1}}));
    IOConnectMethodScalarIScalarO(connection, 5, 0, 0);
    EXPECT_EQ(IORegistryEntryCreateCFProperty(service, "Calibration", nullptr, 0), machine::TrackpadDriver::builtInCalibration());
    EXPECT_TRUE(IORegistryEntryCreateCFProperty(service, "NoSuchKey", nullptr, 0).isNil());

    Value perApplication = Value::dictionary({{"ApplicationSet", Value::dictionary()}});
    EXPECT_EQ(IORegistryEntrySetCFProperties(service, perApplication), kIOReturnSuccess);
    EXPECT_EQ(world.driver().lastApplicationProperties(), perApplication);
    EXPECT_EQ(IORegistryEntrySetCFProperties(service, Value::array({1})), kIOReturnBadArgument);
    EXPECT_EQ(IORegistryEntrySetCFProperty(service, "DebugLogging", true), kIOReturnSuccess);
    EXPECT_TRUE(world.driver().debugLogging());

    // Once unloaded, the old handles answer that the device is gone.
    world.unloadDriver();
    EXPECT_EQ(IOConnectMethodScalarIScalarO(connection, 0, 0, 0), kIOReturnNoDevice);
    EXPECT_EQ(IORegistryEntrySetCFProperties(service, perApplication), kIOReturnNoDevice);
    EXPECT_TRUE(IORegistryEntryCreateCFProperty(service, "Calibration", nullptr, 0).isNil());
    io_connect_t refused = 1;
    EXPECT_EQ(IOServiceOpen(service, mach_task_self(), 0, &refused), kIOReturnNoDevice);
    EXPECT_EQ(refused, 0u);

    // A reloaded driver starts from its built-in state.
    world.loadDriver();
    EXPECT_TRUE(world.driver().lastApplicationProperties().isNil());
    EXPECT_FALSE(world.driver().calibrationMode());
    EXPECT_TRUE(world.driver().calls().empty());
    IOServiceClose(connection);
    IOObjectRelease(service);
}

TEST_F(TheIOKitShim, FailsWhereAFailureIsInjectedWithThatResult)
{
    world.loadDriver();
    world.failNext("IOServiceOpen", kIOReturnNotPrivileged);
    io_service_t service = IOServiceGetMatchingService(master, IOServiceMatching("Arvel"));
    io_connect_t connection = 0;
    EXPECT_EQ(IOServiceOpen(service, mach_task_self(), 0, &connection), kIOReturnNotPrivileged);
    EXPECT_EQ(IOServiceOpen(service, mach_task_self(), 0, &connection), kIOReturnSuccess);

    // A qualified failure hits only that index.
    world.failNext("IOConnectMethodScalarIScalarO:8", kIOReturnBusy);
    EXPECT_EQ(IOConnectMethodScalarIScalarO(connection, 0, 0, 0), kIOReturnSuccess);
    EXPECT_EQ(IOConnectMethodScalarIScalarO(connection, 8, 1, 0, 1), kIOReturnBusy);
    EXPECT_EQ(IOConnectMethodScalarIScalarO(connection, 8, 1, 0, 1), kIOReturnSuccess);

    IOServiceClose(connection);
    IOObjectRelease(service);
}

TEST_F(TheIOKitShim, GivesBackEveryHandleAndEndsNotificationsWithTheirIterator)
{
    std::size_t before = IOKitObjectCountForTesting();
    world.loadDriver();
    Heard heard {{}, "load"};
    io_iterator_t iterator = watch(kIOMatchedNotification, heard);
    recordingCallback(&heard, iterator);
    io_connect_t connection = openDriver();
    EXPECT_EQ(IOKitObjectCountForTesting(), before + 2);

    IOObjectRelease(iterator);
    IOObjectRelease(connection); // releasing a connection closes it
    EXPECT_EQ(IOKitObjectCountForTesting(), before);
    EXPECT_FALSE(world.driver().isOpen());

    world.unloadDriver();
    world.loadDriver();
    world.runFor(0);
    EXPECT_EQ(heard.events, (std::vector<std::string> {"load 1"}));
    EXPECT_EQ(world.machine().registry().listenerCount(), 0u);
}
