// Calibration from the main view: the sheet's thresholds, Cancel, a driver
// gone before OK, and the default calibration.
#include "PaneFixture.h"

#include "Common/ArvelNotifications.h"
#include "Notifications/DistributedNotificationCenter.h"

using ::testing::HasSubstr;

namespace {

const Value kStored = Value::dictionary({{"MinX", 120}, {"MinY", 96}, {"MaxX", 2880}, {"MaxY", 2304}});

class ArvelPrefCalibration : public PaneTest {
protected:
    void show()
    {
        world.writeSystemSettings(Value::dictionary({{"PrefsVersion", 4}, {"Calibration", kStored}}));
        world.setAccessibility(true);
        startDaemon();
        loadPane();
        showPane();
        ASSERT_FALSE(pane->disabled());
    }
    std::string mainFields() const
    {
        return text("minXDisplay") + " " + text("minYDisplay") + " " + text("maxXDisplay") + " " + text("maxYDisplay");
    }
};

TEST_F(ArvelPrefCalibration, TheYRangeMustBeWiderThan250AndCancelKeepsTheStoredCalibration)
{
    show();
    at(0.05, [&] {
        EXPECT_TRUE(world.driver().calibrationMode());
        world.touch(100, 100);
        world.touch(500, 350);
    });
    at(0.15, [&] {
        EXPECT_EQ(textColour("calibratePanelMinYDisplay"), TextColour::Red);
        EXPECT_EQ(textColour("calibratePanelMinXDisplay"), TextColour::Black);
        EXPECT_FALSE(isEnabled("calibratePanelOK"));
        world.touch(500, 351);
    });
    at(0.25, [&] {
        EXPECT_EQ(text("calibratePanelMaxYDisplay"), "351");
        EXPECT_EQ(textColour("calibratePanelMaxYDisplay"), TextColour::Black);
        EXPECT_TRUE(isEnabled("calibratePanelOK"));
        click("calibratePanelReset");
        EXPECT_EQ(text("calibratePanelMaxYDisplay"), "");
        EXPECT_FALSE(isEnabled("calibratePanelOK"));
        press("Cancel");
    });
    click("reCalibrate");
    EXPECT_FALSE(world.driver().calibrationMode());
    EXPECT_EQ(world.readSystemSettings()["Calibration"], kStored);
    EXPECT_THAT(windows(), ::testing::Not(HasSubstr("sheet")));
}

TEST_F(ArvelPrefCalibration, OKWithTheDriverGoneStoresNothingAndLeavesTheDisplay)
{
    show();
    at(0.05, [&] {
        world.touch(100, 100);
        world.touch(900, 900);
    });
    at(0.15, [&] {
        ASSERT_TRUE(isEnabled("calibratePanelOK"));
        world.unloadDriver();
        press("OK");
    });
    click("reCalibrate");
    EXPECT_EQ(world.readSystemSettings()["Calibration"], kStored);
    EXPECT_EQ(mainFields(), "120 96 2880 2304");
}

TEST_F(ArvelPrefCalibration, TheDefaultCalibrationIsStoredOrClearedWhenTheDriverHasNone)
{
    show();
    int prefChanges = 0;
    DistributedNotificationCenter::defaultCenter().addObserver(
        this, [&prefChanges](const auto&) { ++prefChanges; }, kArvelPrefChangeNotification);
    click("useDefaultCalibration");
    const Value builtIn = world.driver().calibration();
    EXPECT_EQ(world.readSystemSettings()["Calibration"], builtIn);
    EXPECT_EQ(mainFields(), std::to_string(builtIn["MinX"].integerOr(-1)) + " " + std::to_string(builtIn["MinY"].integerOr(-1)) + " "
            + std::to_string(builtIn["MaxX"].integerOr(-1)) + " " + std::to_string(builtIn["MaxY"].integerOr(-1)));
    // A driver that then tells no calibration: the stored one goes, the
    // main view keeps what it showed.
    const std::string shown = mainFields();
    world.failNext("IORegistryEntryCreateCFProperty", 1);
    click("useDefaultCalibration");
    EXPECT_TRUE(world.readSystemSettings()["Calibration"].isNil());
    EXPECT_EQ(mainFields(), shown);
    world.runFor(0);
    EXPECT_EQ(prefChanges, 2);
    DistributedNotificationCenter::defaultCenter().removeObserver(this);
}

} // namespace
