#include "Common/ArvelHIDAccess.h"
#include "IOKit/IOKitLib.h"
#include "support/MachineHarness.h"

#include <cmath>
#include <gtest/gtest.h>

class TheHIDAccess : public ::testing::Test {
protected:
    MachineHarness world;
    std::shared_ptr<ArvelHIDAccess> hid = ArvelHIDAccess::create();
    Value config = Value::dictionary({{"Arvel", Value::dictionary({{"CornerSize", 12}})}});
};

TEST_F(TheHIDAccess, HandsAConfigurationToTheHIDSystemAndOnToTheDriver)
{
    world.loadDriver();
    hid->setHIDConfig(config);
    EXPECT_EQ(world.hidSystem().lastProperties(), config);
    EXPECT_EQ(world.driver().hidConfiguration(), config);
    EXPECT_EQ(hid->getHIDConfig()["Arvel"], config["Arvel"]);
    hid->setHIDAccelerationForKey(0.0, std::string("HIDTrackpadAcceleration"));
    EXPECT_EQ(world.hidSystem().acceleration("HIDTrackpadAcceleration"), 0.0);
    EXPECT_EQ(hid->getHIDConfig()["HIDTrackpadAcceleration"], Value(0.0));
    EXPECT_TRUE(world.logLines().empty());
    // Nothing is kept between calls but the master port.
    EXPECT_EQ(IOKitObjectCountForTesting(), 1u);
}

TEST_F(TheHIDAccess, RefusesNilConfigurationsAndInvalidAccelerationsWithoutTouchingTheService)
{
    hid->setHIDConfig(Value());
    hid->setHIDAccelerationForKey(-0.1, std::string("HIDTrackpadAcceleration"));
    hid->setHIDAccelerationForKey(std::nan(""), std::string("HIDTrackpadAcceleration"));
    hid->setHIDAccelerationForKey(1.0, std::nullopt);
    EXPECT_EQ(world.logLines(), (std::vector<std::string> {
                                    "ArvelHIDAccess error: Passed nil configuration. Config could not be written.",
                                    "ArvelHIDAccess error: Passed invalid acceleration. Acceleration could not be written.",
                                    "ArvelHIDAccess error: Passed invalid acceleration. Acceleration could not be written.",
                                    "ArvelHIDAccess error: Passed invalid acceleration key. Acceleration could not be written.",
                                }));
    EXPECT_EQ(world.hidSystem().propertiesWrites(), 0u);
    EXPECT_FALSE(world.hidSystem().acceleration("HIDTrackpadAcceleration"));
}

TEST_F(TheHIDAccess, LogsEachWayTheHIDSystemCanFail)
{
    world.hidSystem().remove();
    hid->setHIDConfig(config);
    EXPECT_TRUE(hid->getHIDConfig().isNil());
    hid->setHIDAccelerationForKey(1.0, std::string("HIDTrackpadAcceleration"));
    world.hidSystem().boot();
    world.failNext("IORegistryEntrySetCFProperties:IOHIDSystem", static_cast<int>(0xe00002c1));
    hid->setHIDConfig(config);
    world.failNext("IOServiceOpen:IOHIDSystem", static_cast<int>(0xe00002c1));
    hid->setHIDAccelerationForKey(1.0, std::string("HIDTrackpadAcceleration"));
    EXPECT_EQ(world.logLines(), (std::vector<std::string> {
                                    "ArvelHIDAccess error: Did not locate the HIDSystem service. Config could not be written.",
                                    "ArvelHIDAccess error: Did not locate the HIDSystem service. Config could not be read.",
                                    "ArvelHIDAccess error: Did not locate the HIDSystem service. Acceleration could not be written.",
                                    "ArvelHIDAccess error: Config could not be written due to kernel error: e00002c1.",
                                    "ArvelHIDAccess error: Unable to connect to HIDSystem. Acceleration could not be written.",
                                }));
}

TEST_F(TheHIDAccess, ClosesTheParameterConnectionWhenSettingTheAccelerationFails)
{
    world.failNext("IOHIDSetAccelerationWithKey", static_cast<int>(0xe00002bc));
    hid->setHIDAccelerationForKey(1.0, std::string("HIDTrackpadAcceleration"));
    EXPECT_EQ(world.logLines(), (std::vector<std::string> {
                                    "ArvelHIDAccess error: Failed to send acceleration to HIDSystem. Acceleration could not be written.",
                                }));
    EXPECT_EQ(world.hidSystem().openConnectionCount(), 0u);
    EXPECT_EQ(IOKitObjectCountForTesting(), 1u);
}

TEST_F(TheHIDAccess, WritesWhatItSendsToTheLogWhenVerbose)
{
    setVerboseLoggingForTesting(true);
    hid->setHIDConfig(config);
    EXPECT_EQ(world.logEntries(), (std::vector<CapturingLogSink::Entry> {
                                      MachineHarness::notice("ArvelHIDAccess: Sending {Arvel = {CornerSize = 12; }; }")}));
}
