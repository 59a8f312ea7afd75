#include "PrefPane/ArvelPref.h"

#include "AppKitGUI/Alerts.h"
#include "AppKitGUI/Controls.h"
#include "AppKitGUI/GUIApplication.h"
#include "Accessibility/AXUIElement.h"
#include "Carbon/Gestalt.h"
#include "Common/ArvelDriverAccessProxy.h"
#include "Common/ArvelHIDAccess.h"
#include "Common/ArvelNotifications.h"
#include "Common/ArvelSystemDefaultsProxy.h"
#include "Common/ArvelUserDefaults.h"
#include "AppKitGUI/NSOpenPanel.h"
#include "Foundation/FileManager.h"
#include "Foundation/Format.h"
#include "Foundation/NSBundle.h"
#include "Foundation/Task.h"
#include "Log/Log.h"
#include "MachineSettings/MachineSettings.h"
#include "Notifications/DistributedNotificationCenter.h"
#include "Paths/DiskRoot.h"
#include "Common/ArvelAgentManagement.h"
#include "PrefPane/ArvelKeycaps.h"
#include "RunLoop/RunLoop.h"

#include "ui_AccessibilityWarnPanel.h"
#include "ui_ArvelPref.h"
#include "ui_CalibrationPanel.h"

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSlider>
#include <QTabWidget>

#include <fstream>
#include <sstream>

ARVEL_PREFERENCE_PANE_CLASS(ArvelPref);

namespace {

// Above this the system is 10.3 or later.
constexpr SInt32 kJaguarLastVersion = 0x102F;

// Observed geometry not seen yet on an axis.
constexpr std::uint32_t kUnseenMinimum = 3000;
constexpr std::uint32_t kUnseenMaximum = 1;
// A covered range must be wider than this.
constexpr std::uint32_t kGoodXRange = 300;
constexpr std::uint32_t kGoodYRange = 250;

// The creator code of an application that has none ('????', spelled so that
// no trigraph is read).
constexpr const char* kUnknownCreator = "'?\?\?\?'";

// The scroll scale sliders run the other way from the stored scale.
constexpr int kScaleMirror = 25;

constexpr const char* kUniversalAccessPane = "/System/Library/PreferencePanes/UniversalAccessPref.prefPane";

// The pop-ups whose items the settings controls enable one by one.
constexpr const char* kHandEnabledPopUps[] = {"trackpadButton", "trackpadTap", "applicationSet", "nwCornerAction", "neCornerAction",
    "swCornerAction", "seCornerAction", "nwCornerActionKeyActionKeycap", "neCornerActionKeyActionKeycap", "swCornerActionKeyActionKeycap",
    "seCornerActionKeyActionKeycap"};
constexpr const char* kKeycapPopUps[] = {
    "nwCornerActionKeyActionKeycap", "neCornerActionKeyActionKeycap", "swCornerActionKeyActionKeycap", "seCornerActionKeyActionKeycap"};

// Black while the pane works, light grey while it cannot.
constexpr const char* kCaptions[] = {"trackSpeedLabel", "trackSpeedSlowLabel", "trackSpeedFastLabel", "doubleClickSpeedLabel",
    "doubleClickSpeedSlowLabel", "doubleClickSpeedFastLabel", "trackpadButtonLabel", "trackpadTapLabel", "trackpadButtonTapWarningLabel",
    "vScrollEdgeLabel", "vScrollEdgeSizeSmallerLabel", "vScrollEdgeSizeLargerLabel", "hScrollEdgeLabel", "hScrollEdgeSizeSmallerLabel",
    "hScrollEdgeSizeLargerLabel", "vScrollScaleLabel", "vScrollScaleSlowLabel", "vScrollScaleFastLabel", "hScrollScaleLabel",
    "hScrollScaleSlowLabel", "hScrollScaleFastLabel", "nwCornerActionLabel", "neCornerActionLabel", "swCornerActionLabel",
    "seCornerActionLabel", "cornerSizeLabel", "cornerSizeSmallerLabel", "cornerSizeLargerLabel", "calibrationLabel",
    "ignoreWhileTypingMSLabel", "ignoreWhileTypingMSMinLabel", "ignoreWhileTypingMSMaxLabel", "tapThresholdLabel", "tapThresholdMinLabel",
    "tapThresholdMaxLabel", "accelerationLabel", "loginwindowLabel"};
// Enabled exactly while the pane works (the corner groups' controls too).
constexpr const char* kControls[] = {"trackSpeed", "doubleClickSpeed", "doubleClickTest", "trackpadButton", "trackpadTap", "mouseKeepMoving",
    "vScrollEdgeMode", "vScrollEdgeSize", "vScrollInvert", "hScrollEdgeMode", "hScrollEdgeSize", "hScrollInvert", "vScrollScale",
    "hScrollScale", "scrollKeepMoving", "applicationSet", "applicationSetAdd", "applicationSetRemove", "cornerSize", "reCalibrate",
    "useDefaultCalibration", "ignoreWhileTyping", "ignoreWhileExternalMouse", "ignoreWhileTypingMS", "ignoreWhileTypingMotionOverride",
    "ignoreWhileTypingEdgeFilter", "scrollTapIgnore", "convertOffAxis", "tapThreshold", "accelerationOption", "loginwindowTap"};

// The eleven keys of a corner control group and the controls' suffixes.
constexpr std::pair<const char*, const char*> kCornerGroupKeys[] = {{"CornerGroupAction", "CornerAction"},
    {"CornerGroupTab", "CornerActionTabs"}, {"CornerGroupMouseActionCmd", "CornerActionMouseActionCmd"},
    {"CornerGroupMouseActionOpt", "CornerActionMouseActionOpt"}, {"CornerGroupMouseActionCtrl", "CornerActionMouseActionCtrl"},
    {"CornerGroupMouseActionShift", "CornerActionMouseActionShift"}, {"CornerGroupKeyActionCmd", "CornerActionKeyActionCmd"},
    {"CornerGroupKeyActionOpt", "CornerActionKeyActionOpt"}, {"CornerGroupKeyActionCtrl", "CornerActionKeyActionCtrl"},
    {"CornerGroupKeyActionShift", "CornerActionKeyActionShift"}, {"CornerGroupKeyActionKeycap", "CornerActionKeyActionKeycap"}};

std::uint32_t geometryValue(const Value& geometry, const char* key)
{
    return static_cast<std::uint32_t>(geometry[key].integerOr(0));
}

QString unsignedText(std::uint32_t value)
{
    return QString::fromStdString(stringWithFormat("%u", value));
}

} // namespace

