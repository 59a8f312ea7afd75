// The pane's life as the host drives it: what it connects to, when it
// greys itself, the sheets it shows and how they end, what hiding lets go.
#include "PaneFixture.h"

#include "Foundation/PropertyList.h"
#include "Paths/DiskRoot.h"

#include <QComboBox>

#include <filesystem>
#include <fstream>

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

const Value kStoredCalibration = Value::dictionary({{"MinX", 120}, {"MinY", 96}, {"MaxX", 2880}, {"MaxY", 2304}});

class ArvelPrefLifecycle : public PaneTest {
protected:
    void calibrated() { world.writeSystemSettings(Value::dictionary({{"PrefsVersion", 4}, {"Calibration", kStoredCalibration}})); }
    bool driverCalibrating() { return world.driver().calibrationMode(); }
    // Nothing on the machine's screen but the pane's window.
    bool onlyTheWindow()
    {
        std::string shown = windows();
        return shown.rfind("window 1 of pid " + std::to_string(paneProcess) + ": \"Arvel\"", 0) == 0 && shown.find("\n") == shown.size() - 1;
    }
    Value aliceSetting(const std::string& key)
    {
        return readPropertyList(hostPath("/Users/alice/Library/Preferences/com.tessmoor.Arvel.plist")).value[key];
    }
};

TEST_F(ArvelPrefLifecycle, WithoutTheDaemonGreysEverythingAndSaysTheDaemonIsNotAvailable)
{
    loadPane();
    showPane();
    EXPECT_THAT(paneLines(), ElementsAre("ArvelPref unable to obtain NSDistantObject for driver configuration access.",
                                 "ArvelPref unable to obtain NSDistantObject for system defaults access."));
    EXPECT_TRUE(pane->disabled());
    for (const char* control : {"trackSpeed", "applicationSetAdd", "reCalibrate", "loginwindowTap", "accelerationOption", "moveToDefaultButton",
             "seCornerActionKeyActionKeycap", "nwCornerActionMouseActionShift"})
        EXPECT_FALSE(isEnabled(control)) << control;
    for (const char* caption : {"trackSpeedLabel", "calibrationLabel", "seCornerActionLabel", "loginwindowLabel"})
        EXPECT_EQ(textColour(caption), TextColour::LightGrey) << caption;
    // A tab view is no control: the enabling pass leaves it alone.
    EXPECT_TRUE(isEnabled("nwCornerActionTabs"));
    EXPECT_EQ(text("minXDisplay"), "");
    EXPECT_THAT(windows(), HasSubstr("  alert 2 on window 1: \"Arvel daemon not available\" \"The Arvel driver control daemon is not "
                                     "available.\\nPlease restart your computer to load the daemon.\" [OK]\n"));
    press("OK");
    EXPECT_TRUE(onlyTheWindow());
}

TEST_F(ArvelPrefLifecycle, WithTheDriverUnloadedIsConnectedButDisabledAndSaysSo)
{
    calibrated();
    startDaemon();
    world.unloadDriver();
    world.runFor(0);
    loadPane();
    showPane();
    EXPECT_THAT(paneLines(), IsEmpty());
    EXPECT_TRUE(pane->disabled());
    EXPECT_TRUE(pane->connected());
    EXPECT_FALSE(isEnabled("trackSpeed"));
    EXPECT_THAT(windows(), HasSubstr("alert 2 on window 1: \"Arvel driver not loaded\" \"The Arvel driver is not loaded.\\nPlease restart "
                                     "your computer to load the driver.\" [OK]"));
}

TEST_F(ArvelPrefLifecycle, UsableShowsTheVersionTheCalibrationAndBlackEnabledControls)
{
    calibrated();
    startDaemon();
    world.setSystemVersion(0x1039);
    loadPane();
    showPane();
    EXPECT_THAT(paneLines(), IsEmpty());
    EXPECT_FALSE(pane->disabled());
    EXPECT_EQ(text("versionDisplay"), "Arvel 1.0, the trackpad's own settings");
    for (const char* control : {"trackSpeed", "reCalibrate", "accelerationOption", "moveToDefaultButton", "nwCornerActionKeyActionKeycap"})
        EXPECT_TRUE(isEnabled(control)) << control;
    EXPECT_EQ(textColour("tapThresholdMaxLabel"), TextColour::Black);
    EXPECT_EQ(text("minXDisplay") + " " + text("minYDisplay") + " " + text("maxXDisplay") + " " + text("maxYDisplay"), "120 96 2880 2304");
    EXPECT_TRUE(onlyTheWindow());
}

TEST_F(ArvelPrefLifecycle, LoadingBuildsTheKeycapPopUpsGroupsAndHandEnabledPopUps)
{
    loadPane();
    auto* keycaps = qobject_cast<QComboBox*>(outlet("swCornerActionKeyActionKeycap"));
    ASSERT_EQ(keycaps->count(), 4);
    EXPECT_EQ(keycaps->itemText(0).toStdString(), "a");
    EXPECT_EQ(pane->keycaps()["Space"], Value(49));
    EXPECT_EQ(pane->keycodes()["122"], Value("F1"));
    EXPECT_FALSE(autoenablesItems(qobject_cast<QComboBox*>(outlet("applicationSet"))));
    EXPECT_TRUE(autoenablesItems(qobject_cast<QComboBox*>(outlet("vScrollEdgeMode"))));
    const auto& group = pane->controlGroup("ne");
    ASSERT_EQ(group.size(), 11u);
    EXPECT_EQ(group.at("CornerGroupTab"), outlet("neCornerActionTabs"));
    EXPECT_EQ(group.at("CornerGroupKeyActionKeycap"), outlet("neCornerActionKeyActionKeycap"));
}

