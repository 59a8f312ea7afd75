// The settings controls: what a control stores, how a stored value shows,
// the trackpad interlocks, the corner data, dependent greying, and what
// each change reaches (the file, the HID system, the driver, the agent).
#include "PaneFixture.h"

#include "Common/ArvelNotifications.h"
#include "Foundation/PropertyList.h"
#include "Notifications/DistributedNotificationCenter.h"
#include "Paths/DiskRoot.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QSlider>
#include <QTabWidget>

namespace {

const Value kCalibration = Value::dictionary({{"MinX", 120}, {"MinY", 96}, {"MaxX", 2880}, {"MaxY", 2304}});

class ArvelPrefSettings : public PaneTest {
protected:
    // A usable pane over alice's stored settings (and global preferences).
    void show(const Value& settings = Value::dictionary(), const Value& global = Value())
    {
        world.writeSystemSettings(Value::dictionary({{"PrefsVersion", 4}, {"Calibration", kCalibration}}));
        world.writeUserSettings("alice", settings);
        if (!global.isNil())
            world.writeUserGlobalPreferences("alice", global);
        world.setAccessibility(true);
        startDaemon();
        loadPane();
        DistributedNotificationCenter::defaultCenter().addObserver(
            this, [this](const auto&) { ++prefChanges; }, kArvelPrefChangeNotification);
        showPane();
        ASSERT_FALSE(pane->disabled());
    }
    ~ArvelPrefSettings() override { DistributedNotificationCenter::defaultCenter().removeObserver(this); }

    Value stored(const std::string& key) const
    {
        return readPropertyList(hostPath("/Users/alice/Library/Preferences/com.tessmoor.Arvel.plist")).value[key];
    }
    Value global(const std::string& key) const
    {
        return readPropertyList(hostPath("/Users/alice/Library/Preferences/.GlobalPreferences.plist")).value[key];
    }
    // What the driver took through the HID system.
    Value driverHolds(const std::string& key) { return world.driver().hidConfiguration()["Arvel"][key]; }
    int sliderValue(const std::string& name) const { return qobject_cast<QSlider*>(outlet(name))->value(); }
    int selected(const std::string& name) const { return qobject_cast<QComboBox*>(outlet(name))->currentIndex(); }
    bool itemEnabled(const std::string& name, int index) const { return isPopUpItemEnabled(qobject_cast<QComboBox*>(outlet(name)), index); }
    int tab(const std::string& name) const { return qobject_cast<QTabWidget*>(outlet(name))->currentIndex(); }
    void chooseKeycap(const std::string& corner, const std::string& title)
    {
        auto* popUp = qobject_cast<QComboBox*>(outlet(corner + "CornerActionKeyActionKeycap"));
        choose(corner + "CornerActionKeyActionKeycap", popUp->findText(QString::fromStdString(title)));
    }