ArvelPref::ArvelPref(std::shared_ptr<NSBundle> bundle) : NSPreferencePane(std::move(bundle)) {}

ArvelPref::~ArvelPref()
{
    if (calibrationTimer_)
        calibrationTimer_->invalidate();
    delete calibrationPanel;
    delete accessibilityWarnPanel;
}

QWidget* ArvelPref::assignMainView()
{
    auto* view = new QWidget;
    ui = std::make_unique<Ui::ArvelPrefView>();
    ui->setupUi(view);
    // Controls sit where the interface file puts them: the view is never
    // smaller than it was drawn, whatever window holds it.
    view->setMinimumSize(view->size());
    calibrationPanel = new QDialog;
    calibrationUi = std::make_unique<Ui::calibrationPanel>();
    calibrationUi->setupUi(calibrationPanel);
    accessibilityWarnPanel = new QDialog;
    warningUi = std::make_unique<Ui::accessibilityWarnPanel>();
    warningUi->setupUi(accessibilityWarnPanel);
    // The sheets end only through their buttons.
    for (QDialog* sheet : {calibrationPanel, accessibilityWarnPanel})
        sheet->setWindowFlag(Qt::WindowCloseButtonHint, false);

    // The interface's actions.
    auto onClick = [](QAbstractButton* button, auto action) { QObject::connect(button, &QAbstractButton::clicked, button, action); };
    onClick(warningUi->accessibilityWarnPanelOpenUAccess, [this] { endAccessibilityWarning(warningUi->accessibilityWarnPanelOpenUAccess); });
    onClick(warningUi->accessibilityWarnPanelIgnore, [this] { endAccessibilityWarning(warningUi->accessibilityWarnPanelIgnore); });
    onClick(calibrationUi->calibratePanelOK, [this] { endCalibration(calibrationUi->calibratePanelOK); });
    onClick(calibrationUi->calibratePanelCancel, [this] { endCalibration(calibrationUi->calibratePanelCancel); });
    onClick(calibrationUi->calibratePanelReset, [this] { resetCalibrationPanel(calibrationUi->calibratePanelReset); });
    onClick(ui->reCalibrate, [this] { updateCalibration(ui->reCalibrate); });
    onClick(ui->useDefaultCalibration, [this] { updateToDefaultCalibration(ui->useDefaultCalibration); });
    using Update = void (ArvelPref::*)(QWidget*);
    auto wire = [this, view](const char* name, Update update) {
        QWidget* control = view->findChild<QWidget*>(name);
        if (auto* button = qobject_cast<QAbstractButton*>(control))
            QObject::connect(button, &QAbstractButton::clicked, view, [this, update, button] { (this->*update)(button); });
        else if (auto* slider = qobject_cast<QSlider*>(control))
            QObject::connect(slider, &QSlider::valueChanged, view, [this, update, slider] {
                if (slider->isSliderDown() || slider->hasFocus())
                    (this->*update)(slider);
            });
        else if (auto* popUp = qobject_cast<QComboBox*>(control))
            QObject::connect(popUp, &QComboBox::activated, view, [this, update, popUp] { (this->*update)(popUp); });
    };
    for (const char* name : {"trackSpeed", "doubleClickSpeed", "trackpadButton", "trackpadTap", "mouseKeepMoving", "moveToDefaultButton"})
        wire(name, &ArvelPref::updateUserTrackpadPrefs);
    for (const char* name : {"vScrollEdgeMode", "vScrollEdgeSize", "vScrollInvert", "hScrollEdgeMode", "hScrollEdgeSize", "hScrollInvert",
             "vScrollScale", "hScrollScale", "scrollKeepMoving"})
        wire(name, &ArvelPref::updateUserScrollPrefs);
    for (const char* corner : {"nw", "ne", "sw", "se"})
        for (const auto& [key, suffix] : kCornerGroupKeys)
            wire((std::string(corner) + suffix).c_str(), &ArvelPref::updateUserCornerPrefs);
    wire("cornerSize", &ArvelPref::updateUserCornerPrefs);
    wire("applicationSet", &ArvelPref::updateUserCornerPrefs);
    for (const char* name : {"ignoreWhileExternalMouse", "ignoreWhileTyping", "ignoreWhileTypingMS", "ignoreWhileTypingMotionOverride",
             "ignoreWhileTypingEdgeFilter", "scrollTapIgnore", "convertOffAxis", "tapThreshold"})
        wire(name, &ArvelPref::updateUserAccuracyPrefs);
    for (QRadioButton* cell : ui->accelerationOption->findChildren<QRadioButton*>())
        QObject::connect(cell, &QRadioButton::clicked, view, [this] { updateUserAdvancedPrefs(ui->accelerationOption); });
    wire("loginwindowTap", &ArvelPref::updateUserAdvancedPrefs);
    onClick(ui->applicationSetAdd, [this] { addApplicationSet(ui->applicationSetAdd); });
    onClick(ui->applicationSetRemove, [this] { removeApplicationSet(ui->applicationSetRemove); });
    return view;
}

// ---- loaded once

void ArvelPref::mainViewDidLoad()
{
    initVerboseLoggingFromEnvironment();
    // The pane's own bundle, not the host's.
    ui->versionDisplay->setText(QString::fromStdString(bundle() ? bundle()->objectForInfoDictionaryKey("CFBundleGetInfoString").stringOr("") : ""));
    ui->mainPrefTabs->setCurrentIndex(0);
    _generateKeycaps();
    for (const char* name : kHandEnabledPopUps)
        setAutoenablesItems(mainView()->findChild<QComboBox*>(name), false);
    isPantherOrLater = false;
    SInt32 version = 0;
    if (Gestalt(gestaltSystemVersion, &version) == noErr && version > kJaguarLastVersion)
        isPantherOrLater = true;
    nwControlGroup = _makeControlGroup("nw");
    neControlGroup = _makeControlGroup("ne");
    swControlGroup = _makeControlGroup("sw");
    seControlGroup = _makeControlGroup("se");
}

ArvelPref::ControlGroup ArvelPref::_makeControlGroup(const std::string& corner)
{
    ControlGroup group;
    for (const auto& [key, suffix] : kCornerGroupKeys)
        group[key] = mainView()->findChild<QWidget*>(QString::fromStdString(corner + suffix));
    return group;
}