TEST_F(ArvelPrefLifecycle, WithoutAKeycapTableTheUsablePaneIsDisabled)
{
    writeBundle(false);
    calibrated();
    startDaemon();
    loadPane();
    showPane();
    EXPECT_THAT(paneLines(), ElementsAre("ArvelPref did not localized keymap data.",
                                 "ArvelPref unable to obtain to generate the keycap/keycode map."));
    EXPECT_TRUE(pane->disabled());
    EXPECT_EQ(qobject_cast<QComboBox*>(outlet("nwCornerActionKeyActionKeycap"))->count(), 1);
    // Only the daemon's absence and the driver's have a sheet.
    EXPECT_THAT(windows(), Not(HasSubstr("alert")));
}

TEST_F(ArvelPrefLifecycle, OnJaguarMoveToDefaultButtonStaysOffEvenWithAssistiveAccess)
{
    calibrated();
    startDaemon();
    world.setSystemVersion(0x1028);
    world.setAccessibility(true);
    loadPane();
    showPane();
    EXPECT_FALSE(pane->pantherOrLater());
    EXPECT_TRUE(isEnabled("trackSpeed"));
    EXPECT_FALSE(isEnabled("moveToDefaultButton"));
}

TEST_F(ArvelPrefLifecycle, WithoutACalibrationTheSheetOpensAndItsTimerFillsTheFieldsWhileItIsUp)
{
    startDaemon();
    loadPane();
    at(0.05, [&] {
        EXPECT_TRUE(driverCalibrating());
        EXPECT_EQ(text("calibratePanelMinXDisplay"), "");
        EXPECT_FALSE(isEnabled("calibratePanelOK"));
        world.touch(120, 100);
        world.touch(420, 351);
    });
    at(0.15, [&] {
        // MaxX 420 is exactly 300 past MinX: not yet.
        EXPECT_EQ(text("calibratePanelMaxXDisplay"), "420");
        EXPECT_EQ(textColour("calibratePanelMaxXDisplay"), TextColour::Red);
        EXPECT_EQ(textColour("calibratePanelMaxYDisplay"), TextColour::Black);
        EXPECT_FALSE(isEnabled("calibratePanelOK"));
        world.touch(421, 351);
    });
    at(0.25, [&] {
        EXPECT_EQ(textColour("calibratePanelMinXDisplay"), TextColour::Black);
        EXPECT_THAT(windows(), HasSubstr("  sheet 2 on window 1: \"Calibrate the trackpad\" [Start Over] [Cancel] [OK]"));
        press("OK");
    });
    showPane();
    EXPECT_FALSE(driverCalibrating());
    EXPECT_EQ(world.readSystemSettings()["Calibration"], Value::dictionary({{"MinX", 120}, {"MinY", 100}, {"MaxX", 421}, {"MaxY", 351}}));
    EXPECT_TRUE(onlyTheWindow());
}

TEST_F(ArvelPrefLifecycle, HidingWhileCalibratingTurnsCalibrationModeOff)
{
    startDaemon();
    loadPane();
    at(0.2, [&] {
        ASSERT_TRUE(driverCalibrating());
        hidePane();
        EXPECT_FALSE(driverCalibrating());
        EXPECT_FALSE(pane->connected());
        press("Cancel");
    });
    showPane();
    EXPECT_FALSE(driverCalibrating());
    EXPECT_TRUE(world.readSystemSettings()["Calibration"].isNil());
}

TEST_F(ArvelPrefLifecycle, TheAssistiveAccessWarningOpensUniversalAccessAndRemembersNotToWarn)
{
    calibrated();
    startDaemon();
    world.setAccessibility(false);
    std::string problem;
    ASSERT_TRUE(world.machine().opener().layOutSystemPanes(&problem)) << problem;
    std::filesystem::create_directories(hostPath("/Applications/System Preferences.app/Contents/MacOS"));
    std::ofstream(hostPath("/Applications/System Preferences.app/Contents/MacOS/System Preferences")) << "";
    std::ofstream(hostPath("/Applications/System Preferences.app/Contents/Info.plist"))
        << "<plist><dict><key>CFBundleExecutable</key><string>System Preferences</string></dict></plist>";
    loadPane();
    at(0.1, [&] {
        EXPECT_THAT(windows(), HasSubstr("sheet 2 on window 1: \"Access for assistive devices is off\" [Ignore] [Universal Access…]"));
        EXPECT_FALSE(isEnabled("moveToDefaultButton"));
        click("accessibilityWarnPanelNoWarn");
        press("Universal Access…");
    });
    showPane();
    EXPECT_EQ(aliceSetting("AccessNoWarn"), Value(true));
    bool opened = false;
    for (const auto& line : world.machine().systemLog().lines())
        opened = opened
            || line.message.starts_with(
                "opened \"/Applications/System Preferences.app\" with \"/System/Library/PreferencePanes/UniversalAccessPref.prefPane\" as UID 501");
    EXPECT_TRUE(opened);
    // Never again, even with access still off.
    hidePane();
    showPane();
    EXPECT_TRUE(onlyTheWindow());
}

TEST_F(ArvelPrefLifecycle, IgnoringTheWarningOpensNothingAndWarnsAgainNextTime)
{
    calibrated();
    startDaemon();
    world.setAccessibility(false);
    loadPane();
    at(0.1, [&] { press("Ignore"); });
    showPane();
    EXPECT_EQ(aliceSetting("AccessNoWarn"), Value(false));
    for (const auto& line : world.machine().systemLog().lines())
        EXPECT_THAT(line.message, Not(HasSubstr("/usr/bin/open")));
    hidePane();
    at(0.1, [&] {
        EXPECT_THAT(windows(), HasSubstr("Access for assistive devices is off"));
        press("Ignore");
    });
    showPane();
}

} // namespace
