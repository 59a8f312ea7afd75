// Pictures of the pane for the README: each tab of a usable pane, and the
// pane with each of its sheets up (the daemon missing, the calibration, the
// warning about assistive access), drawn offscreen in fixed fonts and a
// fixed style so that they come out the same on every machine. A sheet is
// drawn where it sits, hanging from the top of the pane's window.
//
// Run by scripts/screenshots, which names the folder the pictures go to
// (ARVEL_SCREENSHOT_FOLDER). Each picture is also a check: the state it
// shows must be the one it is named for.
#include "PaneFixture.h"

#include "AppKitGUI/WindowReporter.h"
#include "support/Screenshots.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDialog>
#include <QComboBox>
#include <QImage>
#include <QPainter>
#include <QTabWidget>

#include <filesystem>

using ::testing::HasSubstr;

namespace {

class PaneScreenshots : public PaneTest {
protected:
    PaneScreenshots() { screenshots::useFixedLook(); }

    void calibrated()
    {
        world.writeSystemSettings(Value::dictionary(
            {{"PrefsVersion", 4}, {"Calibration", Value::dictionary({{"MinX", 120}, {"MinY", 96}, {"MaxX", 2880}, {"MaxY", 2304}})}}));
    }

    // The pane's window, and the sheet on it when there is one.
    void save(const std::string& name, QWidget* sheet = nullptr)
    {
        screenshots::save(name, screenshots::windowWithSheet(window.get(), sheet));
    }

    // The alert the layer shows on the pane's window.
    QWidget* alert()
    {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->isVisible() && widget->property(WindowReporter::kKindProperty).toString() == QStringLiteral("alert"))
                return widget;
        for (QWidget* widget : window->findChildren<QWidget*>())
            if (widget->isVisible() && widget->isWindow() && widget->property(WindowReporter::kKindProperty).toString() == QStringLiteral("alert"))
                return widget;
        return nullptr;
    }
};

// Settings as someone who has used the pane leaves them: every tab shows
// values of its own, not the interface file's.
const Value kAliceSettings = Value::dictionary({{"PrefsVersion", 4}, {"Button", Value::dictionary({{"Action", 2}})},
    {"Tap", Value::dictionary({{"Action", 1}, {"Gesture", 1}})}, {"MouseKeepMoving", true}, {"MoveToDefaultButton", true},
    {"VerticalScrollEdge", 1}, {"VerticalScrollEdgeSize", 12}, {"VerticalScrollScale", 10}, {"HorizontalScrollEdge", 0},
    {"ScrollKeepMoving", true}, {"NWCorner", Value::dictionary({{"Action", 1}, {"Data", 0x10000 | 0x80000}})},
    {"NECorner", Value::dictionary({{"Action", 7}, {"Data", 0x20000 | 49}})}, {"SWCorner", Value::dictionary({{"Action", 3}})},
    {"SECorner", Value::dictionary({{"Action", 6}})}, {"CornerSize", 18}, {"IgnoreWhileTyping", true}, {"IgnoreWhileTypingMS", 800},
    {"ConvertOffAxis", true}, {"TapThreshold", 24}, {"AccelerationCurve", 1},
    {"ApplicationSet", Value::dictionary({{"com.apple.Safari", Value::dictionary({{"ApplicationName", "Safari.app"}})},
                           {"com.apple.mail", Value::dictionary({{"ApplicationName", "Mail.app"}})},
                           {"'ABCD'Old.app", Value::dictionary({{"ApplicationName", "Old.app"}})}})}});

TEST_F(PaneScreenshots, EachTabOfTheUsablePane)
{
    calibrated();
    world.writeUserSettings("alice", kAliceSettings);
    world.writeUserGlobalPreferences("alice", Value::dictionary({{"com.apple.trackpad.scaling", 0.875}, {"com.apple.mouse.doubleClickThreshold", 0.8}}));
    startDaemon();
    world.setSystemVersion(0x1039);
    world.setAccessibility(true);
    loadPane();
    showPane();
    ASSERT_FALSE(pane->disabled());
    auto* tabs = qobject_cast<QTabWidget*>(outlet("mainPrefTabs"));
    ASSERT_NE(tabs, nullptr);
    for (int tab = 0; tab < tabs->count(); ++tab) {
        tabs->setCurrentIndex(tab);
        save("pane-" + tabs->tabText(tab).toLower().replace(QLatin1Char(' '), QLatin1Char('-')).toStdString());
    }
    tabs->setCurrentIndex(0);
}

TEST_F(PaneScreenshots, TheApplicationSetPopUp)
{
    calibrated();
    world.writeUserSettings("alice", kAliceSettings);
    startDaemon();
    world.setAccessibility(true);
    loadPane();
    showPane();
    qobject_cast<QTabWidget*>(outlet("mainPrefTabs"))->setCurrentIndex(2);
    auto* popUp = qobject_cast<QComboBox*>(outlet("applicationSet"));
    choose("applicationSet", 4);
    ASSERT_EQ(popUp->currentText().toStdString(), "Safari");
    // The list as it drops from the pop-up, drawn where it opens.
    popUp->showPopup();
    QWidget* list = popUp->view()->window();
    QImage image = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QPainter painter(&image);
    QPoint at = popUp->mapTo(window.get(), QPoint(0, popUp->height()));
    painter.drawPixmap(at, list->grab());
    painter.setPen(QColor(130, 130, 130));
    painter.drawRect(QRect(at, list->size() - QSize(1, 1)));
    painter.end();
    popUp->hidePopup();
    screenshots::save("pane-application-sets", image);
}

TEST_F(PaneScreenshots, TheDaemonIsNotAvailable)
{
    loadPane();
    at(0.1, [&] {
        EXPECT_THAT(windows(), HasSubstr("\"Arvel daemon not available\""));
        QWidget* shown = alert();
        ASSERT_NE(shown, nullptr);
        save("pane-daemon-not-available", shown);
        press("OK");
    });
    showPane();
    world.runFor(0.2);
}

TEST_F(PaneScreenshots, TheCalibrationSheetHalfwayThrough)
{
    world.writeUserSettings("alice", kAliceSettings);
    startDaemon();
    world.setAccessibility(true);
    loadPane();
    at(0.05, [&] {
        world.touch(120, 100);
        world.touch(400, 1900);
    });
    at(0.25, [&] {
        // Max X not yet far enough from Min X: red, and OK waits for it.
        EXPECT_EQ(textColour("calibratePanelMaxXDisplay"), TextColour::Red);
        EXPECT_EQ(textColour("calibratePanelMaxYDisplay"), TextColour::Black);
        EXPECT_FALSE(isEnabled("calibratePanelOK"));
        save("pane-calibration", pane->calibrationSheet());
        press("Cancel");
    });
    showPane();
}

TEST_F(PaneScreenshots, TheAssistiveAccessWarning)
{
    calibrated();
    startDaemon();
    world.setSystemVersion(0x1039);
    world.setAccessibility(false);
    loadPane();
    at(0.1, [&] {
        EXPECT_THAT(windows(), HasSubstr("\"Access for assistive devices is off\""));
        save("pane-assistive-access-warning", pane->accessibilityWarningSheet());
        press("Ignore");
    });
    showPane();
}

} // namespace