const ArvelPref::ControlGroup& ArvelPref::controlGroup(const std::string& corner) const
{
    return corner == "ne" ? neControlGroup : corner == "sw" ? swControlGroup : corner == "se" ? seControlGroup : nwControlGroup;
}

void ArvelPref::_generateKeycaps()
{
    keycapMap = Value();
    keycodeMap = Value();
    std::string path = bundle() ? bundle()->pathForResourceOfType("KeyCode", "plist") : std::string();
    std::optional<ArvelKeycaps> keycaps = ArvelKeycaps::keycapsFromResource(path);
    if (!keycaps)
        return;
    keycapMap = Value::dictionary();
    keycodeMap = Value::dictionary();
    for (const auto& [name, code] : keycaps->keycapMap())
        keycapMap.set(name, code);
    for (const auto& [code, name] : keycaps->keycodeMap())
        keycodeMap.set(std::to_string(code), name);
    std::vector<std::string> names = keycaps->sortedKeycaps();
    for (const char* name : kKeycapPopUps) {
        auto* popUp = mainView()->findChild<QComboBox*>(name);
        for (const std::string& title : names)
            popUp->addItem(QString::fromStdString(title));
        // The interface file's placeholder.
        popUp->removeItem(0);
    }
}

std::string ArvelPref::_localized(const std::string& english) const
{
    return bundle() ? bundle()->localizedStringForKeyValueTable(english) : english;
}

// ---- each showing

void ArvelPref::willSelect()
{
    accessibilityEnabled_ = AXAPIEnabled();
    disablePref = false;
    driverAccess = ArvelDriverAccessProxy::proxyForRegisteredName(kArvelDriverAccessName);
    if (!driverAccess) {
        disablePref = true;
        logError("ArvelPref unable to obtain NSDistantObject for driver configuration access.\n");
    }
    systemDefaults = ArvelSystemDefaultsProxy::proxyForRegisteredName(kArvelSystemDefaultsName);
    if (systemDefaults) {
        systemDefaults->syncFromDisk();
    } else {
        disablePref = true;
        logError("ArvelPref unable to obtain NSDistantObject for system defaults access.\n");
    }
    userDefaults = ArvelUserDefaults::create();
    if (!userDefaults) {
        logError("ArvelPref unable to obtain user defaults.\n");
        disablePref = true;
    }
    hidAccess = ArvelHIDAccess::create();
    if (!hidAccess) {
        logError("ArvelPref unable to obtain HID access.\n");
        disablePref = true;
    }
    if (driverAccess && !driverAccess->driverAvailable())
        disablePref = true;
    if (keycapMap.isNil() || keycodeMap.isNil()) {
        logError("ArvelPref unable to obtain to generate the keycap/keycode map.\n");
        disablePref = true;
    }
    _enableControls();
    buildApplicationSetMenuWithSelectionID(Value());
    updateUserTrackpadPrefs(nullptr);
    updateUserScrollPrefs(nullptr);
    updateUserCornerPrefs(nullptr);
    updateUserAccuracyPrefs(nullptr);
    updateUserAdvancedPrefs(nullptr);
    if (!disablePref)
        refreshCalibrationDisplay();
    // Usable or not, the agent starts at login and runs.
    addAgentToLoginItems();
    launchAgent();
}

void ArvelPref::_enableControls()
{
    const bool on = !disablePref;
    for (const char* name : kCaptions)
        setTextColour(mainView()->findChild<QWidget*>(name), on ? TextColour::Black : TextColour::LightGrey);
    for (const char* name : kControls)
        if (QWidget* control = mainView()->findChild<QWidget*>(name))
            control->setEnabled(on);
    for (const ControlGroup* group : {&nwControlGroup, &neControlGroup, &swControlGroup, &seControlGroup})
        for (const auto& [key, control] : *group)
            if (isControl(control))
                control->setEnabled(on);
    ui->moveToDefaultButton->setEnabled(on && accessibilityEnabled_ && isPantherOrLater);
}

void ArvelPref::didSelect()
{
    QWidget* window = this->window();
    if (!driverAccess || !systemDefaults) {
        NSBeginCriticalAlertSheet({_localized("Arvel daemon not available"), {}, {}, {}, window, {},
            _localized("The Arvel driver control daemon is not available.\nPlease restart your computer to load the daemon.")});
        return;
    }
    if (!driverAccess->driverAvailable()) {
        NSBeginCriticalAlertSheet({_localized("Arvel driver not loaded"), {}, {}, {}, window, {},
            _localized("The Arvel driver is not loaded.\nPlease restart your computer to load the driver.")});
        return;
    }
    // A first-time user calibrates before anything else.
    if (systemDefaults->calibration().isNil())
        updateCalibration(nullptr);
    const bool leftAlone = userDefaults && userDefaults->noAccessibilityWarn();
    if (!accessibilityEnabled_ && !leftAlone) {
        warningUi->accessibilityWarnPanelNoWarn->setChecked(leftAlone);
        auto* application = GUIApplication::shared();
        if (!application)
            return;
        application->beginSheetModalForWindow(accessibilityWarnPanel, window);
        int result = application->runModalForWindow(accessibilityWarnPanel);
        application->endSheet(accessibilityWarnPanel);
        GUIApplication::orderOut(accessibilityWarnPanel);
        if (result == 1) {
            std::optional<NSException> failure;
            NSTask::launchedTaskWithLaunchPathArguments("/usr/bin/open", {kUniversalAccessPane}, &failure);
            if (failure)
                logError("ArvelPref error: Unable to open %s: %@\n", kUniversalAccessPane, failure->reason);
        }
    }
}

void ArvelPref::endAccessibilityWarning(QWidget* sender)
{
    if (userDefaults) {
        userDefaults->setNoAccessibilityWarn(warningUi->accessibilityWarnPanelNoWarn->isChecked());
        userDefaults->syncToDisk();
    }
    if (auto* application = GUIApplication::shared())
        application->stopModalWithCode(sender == warningUi->accessibilityWarnPanelOpenUAccess ? 1 : 0);
}

void ArvelPref::didUnselect()
{
    // An interrupted calibration never leaves the driver calibrating.
    if (driverAccess) {
        driverAccess->setCalibrationInProgress(false);
        driverAccess.reset();
    }
    systemDefaults.reset();
    userDefaults.reset();
    hidAccess.reset();
}

