#include "IOKit/IOReturn.h"
#include "Paths/DiskRoot.h"
#include "support/MachineHarness.h"

#include <filesystem>
#include <gtest/gtest.h>

using machine::DriverGeometry;
using machine::IORegistry;

class ATrackpadDriver : public ::testing::Test {
protected:
    MachineHarness world;
    machine::TrackpadDriver& driver = world.driver();
    IORegistry& registry = world.machine().registry();
};

TEST_F(ATrackpadDriver, RegistersAFreshServiceAtEachLoadAndTerminatesItAtUnload)
{
    std::vector<std::string> heard;
    registry.addListener("Arvel", IORegistry::Event::Matched, [&](auto id) { heard.push_back("matched " + std::to_string(id)); });
    registry.addListener("Arvel", IORegistry::Event::Terminated, [&](auto id) { heard.push_back("terminated " + std::to_string(id)); });

    driver.unload(); // not loaded: nothing happens
    driver.load();
    auto first = driver.entry();
    driver.load(); // already loaded: nothing happens
    std::uint64_t connection = 0;
    ASSERT_EQ(driver.open(0, &connection), kIOReturnSuccess);
    driver.unload();
    EXPECT_FALSE(driver.isOpen());
    EXPECT_FALSE(registry.isActive(first));
    driver.load();
    EXPECT_NE(driver.entry(), first);
    EXPECT_EQ(heard, (std::vector<std::string> {"matched " + std::to_string(first), "terminated " + std::to_string(first),
                         "matched " + std::to_string(driver.entry())}));
    std::vector<std::int64_t> none;
    EXPECT_EQ(driver.callScalar(connection, 0, {}, none), kIOReturnNotOpen) << "a connection does not outlive its driver";
}

TEST_F(ATrackpadDriver, FollowsTheFingerOnlyInCalibrationMode)
{
    driver.load();
    std::uint64_t connection = 0;
    driver.open(0, &connection);
    std::vector<std::int64_t> none;
    driver.touch(100, 100);
    EXPECT_EQ(driver.observedGeometry(), (DriverGeometry {3000, 3000, 1, 1}));
    driver.callScalar(connection, 8, {5}, none);
    EXPECT_TRUE(driver.calibrationMode());
    driver.touch(100, 2000);
    driver.touch(2500, 300);
    EXPECT_EQ(driver.observedGeometry(), (DriverGeometry {100, 300, 2500, 2000}));
    driver.callScalar(connection, 8, {0}, none);
    driver.touch(1, 2999);
    EXPECT_EQ(driver.observedGeometry(), (DriverGeometry {100, 300, 2500, 2000}));
}

TEST_F(ATrackpadDriver, DescribesWhatItHolds)
{
    EXPECT_EQ(driver.describe(), "driver: not loaded\n");
    driver.load();
    std::uint64_t connection = 0;
    driver.open(0, &connection);
    std::vector<std::int64_t> none;
    driver.callScalar(connection, 0, {}, none);
    driver.callScalar(connection, 8, {1}, none);
    driver.setProperties(Value::dictionary({{"ApplicationSet", Value::dictionary()}}));
    EXPECT_EQ(driver.describe(),
        "driver: loaded, 1 client connection(s) open\n"
        "  user on console: yes\n"
        "  calls: 0 8(1)\n"
        "  calibration mode: on, observed {MinX = 3000; MinY = 3000; MaxX = 1; MaxY = 1; }\n"
        "  Calibration = {MaxX = 2880; MaxY = 2304; MinX = 120; MinY = 96; }\n"
        "  DebugLogging = false\n"
        "  per-application dictionary = {ApplicationSet = {}; }\n");
}

TEST(AHomeFolder, IsMadeWithItsPreferencesFolderOnTheDisk)
{
    MachineHarness world;
    world.addUser("alice", 501);
    EXPECT_TRUE(world.createHomeFolder("alice"));
    EXPECT_TRUE(std::filesystem::is_directory(world.disk().path() + "/Users/alice/Library/Preferences"));
    EXPECT_FALSE(world.createHomeFolder("bob"));
}
