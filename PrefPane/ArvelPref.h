// ArvelPref: the preference pane's principal class, the controller behind
// every control of the pane.
//
// Its life, as the preferences host drives it: mainViewDidLoad once (the
// version line, the keycap tables and pop-ups, the pop-ups whose items are
// enabled by hand, the system version, the corner control groups); each
// time the pane is shown willSelect (connects to the daemon, decides
// whether the pane can work, enables or greys every control, loads every
// value, makes sure the agent runs) and didSelect (explains a missing
// daemon or driver, calibrates a machine that never was, warns once when
// access for assistive devices is off); each time it is hidden didUnselect
// (the driver leaves calibration mode, the connections and stores go).
//
// The pane keeps no settings of its own: the user's (a fresh
// ArvelUserDefaults per showing), the machine's (the daemon's system
// defaults) and the HID system's parameters (ArvelHIDAccess).
#pragma once

#include "AppKitGUI/NSPreferencePane.h"
#include "Common/ArvelActionPairs.h"
#include "Foundation/Value.h"

#include <map>
#include <memory>
#include <string>

class ArvelDriverAccessProxy;
class ArvelHIDAccess;
class ArvelSystemDefaultsProxy;
class ArvelUserDefaults;
class NSOpenPanel;
class QComboBox;
class QDialog;
class QWidget;
class Timer;

namespace Ui {
class ArvelPrefView;
class calibrationPanel;
class accessibilityWarnPanel;
} // namespace Ui

class ArvelPref final : public NSPreferencePane {
public:
    // A corner's controls by the fixed keys ("CornerGroupAction", ...).
    using ControlGroup = std::map<std::string, QWidget*>;

    explicit ArvelPref(std::shared_ptr<NSBundle> bundle);
    ~ArvelPref() override;

    void mainViewDidLoad() override;
    void willSelect() override;
    void didSelect() override;
    void didUnselect() override;

    // Action of both buttons of the accessibility warning sheet.
    void endAccessibilityWarning(QWidget* sender);

    // ---- the settings controls: each stores the sender's value (nil
    // sender: none) and shows its group again
    void updateUserTrackpadPrefs(QWidget* sender);
    void updateUserScrollPrefs(QWidget* sender);
    void updateUserCornerPrefs(QWidget* sender);
    void updateUserAccuracyPrefs(QWidget* sender);
    void updateUserAdvancedPrefs(QWidget* sender);
    // ---- application sets
    void addApplicationSet(QWidget* sender);
    void applicationSelectPanelDidEnd(NSOpenPanel* panel, int returnCode);
    void removeApplicationSet(QWidget* sender);
    void buildApplicationSetMenuWithSelectionID(const Value& selectionID);
    // Orders two application IDs by their sets' stored names.
    static int appKeySort(const std::string& first, const std::string& second, const ArvelUserDefaults& userDefaults);
    // ---- calibration
    void updateCalibration(QWidget* sender);
    void endCalibration(QWidget* sender);
    void resetCalibrationPanel(QWidget* sender);
    void refreshCalibrationPanel();
    void updateToDefaultCalibration(QWidget* sender);
    void refreshCalibrationDisplay();

    // ---- the value mappings between control positions and settings
    static double _trackpadSpeedForIndex(int index);
    static int _trackpadSpeedIndexForSpeed(double speed);
    static double _doubleClickSpeedForIndex(int index);
    static int _doubleClickSpeedIndexForSpeed(double seconds);
    static std::int32_t _trackpadButtonActionForIndex(int index);
    static int _trackpadButtonIndexForAction(std::int32_t action);
    static ArvelTapActionAndGesture _trackpadTapActionAndGestureForIndex(int index);
    static int _trackpadTapIndexForActionAndGesture(const ArvelTapActionAndGesture& pair);
    static std::int32_t _cornerActionForIndex(int index);
    static int _cornerActionIndexForAction(std::int32_t action);

    // ---- what the tests look at
    bool disabled() const { return disablePref; }
    bool pantherOrLater() const { return isPantherOrLater; }
    const ControlGroup& controlGroup(const std::string& corner) const;
    const Value& keycaps() const { return keycapMap; }
    const Value& keycodes() const { return keycodeMap; }
    bool connected() const { return driverAccess || systemDefaults || hidAccess || userDefaults; }
    QDialog* calibrationSheet() const { return calibrationPanel; }
    QDialog* accessibilityWarningSheet() const { return accessibilityWarnPanel; }

protected:
    QWidget* assignMainView() override;

private:
    ArvelCornerActionAndData _cornerActionAndDataForControlGroup(const ControlGroup& group) const;
    bool _updateCornerControlGroupForActionAndData(const ControlGroup& group, const ArvelCornerActionAndData& pair);
    // Save, notify and push, the last steps of every update.
    bool _saveNotifyAndPush(bool systemDefaultsToo);
    void _generateKeycaps();
    void _enableControls();
    ControlGroup _makeControlGroup(const std::string& corner);
    std::string _localized(const std::string& english) const;

    // State, in the order the pane declares it.
    bool disablePref = false;
    bool isPantherOrLater = false;
    std::shared_ptr<ArvelDriverAccessProxy> driverAccess;
    std::shared_ptr<ArvelSystemDefaultsProxy> systemDefaults;
    std::shared_ptr<ArvelHIDAccess> hidAccess;
    std::shared_ptr<ArvelUserDefaults> userDefaults;
    Value keycapMap;
    Value keycodeMap;
    ControlGroup nwControlGroup;
    ControlGroup neControlGroup;
    ControlGroup swControlGroup;
    ControlGroup seControlGroup;

    // Outlets: the interface files' widgets by their object names.
    std::unique_ptr<Ui::ArvelPrefView> ui;
    std::unique_ptr<Ui::calibrationPanel> calibrationUi;
    std::unique_ptr<Ui::accessibilityWarnPanel> warningUi;
    QDialog* calibrationPanel = nullptr;
    QDialog* accessibilityWarnPanel = nullptr;

    bool accessibilityEnabled_ = false;
    std::shared_ptr<Timer> calibrationTimer_;
};