// ---- the value mappings

namespace {

constexpr double kTrackpadSpeeds[] = {0.0, 0.125, 0.3125, 0.5, 0.6875, 0.875, 1.0, 1.7};
// Seconds, the slow end first.
constexpr double kDoubleClickSpeeds[] = {5.0, 3.0, 2.0, 1.8, 1.7, 1.4, 1.1, 0.8, 0.5, 0.2};
// The corner pop-up's positions; the separators carry no action.
constexpr std::int32_t kCornerActions[] = {0, 0, 1, 2, 3, 4, 5, 6, 0, 7};
// A stored value matches a table entry this close, both bounds strict.
constexpr double kSpeedTolerance = 0.05;

constexpr std::uint32_t kCommandBit = 0x10000, kOptionBit = 0x20000, kControlBit = 0x40000, kShiftBit = 0x80000;
constexpr std::uint32_t kKeyCodeMask = 0xFFFF;

template <std::size_t N> int indexForSpeed(const double (&table)[N], double value)
{
    for (std::size_t i = 0; i < N; ++i)
        if (table[i] - kSpeedTolerance < value && value < table[i] + kSpeedTolerance)
            return static_cast<int>(i);
    return static_cast<int>(N);
}

template <std::size_t N> double speedForIndex(const double (&table)[N], int index)
{
    return index >= 0 && index < static_cast<int>(N) ? table[index] : table[0];
}

bool isOn(QAbstractButton* box)
{
    return box && box->isChecked();
}

void setOn(QWidget* box, bool on)
{
    if (auto* button = qobject_cast<QAbstractButton*>(box)) {
        QSignalBlocker quiet(button);
        button->setChecked(on);
    }
}

void setSlider(QSlider* slider, int value)
{
    QSignalBlocker quiet(slider);
    slider->setValue(value);
}

void selectItem(QWidget* popUp, int index)
{
    if (auto* box = qobject_cast<QComboBox*>(popUp)) {
        QSignalBlocker quiet(box);
        box->setCurrentIndex(index);
    }
}

int selectedItem(QWidget* popUp)
{
    auto* box = qobject_cast<QComboBox*>(popUp);
    return box ? box->currentIndex() : -1;
}

// The unsigned value of a corner's data (0 for none).
std::uint32_t dataBits(const Value& data)
{
    return static_cast<std::uint32_t>(data.unsignedInteger().value_or(static_cast<std::uint64_t>(data.integerOr(0))));
}

} // namespace

double ArvelPref::_trackpadSpeedForIndex(int index)
{
    return speedForIndex(kTrackpadSpeeds, index);
}

int ArvelPref::_trackpadSpeedIndexForSpeed(double speed)
{
    return indexForSpeed(kTrackpadSpeeds, speed);
}

double ArvelPref::_doubleClickSpeedForIndex(int index)
{
    return speedForIndex(kDoubleClickSpeeds, index);
}

int ArvelPref::_doubleClickSpeedIndexForSpeed(double seconds)
{
    return indexForSpeed(kDoubleClickSpeeds, seconds);
}

std::int32_t ArvelPref::_trackpadButtonActionForIndex(int index)
{
    return index == 1 ? 2 : 1;
}

int ArvelPref::_trackpadButtonIndexForAction(std::int32_t action)
{
    return action == 2 ? 1 : 0;
}

ArvelTapActionAndGesture ArvelPref::_trackpadTapActionAndGestureForIndex(int index)
{
    switch (index) {
    case 2: return {1, 0};
    case 3: return {1, 1};
    case 4: return {1, 2};
    case 6: return {2, 0};
    default: return {0, 0};
    }
}

int ArvelPref::_trackpadTapIndexForActionAndGesture(const ArvelTapActionAndGesture& pair)
{
    if (pair.action == 1)
        return pair.gesture >= 0 && pair.gesture <= 2 ? 2 + pair.gesture : 0;
    return pair.action == 2 ? 6 : 0;
}

std::int32_t ArvelPref::_cornerActionForIndex(int index)
{
    return index >= 0 && index < static_cast<int>(std::size(kCornerActions)) ? kCornerActions[index] : 0;
}

int ArvelPref::_cornerActionIndexForAction(std::int32_t action)
{
    if (action >= 1 && action <= 6)
        return action + 1;
    return action == 7 ? 9 : 0;
}

// ---- the settings controls

bool ArvelPref::_saveNotifyAndPush(bool systemDefaultsToo)
{
    userDefaults->syncToDisk();
    if (systemDefaultsToo && systemDefaults)
        systemDefaults->syncToDisk();
    DistributedNotificationCenter::defaultCenter().postNotificationName(kArvelPrefChangeNotification);
    if (disablePref || !hidAccess)
        return false;
    Value system = systemDefaults ? systemDefaults->hidProperties() : Value();
    hidAccess->setHIDConfig(userDefaults->hidPropertiesWithSystemHIDProperties(system));
    return true;
}

