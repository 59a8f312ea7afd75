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
#include "Foundation/Format.h"
#include "Foundation/NSBundle.h"
#include "Foundation/Task.h"
#include "Log/Log.h"
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
#include <QSlider>

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

// ---- the settings controls and application sets: what each control
// stores and how it shows its value come with the controls' own work; until
// then a load changes nothing and the controls show the interface's values.

void ArvelPref::updateUserTrackpadPrefs(QWidget*) {}
void ArvelPref::updateUserScrollPrefs(QWidget*) {}
void ArvelPref::updateUserCornerPrefs(QWidget*) {}
void ArvelPref::updateUserAccuracyPrefs(QWidget*) {}
void ArvelPref::updateUserAdvancedPrefs(QWidget*) {}
void ArvelPref::buildApplicationSetMenuWithSelectionID(const Value&) {}

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
