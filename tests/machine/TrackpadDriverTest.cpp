#include "IOKit/IOReturn.h"
#include "Paths/DiskRoot.h"
#include "support/MachineHarness.h"

#include <filesystem>
#include <gtest/gtest.h>

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
    ASSERT_EQ(driver.open(0, &connection, 0), kIOReturnSuccess);
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

TEST_F(ATrackpadDriver, KeepsItsUserClientAndItsPropertiesToRoot)
{
    driver.load();
    std::uint64_t connection = 0;
    const Value corners = Value::dictionary({{"ApplicationSet", Value::dictionary()}});
    EXPECT_EQ(driver.open(0, &connection, 501), kIOReturnNotPrivileged);
    EXPECT_EQ(driver.setProperties(corners, 501), kIOReturnNotPrivileged);
    EXPECT_EQ(driver.setProperty("DebugLogging", true, 501), kIOReturnNotPrivileged);
    EXPECT_FALSE(driver.isOpen());
    EXPECT_EQ(driver.applicationPropertiesWrites(), 0u);
    EXPECT_FALSE(driver.debugLogging());

    EXPECT_EQ(driver.open(0, &connection, 0), kIOReturnSuccess);
    EXPECT_EQ(driver.setProperties(corners, 0), kIOReturnSuccess);
    EXPECT_EQ(driver.lastApplicationProperties(), corners);
}

TEST(AHomeFolder, IsMadeWithItsPreferencesFolderOnTheDisk)
{
    MachineHarness world;
    world.addUser("alice", 501);
    EXPECT_TRUE(world.createHomeFolder("alice"));
    EXPECT_TRUE(std::filesystem::is_directory(world.disk().path() + "/Users/alice/Library/Preferences"));
    EXPECT_FALSE(world.createHomeFolder("bob"));
}