void ArvelPref::updateUserTrackpadPrefs(QWidget* sender)
{
    if (!userDefaults)
        return;
    if (sender == ui->trackSpeed)
        userDefaults->setTrackpadSpeed(_trackpadSpeedForIndex(ui->trackSpeed->value()));
    else if (sender == ui->doubleClickSpeed)
        userDefaults->setDoubleClickSpeed(_doubleClickSpeedForIndex(ui->doubleClickSpeed->value()));
    else if (sender == ui->trackpadButton)
        userDefaults->setTrackpadButtonAction(_trackpadButtonActionForIndex(ui->trackpadButton->currentIndex()));
    else if (sender == ui->trackpadTap)
        userDefaults->setTrackpadTapActionAndGesture(_trackpadTapActionAndGestureForIndex(ui->trackpadTap->currentIndex()));
    else if (sender == ui->mouseKeepMoving)
        userDefaults->setMouseKeepMoving(isOn(ui->mouseKeepMoving));
    else if (sender == ui->moveToDefaultButton)
        userDefaults->setMoveToDefaultButton(isOn(ui->moveToDefaultButton));

    // The button's drag lock needs the tap to click, and the tap's "nothing"
    // and "acts as the button" need the button to click: a stored pair that
    // breaks this is repaired, on a load too.
    if (userDefaults->trackpadTapActionAndGesture().action == 1) {
        setPopUpItemEnabled(ui->trackpadButton, 1, true);
    } else {
        if (userDefaults->trackpadButtonAction() == 2)
            userDefaults->setTrackpadButtonAction(1);
        setPopUpItemEnabled(ui->trackpadButton, 1, false);
    }
    const bool buttonClicks = userDefaults->trackpadButtonAction() == 1;
    if (!buttonClicks && userDefaults->trackpadTapActionAndGesture().action == 2)
        userDefaults->setTrackpadTapActionAndGesture({1, 0});
    setPopUpItemEnabled(ui->trackpadTap, 0, buttonClicks);
    setPopUpItemEnabled(ui->trackpadTap, 6, buttonClicks);

    setSlider(ui->trackSpeed, _trackpadSpeedIndexForSpeed(userDefaults->trackpadSpeed()));
    setSlider(ui->doubleClickSpeed, _doubleClickSpeedIndexForSpeed(userDefaults->doubleClickSpeed()));
    selectItem(ui->trackpadButton, _trackpadButtonIndexForAction(userDefaults->trackpadButtonAction()));
    selectItem(ui->trackpadTap, _trackpadTapIndexForActionAndGesture(userDefaults->trackpadTapActionAndGesture()));
    setOn(ui->mouseKeepMoving, userDefaults->mouseKeepMoving());
    setOn(ui->moveToDefaultButton, userDefaults->moveToDefaultButton());

    if (_saveNotifyAndPush(false)) {
        if (sender == ui->trackSpeed)
            hidAccess->setHIDAccelerationForKey(userDefaults->trackpadSpeed(), std::string("HIDTrackpadAcceleration"));
        setDoubleClickThresholdLevel(userDefaults->doubleClickSpeed());
    }
}

void ArvelPref::updateUserScrollPrefs(QWidget* sender)
{
    if (!userDefaults)
        return;
    if (sender == ui->vScrollEdgeMode)
        userDefaults->setVerticalScroll(ui->vScrollEdgeMode->currentIndex());
    else if (sender == ui->vScrollEdgeSize)
        userDefaults->setVerticalScrollSize(ui->vScrollEdgeSize->value());
    else if (sender == ui->vScrollInvert)
        userDefaults->setInvertVerticalScroll(isOn(ui->vScrollInvert));
    else if (sender == ui->hScrollEdgeMode)
        userDefaults->setHorizontalScroll(ui->hScrollEdgeMode->currentIndex());
    else if (sender == ui->hScrollEdgeSize)
        userDefaults->setHorizontalScrollSize(ui->hScrollEdgeSize->value());
    else if (sender == ui->hScrollInvert)
        userDefaults->setInvertHorizontalScroll(isOn(ui->hScrollInvert));
    else if (sender == ui->vScrollScale)
        userDefaults->setVerticalScrollScale(kScaleMirror - ui->vScrollScale->value());
    else if (sender == ui->hScrollScale)
        userDefaults->setHorizontalScrollScale(kScaleMirror - ui->hScrollScale->value());
    else if (sender == ui->scrollKeepMoving)
        userDefaults->setScrollKeepMoving(isOn(ui->scrollKeepMoving));

    selectItem(ui->vScrollEdgeMode, userDefaults->verticalScroll());
    setSlider(ui->vScrollEdgeSize, userDefaults->verticalScrollSize());
    setOn(ui->vScrollInvert, userDefaults->invertVerticalScroll());
    selectItem(ui->hScrollEdgeMode, userDefaults->horizontalScroll());
    setSlider(ui->hScrollEdgeSize, userDefaults->horizontalScrollSize());
    setOn(ui->hScrollInvert, userDefaults->invertHorizontalScroll());
    setSlider(ui->vScrollScale, kScaleMirror - userDefaults->verticalScrollScale());
    setSlider(ui->hScrollScale, kScaleMirror - userDefaults->horizontalScrollScale());
    setOn(ui->scrollKeepMoving, userDefaults->scrollKeepMoving());

    if (!disablePref) {
        const bool vertical = userDefaults->verticalScroll() != 0, horizontal = userDefaults->horizontalScroll() != 0;
        auto follow = [](bool on, std::initializer_list<QWidget*> controls, std::initializer_list<QWidget*> captions) {
            for (QWidget* control : controls)
                control->setEnabled(on);
            for (QWidget* caption : captions)
                setTextColour(caption, on ? TextColour::Black : TextColour::LightGrey);
        };
        follow(vertical, {ui->vScrollEdgeSize, ui->vScrollInvert, ui->vScrollScale},
            {ui->vScrollEdgeSizeSmallerLabel, ui->vScrollEdgeSizeLargerLabel, ui->vScrollScaleLabel, ui->vScrollScaleSlowLabel,
                ui->vScrollScaleFastLabel});
        follow(horizontal, {ui->hScrollEdgeSize, ui->hScrollInvert, ui->hScrollScale},
            {ui->hScrollEdgeSizeSmallerLabel, ui->hScrollEdgeSizeLargerLabel, ui->hScrollScaleLabel, ui->hScrollScaleSlowLabel,
                ui->hScrollScaleFastLabel});
        ui->scrollKeepMoving->setEnabled(vertical || horizontal);
    }
    _saveNotifyAndPush(false);
}

ArvelCornerActionAndData ArvelPref::_cornerActionAndDataForControlGroup(const ControlGroup& group) const
{
    auto box = [&group](const char* key) { return qobject_cast<QAbstractButton*>(group.at(key)); };
    const std::int32_t action = _cornerActionForIndex(selectedItem(group.at("CornerGroupAction")));
    switch (action) {
    case 0: case 3: case 4: case 5: case 6:
        return {action, Value()};
    case 1: case 2: {
        std::uint32_t data = 0;
        data |= isOn(box("CornerGroupMouseActionCmd")) ? kCommandBit : 0;
        data |= isOn(box("CornerGroupMouseActionOpt")) ? kOptionBit : 0;
        data |= isOn(box("CornerGroupMouseActionCtrl")) ? kControlBit : 0;
        data |= isOn(box("CornerGroupMouseActionShift")) ? kShiftBit : 0;
        return {action, Value(data)};
    }
    case 7: {
        auto* keycaps = qobject_cast<QComboBox*>(group.at("CornerGroupKeyActionKeycap"));
        const Value& code = keycapMap[keycaps ? keycaps->currentText().toStdString() : std::string()];
        if (code.isNil())
            return {7, keycapMap[keycaps && keycaps->count() ? keycaps->itemText(0).toStdString() : std::string()]};
        std::uint32_t data = static_cast<std::uint32_t>(code.integerOr(0)) & kKeyCodeMask;
        data |= isOn(box("CornerGroupKeyActionCmd")) ? kCommandBit : 0;
        data |= isOn(box("CornerGroupKeyActionOpt")) ? kOptionBit : 0;
        data |= isOn(box("CornerGroupKeyActionCtrl")) ? kControlBit : 0;
        data |= isOn(box("CornerGroupKeyActionShift")) ? kShiftBit : 0;
        return {7, Value(data)};
    }
    default:
        return {0, Value()};
    }
}