    int prefChanges = 0;
};

TEST_F(ArvelPrefSettings, SpeedSearchesMatchWithinStrictBoundsOrFallOffTheTable)
{
    EXPECT_EQ(ArvelPref::_trackpadSpeedIndexForSpeed(0.52), 3);
    EXPECT_EQ(ArvelPref::_trackpadSpeedIndexForSpeed(0.6), 8);
    EXPECT_EQ(ArvelPref::_doubleClickSpeedIndexForSpeed(1.72), 4);
    EXPECT_EQ(ArvelPref::_doubleClickSpeedIndexForSpeed(0.2), 9);
    EXPECT_EQ(ArvelPref::_doubleClickSpeedIndexForSpeed(1.75), 10);
    EXPECT_EQ(ArvelPref::_trackpadTapIndexForActionAndGesture({1, 7}), 0);
    EXPECT_EQ(ArvelPref::_trackpadTapIndexForActionAndGesture({2, 5}), 6);
    EXPECT_EQ(ArvelPref::_cornerActionIndexForAction(9), 0);
    EXPECT_EQ(ArvelPref::_cornerActionForIndex(8), 0);
}

TEST_F(ArvelPrefSettings, TheSpeedSlidersStoreTheTablesAndPushAccelerationAndTheDoubleClickInterval)
{
    show(Value::dictionary(), Value::dictionary({{"com.apple.trackpad.scaling", 0.52}, {"com.apple.mouse.doubleClickThreshold", 1.72}}));
    EXPECT_EQ(sliderValue("trackSpeed"), 3);
    EXPECT_EQ(sliderValue("doubleClickSpeed"), 4);
    slide("trackSpeed", 7);
    EXPECT_EQ(global("com.apple.trackpad.scaling"), Value(1.7));
    EXPECT_EQ(world.machine().hidSystem().acceleration("HIDTrackpadAcceleration"), 1.7);
    slide("doubleClickSpeed", 9);
    EXPECT_EQ(global("com.apple.mouse.doubleClickThreshold"), Value(0.2));
    EXPECT_EQ(world.machine().hidSystem().doubleClickThreshold(), 0.2);
    EXPECT_THAT(world.machine().hidSystem().describe(), ::testing::HasSubstr("  double-click threshold = 0.2 s\n"));
}

TEST_F(ArvelPrefSettings, TheInterlocksRepairAStoredButtonTwoTapTwoAndGreyTheItemsTheyForbid)
{
    show(Value::dictionary({{"Button", Value::dictionary({{"Action", 2}})}, {"Tap", Value::dictionary({{"Action", 2}, {"Gesture", 0}})}}));
    // The tap acts as the button, so the button cannot drag-lock.
    EXPECT_EQ(stored("Button"), Value::dictionary({{"Action", 1}}));
    EXPECT_EQ(selected("trackpadButton"), 0);
    EXPECT_EQ(selected("trackpadTap"), 6);
    EXPECT_FALSE(itemEnabled("trackpadButton", 1));
    choose("trackpadButton", 1);
    EXPECT_EQ(stored("Button"), Value::dictionary({{"Action", 1}}));
    // Tap clicks: drag lock is offered, and taking it forbids "nothing" and
    // "acts as the button".
    choose("trackpadTap", 2);
    choose("trackpadButton", 1);
    EXPECT_EQ(stored("Button"), Value::dictionary({{"Action", 2}}));
    EXPECT_FALSE(itemEnabled("trackpadTap", 0));
    EXPECT_FALSE(itemEnabled("trackpadTap", 6));
    choose("trackpadTap", 6);
    EXPECT_EQ(stored("Tap"), Value::dictionary({{"Action", 1}, {"Gesture", 0}}));
    EXPECT_EQ(driverHolds("Button"), Value::dictionary({{"Action", 2}}));
}

TEST_F(ArvelPrefSettings, CornersStoreTheirModifierAndKeyBitsForTheDefaultsOrTheSelectedApplication)
{
    show();
    choose("nwCornerAction", 2);
    click("nwCornerActionMouseActionCmd");
    click("nwCornerActionMouseActionShift");
    EXPECT_EQ(stored("NWCorner"), Value::dictionary({{"Action", 1}, {"Data", 0x10000 | 0x80000}}));
    EXPECT_EQ(tab("nwCornerActionTabs"), 1);
    choose("seCornerAction", 9);
    chooseKeycap("se", "Space");
    click("seCornerActionKeyActionOpt");
    EXPECT_EQ(stored("SECorner"), Value::dictionary({{"Action", 7}, {"Data", 0x20000 | 49}}));
    EXPECT_EQ(driverHolds("SECorner"), Value::dictionary({{"Action", 7}, {"Data", 0x20000 | 49}}));
    slide("cornerSize", 20);
    EXPECT_EQ(stored("CornerSize"), Value(20));
}

TEST_F(ArvelPrefSettings, ACornerKeyWithNoKeycapFallsBackToNoActionAndIsSaved)
{
    // 0x7F has no keycap in this keyboard's table.
    show(Value::dictionary({{"NECorner", Value::dictionary({{"Action", 7}, {"Data", 0x10000 | 0x7F}})},
        {"SWCorner", Value::dictionary({{"Action", 42}})}}));
    EXPECT_EQ(selected("neCornerAction"), 0);
    EXPECT_EQ(tab("neCornerActionTabs"), 0);
    EXPECT_EQ(stored("NECorner"), Value::dictionary({{"Action", 0}}));
    EXPECT_EQ(selected("swCornerAction"), 0);
}

TEST_F(ArvelPrefSettings, ScrollScaleMirrorsAndAnEdgeTurnedOffGreysItsControls)
{
    show(Value::dictionary({{"VerticalScrollEdge", 1}, {"HorizontalScrollScale", 25}}));
    EXPECT_EQ(sliderValue("hScrollScale"), 0);
    slide("vScrollScale", 5);
    EXPECT_EQ(stored("VerticalScrollScale"), Value(20));
    EXPECT_FALSE(isEnabled("hScrollEdgeSize"));
    EXPECT_EQ(textColour("hScrollScaleFastLabel"), TextColour::LightGrey);
    EXPECT_TRUE(isEnabled("scrollKeepMoving"));
    choose("vScrollEdgeMode", 0);
    for (const char* control : {"vScrollEdgeSize", "vScrollInvert", "vScrollScale", "scrollKeepMoving"})
        EXPECT_FALSE(isEnabled(control)) << control;
    EXPECT_EQ(textColour("vScrollEdgeSizeSmallerLabel"), TextColour::LightGrey);
    choose("hScrollEdgeMode", 2);
    EXPECT_TRUE(isEnabled("scrollKeepMoving"));
    EXPECT_TRUE(isEnabled("hScrollInvert"));
    EXPECT_EQ(textColour("hScrollScaleFastLabel"), TextColour::Black);
}

TEST_F(ArvelPrefSettings, IgnoreWhileTypingEnablesItsGroupAndAdvancedReachesBothStores)
{
    show();
    EXPECT_FALSE(isEnabled("ignoreWhileTypingMS"));
    EXPECT_EQ(textColour("ignoreWhileTypingMSMaxLabel"), TextColour::LightGrey);
    click("ignoreWhileTyping");
    EXPECT_TRUE(isEnabled("ignoreWhileTypingEdgeFilter"));
    slide("ignoreWhileTypingMS", 900);
    EXPECT_EQ(stored("IgnoreWhileTypingMS"), Value(900));
    click("accelerationOptionCell2");
    EXPECT_EQ(stored("AccelerationCurve"), Value(2));
    EXPECT_EQ(world.machine().hidSystem().acceleration("HIDTrackpadAcceleration"), 0.5);
    click("loginwindowTap");
    EXPECT_EQ(world.readSystemSettings()["LoginWindowTap"], Value(true));
}

TEST_F(ArvelPrefSettings, ShowingPostsFivePrefChangesAndADisabledPaneStoresButPushesNothing)
{
    show();
    EXPECT_EQ(prefChanges, 5);
    const std::size_t pushes = world.machine().hidSystem().propertiesWrites();
    world.unloadDriver();
    world.runFor(0);
    hidePane();
    showPane();
    ASSERT_TRUE(pane->disabled());
    EXPECT_EQ(prefChanges, 10);
    pane->updateUserScrollPrefs(nullptr);
    qobject_cast<QAbstractButton*>(outlet("scrollKeepMoving"))->setChecked(true);
    pane->updateUserScrollPrefs(outlet("scrollKeepMoving"));
    EXPECT_EQ(stored("ScrollKeepMoving"), Value(true));
    EXPECT_EQ(world.machine().hidSystem().propertiesWrites(), pushes);
}

// The machine's operator works the pane as a person: what a person can do
// is done, the rest refused with why.
TEST_F(ArvelPrefSettings, TheOperatorWorksControlsAsAPersonAndIsToldWhatAPersonCouldNotDo)
{
    show(Value::dictionary({{"Button", Value::dictionary({{"Action", 2}})}, {"Tap", Value::dictionary({{"Action", 1}, {"Gesture", 0}})}}));
    auto& shown = world.machine().windows();
    const std::uint64_t paneWindow = shown.shown().front().id;
    auto operate = [&](const std::string& operation, const std::string& control, const std::string& value = {}) {
        machine::Windows::PressResult result {};
        const std::uint64_t serial = shown.operate(paneWindow, operation, control, value, &result);
        world.runFor(0);
        return shown.answerTo(serial).value_or("no answer");
    };
    EXPECT_EQ(operate("choose", "trackpadTap", "Acts as the button"), "the item \"Acts as the button\" of \"trackpadTap\" is disabled");
    EXPECT_EQ(operate("slide", "trackSpeed", "8"), "\"8\" is not a value of \"trackSpeed\" (0 to 7)");
    EXPECT_EQ(operate("click", "loginwindowTap"), "\"loginwindowTap\" is not shown");
    EXPECT_EQ(operate("click", "Keep the pointer moving at the trackpad edge"), "done");
    EXPECT_EQ(stored("MouseKeepMoving"), Value(true));
    EXPECT_EQ(operate("slide", "trackSpeed", "0"), "done");
    EXPECT_EQ(global("com.apple.trackpad.scaling"), Value(0.0));
    EXPECT_EQ(operate("choose", "mainPrefTabs", "Advanced"), "done");
    // Calibrate… brings up its sheet: answered at once, and the window under
    // it takes nothing until the sheet is answered.
    at(0.05, [&] {
        EXPECT_EQ(operate("click", "loginwindowTap"), "\"loginwindowTap\" is under \"Calibrate the trackpad\"");
        press("Cancel");
    });
    EXPECT_EQ(operate("click", "Calibrate…"), "done");
    EXPECT_EQ(operate("click", "nowhere"), "no control \"nowhere\" in this window");
}

} // namespace