bool ArvelPref::_updateCornerControlGroupForActionAndData(const ControlGroup& group, const ArvelCornerActionAndData& pair)
{
    selectItem(group.at("CornerGroupAction"), _cornerActionIndexForAction(pair.action));
    auto* tabs = qobject_cast<QTabWidget*>(group.at("CornerGroupTab"));
    auto showTab = [tabs](int index) {
        if (tabs)
            tabs->setCurrentIndex(index);
    };
    const std::uint32_t d = dataBits(pair.data);
    auto setModifiers = [&group, d](const char* cmd, const char* opt, const char* ctrl, const char* shift) {
        setOn(group.at(cmd), d & kCommandBit);
        setOn(group.at(opt), d & kOptionBit);
        setOn(group.at(ctrl), d & kControlBit);
        setOn(group.at(shift), d & kShiftBit);
    };
    switch (pair.action) {
    case 0: case 3: case 4: case 5: case 6:
        showTab(0);
        return true;
    case 1: case 2:
        showTab(1);
        setModifiers("CornerGroupMouseActionCmd", "CornerGroupMouseActionOpt", "CornerGroupMouseActionCtrl", "CornerGroupMouseActionShift");
        return true;
    case 7: {
        showTab(2);
        const Value& title = keycodeMap[std::to_string(d & kKeyCodeMask)];
        auto* keycaps = qobject_cast<QComboBox*>(group.at("CornerGroupKeyActionKeycap"));
        const int item = keycaps && title.isString() ? keycaps->findText(QString::fromStdString(*title.string()), Qt::MatchExactly) : -1;
        if (item < 0)
            return false;
        selectItem(keycaps, item);
        setModifiers("CornerGroupKeyActionCmd", "CornerGroupKeyActionOpt", "CornerGroupKeyActionCtrl", "CornerGroupKeyActionShift");
        return true;
    }
    default:
        return false;
    }
}

void ArvelPref::updateUserCornerPrefs(QWidget* sender)
{
    if (!userDefaults)
        return;
    std::optional<std::string> appID;
    if (ui->applicationSet->currentIndex() > 1)
        appID = ui->applicationSet->currentData().toString().toStdString();
    using Getter = ArvelCornerActionAndData (ArvelUserDefaults::*)() const;
    using AppGetter = ArvelCornerActionAndData (ArvelUserDefaults::*)(std::string_view) const;
    using Setter = void (ArvelUserDefaults::*)(const ArvelCornerActionAndData&);
    using AppSetter = void (ArvelUserDefaults::*)(const ArvelCornerActionAndData&, std::string_view);
    struct Corner {
        const ControlGroup* group;
        Getter get;
        AppGetter getForApp;
        Setter set;
        AppSetter setForApp;
    };
    const Corner corners[] = {
        {&nwControlGroup, &ArvelUserDefaults::nwCornerActionAndData, &ArvelUserDefaults::nwCornerActionAndDataForAppID,
            &ArvelUserDefaults::setNWCornerActionAndData, &ArvelUserDefaults::setNWCornerActionAndDataForAppID},
        {&neControlGroup, &ArvelUserDefaults::neCornerActionAndData, &ArvelUserDefaults::neCornerActionAndDataForAppID,
            &ArvelUserDefaults::setNECornerActionAndData, &ArvelUserDefaults::setNECornerActionAndDataForAppID},
        {&swControlGroup, &ArvelUserDefaults::swCornerActionAndData, &ArvelUserDefaults::swCornerActionAndDataForAppID,
            &ArvelUserDefaults::setSWCornerActionAndData, &ArvelUserDefaults::setSWCornerActionAndDataForAppID},
        {&seControlGroup, &ArvelUserDefaults::seCornerActionAndData, &ArvelUserDefaults::seCornerActionAndDataForAppID,
            &ArvelUserDefaults::setSECornerActionAndData, &ArvelUserDefaults::setSECornerActionAndDataForAppID},
    };
    auto store = [&](const Corner& corner, const ArvelCornerActionAndData& pair) {
        if (appID)
            (userDefaults.get()->*corner.setForApp)(pair, *appID);
        else
            (userDefaults.get()->*corner.set)(pair);
    };
    for (const Corner& corner : corners) {
        if (!sender)
            break;
        for (const auto& [key, control] : *corner.group) {
            if (control == sender) {
                store(corner, _cornerActionAndDataForControlGroup(*corner.group));
                break;
            }
        }
    }
    if (sender == ui->cornerSize)
        userDefaults->setCornerSize(ui->cornerSize->value());
    for (const Corner& corner : corners) {
        ArvelCornerActionAndData pair = appID ? (userDefaults.get()->*corner.getForApp)(*appID) : (userDefaults.get()->*corner.get)();
        if (!_updateCornerControlGroupForActionAndData(*corner.group, pair)) {
            // A key this keyboard cannot show: the corner falls back to no action.
            store(corner, {0, Value()});
            _updateCornerControlGroupForActionAndData(*corner.group, {0, Value()});
        }
    }
    setSlider(ui->cornerSize, userDefaults->cornerSize());
    ui->applicationSetRemove->setEnabled(ui->applicationSet->currentIndex() > 1);
    _saveNotifyAndPush(false);
}

void ArvelPref::updateUserAccuracyPrefs(QWidget* sender)
{
    if (!userDefaults)
        return;
    if (sender == ui->ignoreWhileExternalMouse)
        userDefaults->setIgnoreWhileExternalMouse(isOn(ui->ignoreWhileExternalMouse));
    else if (sender == ui->ignoreWhileTyping)
        userDefaults->setIgnoreWhileTyping(isOn(ui->ignoreWhileTyping));
    else if (sender == ui->ignoreWhileTypingMS)
        userDefaults->setIgnoreWhileTypingMS(ui->ignoreWhileTypingMS->value());
    else if (sender == ui->ignoreWhileTypingMotionOverride)
        userDefaults->setIgnoreWhileTypingMotionOverride(isOn(ui->ignoreWhileTypingMotionOverride));
    else if (sender == ui->ignoreWhileTypingEdgeFilter)
        userDefaults->setIgnoreWhileTypingEdgeFilter(isOn(ui->ignoreWhileTypingEdgeFilter));
    else if (sender == ui->scrollTapIgnore)
        userDefaults->setIgnoreTapInScroll(isOn(ui->scrollTapIgnore));
    else if (sender == ui->convertOffAxis)
        userDefaults->setConvertOffAxis(isOn(ui->convertOffAxis));
    else if (sender == ui->tapThreshold)
        userDefaults->setTapThreshold(ui->tapThreshold->value());

    setOn(ui->ignoreWhileExternalMouse, userDefaults->ignoreWhileExternalMouse());
    setOn(ui->ignoreWhileTyping, userDefaults->ignoreWhileTyping());
    setSlider(ui->ignoreWhileTypingMS, userDefaults->ignoreWhileTypingMS());
    setOn(ui->ignoreWhileTypingMotionOverride, userDefaults->ignoreWhileTypingMotionOverride());
    setOn(ui->ignoreWhileTypingEdgeFilter, userDefaults->ignoreWhileTypingEdgeFilter());
    setOn(ui->scrollTapIgnore, userDefaults->ignoreTapInScroll());
    setOn(ui->convertOffAxis, userDefaults->convertOffAxis());
    setSlider(ui->tapThreshold, userDefaults->tapThreshold());

    if (!disablePref) {
        const bool typing = userDefaults->ignoreWhileTyping();
        for (QWidget* control : {static_cast<QWidget*>(ui->ignoreWhileTypingMS), static_cast<QWidget*>(ui->ignoreWhileTypingMotionOverride),
                 static_cast<QWidget*>(ui->ignoreWhileTypingEdgeFilter)})
            control->setEnabled(typing);
        for (QWidget* caption : {ui->ignoreWhileTypingMSLabel, ui->ignoreWhileTypingMSMinLabel, ui->ignoreWhileTypingMSMaxLabel})
            setTextColour(caption, typing ? TextColour::Black : TextColour::LightGrey);
    }
    _saveNotifyAndPush(false);
}

void ArvelPref::updateUserAdvancedPrefs(QWidget* sender)
{
    if (!userDefaults)
        return;
    if (sender == ui->accelerationOption)
        userDefaults->setAccelerationTable(selectedRowOfMatrix(ui->accelerationOption));
    else if (sender == ui->loginwindowTap && systemDefaults)
        systemDefaults->setLoginwindowTap(isOn(ui->loginwindowTap));

    selectCellAtRow(ui->accelerationOption, userDefaults->accelerationTable());
    setOn(ui->loginwindowTap, systemDefaults && systemDefaults->loginwindowTap());

    if (_saveNotifyAndPush(true) && sender == ui->accelerationOption)
        hidAccess->setHIDAccelerationForKey(userDefaults->trackpadSpeed(), std::string("HIDTrackpadAcceleration"));
}

// ---- application sets

void ArvelPref::addApplicationSet(QWidget*)
{
    NSOpenPanel* panel = NSOpenPanel::openPanel();
    if (!userDefaults) {
        delete panel;
        return;
    }
    panel->setPrompt(_localized("Select"));
    panel->setAllowsMultipleSelection(false);
    panel->beginSheetForDirectoryFileTypesModalForWindow({}, {}, {"app", "APPL"}, window(),
        [this](NSOpenPanel* ended, int returnCode) { applicationSelectPanelDidEnd(ended, returnCode); });
}

void ArvelPref::applicationSelectPanelDidEnd(NSOpenPanel* panel, int returnCode)
{
    if (!userDefaults || returnCode != NSOKButton)
        return;
    std::vector<std::string> names = panel ? panel->filenames() : std::vector<std::string>();
    if (names.empty() || names.front().empty()) {
        logError("ArvelPref error: Empty selected path.\n");
        return;
    }
    const std::string& path = names.front();
    const std::string fileName = lastPathComponent(path);
    std::string appID;
    std::shared_ptr<NSBundle> bundle = NSBundle::bundleWithPath(path);
    if (bundle && !bundle->bundleIdentifier().empty()) {
        appID = bundle->bundleIdentifier();
    } else {
        Value attributes = fileAttributesAtPathTraverseLink(path);
        std::string creator = attributes.isNil() ? std::string()
                                                 : NSFileTypeForHFSTypeCode(static_cast<OSType>(attributes["NSFileHFSCreatorCode"].integerOr(0)));
        appID = !attributes.isNil() && creator != kUnknownCreator && creator != "''" ? creator + fileName : fileName;
    }
    userDefaults->createApplicationSetForIDWithName(appID, displayNameAtPath(path));
    userDefaults->syncToDisk();
    buildApplicationSetMenuWithSelectionID(Value(appID));
    updateUserCornerPrefs(nullptr);
}

void ArvelPref::removeApplicationSet(QWidget*)
{
    if (!userDefaults)
        return;
    if (ui->applicationSet->currentIndex() <= 1) {
        logError("ArvelPref error: Remove called on non-application item.\n");
        return;
    }
    QVariant appID = ui->applicationSet->currentData();
    if (!appID.isValid() || appID.toString().isEmpty()) {
        logError("ArvelPref error: Remove called for missing ID.\n");
        return;
    }
    userDefaults->removeApplicationSetForID(appID.toString().toStdString());
    userDefaults->syncToDisk();
    buildApplicationSetMenuWithSelectionID(Value());
    updateUserCornerPrefs(nullptr);
}

int ArvelPref::appKeySort(const std::string& first, const std::string& second, const ArvelUserDefaults& userDefaults)
{
    return QString::localeAwareCompare(QString::fromStdString(userDefaults.applicationNameForID(first)).toCaseFolded(),
        QString::fromStdString(userDefaults.applicationNameForID(second)).toCaseFolded());
}

void ArvelPref::buildApplicationSetMenuWithSelectionID(const Value& selectionID)
{
    if (!userDefaults)
        return;
    std::vector<std::string> ids = userDefaults->applicationIDs();
    std::stable_sort(ids.begin(), ids.end(),
        [this](const std::string& a, const std::string& b) { return appKeySort(a, b, *userDefaults) < 0; });
    QComboBox* popUp = ui->applicationSet;
    QSignalBlocker quiet(popUp);
    while (popUp->count() > 2)
        popUp->removeItem(popUp->count() - 1);
    if (ids.empty()) {
        popUp->addItem(QString::fromStdString(_localized("No custom application settings")));
        setPopUpItemEnabled(popUp, 2, false);
        popUp->setCurrentIndex(0);
        ui->applicationSetRemove->setEnabled(false);
        return;
    }
    int selected = -1;
    for (const std::string& id : ids) {
        std::string title = userDefaults->applicationNameForID(id);
        if (title.empty())
            title = id;
        else if (title.size() > 4 && title.ends_with(".app"))
            title.resize(title.size() - 4);
        popUp->addItem(QString::fromStdString(title), QString::fromStdString(id));
        if (selected < 0 && selectionID.string() && *selectionID.string() == id)
            selected = popUp->count() - 1;
    }
    popUp->setCurrentIndex(selected < 0 ? 0 : selected);
    ui->applicationSetRemove->setEnabled(selected >= 0);
}

// ---- calibration

void ArvelPref::updateCalibration(QWidget*)
{
    auto* application = GUIApplication::shared();
    if (!driverAccess || !systemDefaults || !hidAccess || !application)
        return;
    resetCalibrationPanel(nullptr);
    calibrationTimer_ = Timer::scheduledTimer(0.1, true, [this](Timer&) { refreshCalibrationPanel(); });
    RunLoop::current().addTimer(calibrationTimer_, kModalPanelRunLoopMode);
    driverAccess->setCalibrationInProgress(true);
    application->beginSheetModalForWindow(calibrationPanel, window());
    calibrationUi->calibratePanelOK->setEnabled(false);
    int result = application->runModalForWindow(calibrationPanel);
    application->endSheet(calibrationPanel);
    GUIApplication::orderOut(calibrationPanel);
    // The pane may have been hidden while the sheet was up.
    if (driverAccess)
        driverAccess->setCalibrationInProgress(false);
    calibrationTimer_->invalidate();
    calibrationTimer_.reset();
    if (result == 1 && driverAccess && systemDefaults) {
        Value geometry = driverAccess->readDriverObservedGeometry();
        if (!geometry.isNil()) {
            systemDefaults->setCalibration(geometry);
            systemDefaults->syncToDisk();
            if (hidAccess && userDefaults)
                hidAccess->setHIDConfig(userDefaults->hidPropertiesWithSystemHIDProperties(systemDefaults->hidProperties()));
            DistributedNotificationCenter::defaultCenter().postNotificationName(kArvelPrefChangeNotification);
        }
    }
    refreshCalibrationDisplay();
}

void ArvelPref::endCalibration(QWidget* sender)
{
    if (auto* application = GUIApplication::shared())
        application->stopModalWithCode(sender == calibrationUi->calibratePanelOK ? 1 : 0);
}

void ArvelPref::resetCalibrationPanel(QWidget*)
{
    if (driverAccess)
        driverAccess->resetDriverObservedGeometry();
    for (QLineEdit* field : {calibrationUi->calibratePanelMinXDisplay, calibrationUi->calibratePanelMinYDisplay,
             calibrationUi->calibratePanelMaxXDisplay, calibrationUi->calibratePanelMaxYDisplay})
        field->setText(QString());
    calibrationUi->calibratePanelOK->setEnabled(false);
}

void ArvelPref::refreshCalibrationPanel()
{
    Value geometry = driverAccess ? driverAccess->readDriverObservedGeometry() : Value();
    if (geometry.isNil()) {
        calibrationUi->calibratePanelOK->setEnabled(false);
        return;
    }
    const std::uint32_t minX = geometryValue(geometry, "MinX"), minY = geometryValue(geometry, "MinY");
    const std::uint32_t maxX = geometryValue(geometry, "MaxX"), maxY = geometryValue(geometry, "MaxY");
    if (minX != kUnseenMinimum)
        calibrationUi->calibratePanelMinXDisplay->setText(unsignedText(minX));
    if (minY != kUnseenMinimum)
        calibrationUi->calibratePanelMinYDisplay->setText(unsignedText(minY));
    if (maxX != kUnseenMaximum)
        calibrationUi->calibratePanelMaxXDisplay->setText(unsignedText(maxX));
    if (maxY != kUnseenMaximum)
        calibrationUi->calibratePanelMaxYDisplay->setText(unsignedText(maxY));
    const bool goodX = minX < maxX && maxX - minX > kGoodXRange;
    const bool goodY = minY < maxY && maxY - minY > kGoodYRange;
    for (QLineEdit* field : {calibrationUi->calibratePanelMinXDisplay, calibrationUi->calibratePanelMaxXDisplay})
        setTextColour(field, goodX ? TextColour::Black : TextColour::Red);
    for (QLineEdit* field : {calibrationUi->calibratePanelMinYDisplay, calibrationUi->calibratePanelMaxYDisplay})
        setTextColour(field, goodY ? TextColour::Black : TextColour::Red);
    calibrationUi->calibratePanelOK->setEnabled(goodX && goodY);
}

void ArvelPref::updateToDefaultCalibration(QWidget*)
{
    if (!driverAccess || !systemDefaults)
        return;
    driverAccess->resetDriverToDefaultCalibration();
    Value calibration = driverAccess->currentCalibration();
    if (!calibration.isNil())
        systemDefaults->setCalibration(calibration);
    else
        systemDefaults->clearCalibration();
    systemDefaults->syncToDisk();
    refreshCalibrationDisplay();
    DistributedNotificationCenter::defaultCenter().postNotificationName(kArvelPrefChangeNotification);
}

void ArvelPref::refreshCalibrationDisplay()
{
    Value calibration = driverAccess ? driverAccess->currentCalibration() : Value();
    if (calibration.isNil())
        return;
    ui->minXDisplay->setText(unsignedText(geometryValue(calibration, "MinX")));
    ui->minYDisplay->setText(unsignedText(geometryValue(calibration, "MinY")));
    ui->maxXDisplay->setText(unsignedText(geometryValue(calibration, "MaxX")));
    ui->maxYDisplay->setText(unsignedText(geometryValue(calibration, "MaxY")));
}
