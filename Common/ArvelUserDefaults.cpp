#include "Common/ArvelUserDefaults.h"

#include "Defaults/CFPreferences.h"
#include "Defaults/NSUserDefaults.h"
#include "Foundation/Allocation.h"
#include "Log/Log.h"

#include <cmath>
#include <new>

namespace {

constexpr std::string_view kDomain = "com.tessmoor.Arvel";
constexpr std::int64_t kCurrentPrefsVersion = 4;

// The two system pointer settings, with the ranges the pane offers.
struct PointerSpeed {
    const char* key;
    double minimum, maximum;
    bool accepts(double value) const { return value >= minimum && value <= maximum; }
};

constexpr PointerSpeed kTrackpadSpeed {"com.apple.trackpad.scaling", 0.0, 1.7};
constexpr PointerSpeed kDoubleClickSpeed {"com.apple.mouse.doubleClickThreshold", 0.2, 5.0};
constexpr double kDefaultPointerSpeed = 0.5;

// An integer setting: its key, its default, the range its getter accepts
// and the range its setter stores (they differ for the corner size only).
struct IntegerSetting {
    const char* key;
    std::int32_t fallback;
    std::int32_t readMinimum, readMaximum;
    std::int32_t writeMinimum, writeMaximum;
};

constexpr IntegerSetting kVerticalScrollEdge {"VerticalScrollEdge", 0, 0, 3, 0, 3};
constexpr IntegerSetting kVerticalScrollEdgeSize {"VerticalScrollEdgeSize", 10, 2, 18, 2, 18};
constexpr IntegerSetting kHorizontalScrollEdge {"HorizontalScrollEdge", 0, 0, 3, 0, 3};
constexpr IntegerSetting kHorizontalScrollEdgeSize {"HorizontalScrollEdgeSize", 10, 2, 18, 2, 18};
constexpr IntegerSetting kVerticalScrollScale {"VerticalScrollScale", 15, 5, 25, 5, 25};
constexpr IntegerSetting kHorizontalScrollScale {"HorizontalScrollScale", 15, 5, 25, 5, 25};
constexpr IntegerSetting kCornerSize {"CornerSize", 15, 10, 20, 5, 25};
constexpr IntegerSetting kIgnoreWhileTypingMS {"IgnoreWhileTypingMS", 200, 200, 2000, 200, 2000};
constexpr IntegerSetting kTapThreshold {"TapThreshold", 20, 0, 35, 0, 35};
constexpr IntegerSetting kAccelerationCurve {"AccelerationCurve", 0, 0, 2, 0, 2};
constexpr IntegerSetting kDragReleaseMS {"DragReleaseMS", 700, 100, 1200, 100, 1200};
constexpr IntegerSetting kMouseKeepMovingSize {"MouseKeepMovingSize", 8, 5, 15, 5, 15};
constexpr IntegerSetting kScrollKeepMovingSize {"ScrollKeepMovingSize", 18, 10, 25, 10, 25};

struct BooleanSetting {
    const char* key;
    bool fallback;
};

constexpr BooleanSetting kMouseKeepMoving {"MouseKeepMoving", false};
constexpr BooleanSetting kVerticalScrollInvert {"VerticalScrollInvert", false};
constexpr BooleanSetting kHorizontalScrollInvert {"HorizontalScrollInvert", false};
constexpr BooleanSetting kScrollKeepMoving {"ScrollKeepMoving", false};
constexpr BooleanSetting kIgnoreWhileExternalMouse {"IgnoreWhileExternalMouse", false};
constexpr BooleanSetting kIgnoreWhileTyping {"IgnoreWhileTyping", false};
constexpr BooleanSetting kIgnoreWhileTypingEdgeFilter {"IgnoreWhileTypingEdgeFilter", false};
constexpr BooleanSetting kIgnoreWhileTypingMotionOverride {"IgnoreWhileTypingMotionOverride", true};
constexpr BooleanSetting kIgnoreTapInScroll {"IgnoreTapInScroll", false};
constexpr BooleanSetting kConvertOffAxis {"ConvertOffAxis", false};
constexpr BooleanSetting kMoveToDefaultButton {"MoveToDefaultButton", false};
constexpr BooleanSetting kAccessNoWarn {"AccessNoWarn", false};

constexpr const char* kNWCorner = "NWCorner";
constexpr const char* kNECorner = "NECorner";
constexpr const char* kSWCorner = "SWCorner";
constexpr const char* kSECorner = "SECorner";
constexpr const char* kApplicationSet = "ApplicationSet";

// The integer value of a stored number, whatever its kind; nothing for
// what is not a number or is a real without one (NaN, infinity).
std::optional<std::int64_t> storedInteger(const Value& v)
{
    if (auto r = v.real(); v.isReal() && r && !std::isfinite(*r))
        return std::nullopt;
    return v.integer();
}

std::optional<bool> storedBoolean(const Value& v)
{
    if (auto r = v.real(); v.isReal() && r && std::isnan(*r))
        return std::nullopt;
    return v.boolean();
}

bool inRange(std::optional<std::int64_t> v, std::int64_t minimum, std::int64_t maximum)
{
    return v && *v >= minimum && *v <= maximum;
}

bool validTapPair(std::int64_t action, std::int64_t gesture)
{
    return (action == 0 && gesture == 0) || (action == 1 && gesture >= 0 && gesture <= 2)
        || (action == 2 && gesture == 0);
}

bool actionCarriesData(std::int32_t action)
{
    return action == 1 || action == 2 || action == 7;
}

// The corner dictionary the driver takes; a pair from a getter always
// brings its number for the actions that carry one.
Value cornerDictionary(const ArvelCornerActionAndData& pair)
{
    Value corner = Value::dictionary({{"Action", pair.action}});
    if (actionCarriesData(pair.action) && pair.data.isNumber())
        corner.set("Data", pair.data);
    return corner;
}

std::int32_t readInteger(const Value& prefs, const IntegerSetting& s)
{
    auto v = storedInteger(prefs[s.key]);
    return inRange(v, s.readMinimum, s.readMaximum) ? static_cast<std::int32_t>(*v) : s.fallback;
}

void writeInteger(Value& prefs, const IntegerSetting& s, std::int32_t value)
{
    if (value >= s.writeMinimum && value <= s.writeMaximum)
        prefs.set(s.key, value);
}

bool readBoolean(const Value& prefs, const BooleanSetting& s)
{
    return storedBoolean(prefs[s.key]).value_or(s.fallback);
}

void writeBoolean(Value& prefs, const BooleanSetting& s, bool value)
{
    prefs.set(s.key, value);
}

// The global preferences are the user's to write as he likes: what goes to
// the HID system from there must lie in the range the pane offers.
double readPointerSpeed(const PointerSpeed& setting)
{
    Value v = CFPreferencesCopyAppValue(setting.key, kCFPreferencesAnyApplication);
    auto speed = v.real();
    if (!speed)
        return kDefaultPointerSpeed;
    // A NaN fails both comparisons, an infinity the range.
    if (!setting.accepts(*speed)) {
        logError("ArvelUserDefaults error: Ignoring %s %g from the global preferences: not between %g and %g; using "
                 "%g.\n",
            setting.key, *speed, setting.minimum, setting.maximum, kDefaultPointerSpeed);
        return kDefaultPointerSpeed;
    }
    return *speed;
}

} // namespace

// ---- Life and storage

std::shared_ptr<ArvelUserDefaults> ArvelUserDefaults::create()
{
    if (allocationFails("ArvelUserDefaults"))
        return nullptr;
    try {
        return std::shared_ptr<ArvelUserDefaults>(new ArvelUserDefaults());
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

ArvelUserDefaults::ArvelUserDefaults()
    : theDefaults(NSUserDefaults::standardUserDefaults())
    , thePrefs(Value::dictionary())
{
    syncFromDisk();
    _migratePrefsForward();
}

void ArvelUserDefaults::syncFromDisk()
{
    theDefaults->synchronize();
    Value prefs = theDefaults->persistentDomainForName(kDomain);
    if (!prefs.isDictionary())
        prefs = Value::dictionary();
    // Every application set is a dictionary of its own, so the set
    // operations never meet anything else; what is not one is no set.
    Value sets = Value::dictionary();
    if (const auto* stored = prefs[kApplicationSet].dictionaryValue()) {
        for (const auto& [appID, set] : *stored) {
            if (set.isDictionary())
                sets.set(appID, set);
        }
    }
    prefs.set(kApplicationSet, std::move(sets));
    thePrefs = std::move(prefs);
}

void ArvelUserDefaults::syncToDisk()
{
    theDefaults->removePersistentDomainForName(kDomain);
    theDefaults->setPersistentDomainForName(thePrefs, kDomain);
    syncFromDisk();
}

void ArvelUserDefaults::_migratePrefsForward()
{
    auto version = [this]() -> std::optional<std::int64_t> {
        if (!thePrefs.contains("PrefsVersion"))
            return std::nullopt;
        // A version that is no number is none this code knows: left alone.
        return storedInteger(thePrefs["PrefsVersion"]).value_or(0);
    };
    bool dirty = !version();
    if (version() == 1) {
        logNotice("ArvelUserDefaults: Found incompatible preference version 1, resetting preferences.\n");
        thePrefs = Value::dictionary();
        dirty = true;
    }
    bool toVersionFour = false;
    if (version() == 2) {
        logNotice("ArvelUserDefaults: Migrating from version 2 to version 3 preferences.\n");
        if (thePrefs.contains("ScrollScale")) {
            Value scale = thePrefs["ScrollScale"];
            thePrefs.set("VerticalScrollScale", scale);
            thePrefs.set("HorizontalScrollScale", scale);
            thePrefs.remove("ScrollScale");
        }
        dirty = true;
        toVersionFour = true;
    }
    if (toVersionFour || version() == 3) {
        logNotice("ArvelUserDefaults: Migrating from version 3 to version 4 preferences.\n");
        static constexpr std::pair<const char*, const char*> kRenamed[] = {
            {"VerticalScroll", "VerticalScrollEdge"},
            {"VerticalScrollSize", "VerticalScrollEdgeSize"},
            {"HorizontalScroll", "HorizontalScrollEdge"},
            {"HorizontalScrollSize", "HorizontalScrollEdgeSize"},
        };
        for (const auto& [oldKey, newKey] : kRenamed) {
            if (thePrefs.contains(oldKey)) {
                Value value = thePrefs[oldKey];
                thePrefs.remove(oldKey);
                thePrefs.set(newKey, std::move(value));
            }
        }
        toVersionFour = true;
    }
    if (toVersionFour || dirty) {
        thePrefs.set("PrefsVersion", static_cast<int>(kCurrentPrefsVersion));
        syncToDisk();
    }
}

// ---- Typed settings

std::int32_t ArvelUserDefaults::trackpadButtonAction() const
{
    auto action = storedInteger(thePrefs["Button"]["Action"]);
    return inRange(action, 1, 2) ? static_cast<std::int32_t>(*action) : 1;
}

void ArvelUserDefaults::setTrackpadButtonAction(std::int32_t action)
{
    if (action == 1 || action == 2)
        thePrefs.set("Button", Value::dictionary({{"Action", action}}));
}

ArvelTapActionAndGesture ArvelUserDefaults::trackpadTapActionAndGesture() const
{
    auto action = storedInteger(thePrefs["Tap"]["Action"]);
    auto gesture = storedInteger(thePrefs["Tap"]["Gesture"]);
    if (!action || !gesture || !validTapPair(*action, *gesture))
        return {};
    return {static_cast<std::int32_t>(*action), static_cast<std::int32_t>(*gesture)};
}

void ArvelUserDefaults::setTrackpadTapActionAndGesture(const ArvelTapActionAndGesture& pair)
{
    if (validTapPair(pair.action, pair.gesture))
        thePrefs.set("Tap", Value::dictionary({{"Action", pair.action}, {"Gesture", pair.gesture}}));
}

bool ArvelUserDefaults::mouseKeepMoving() const
{
    return readBoolean(thePrefs, kMouseKeepMoving);
}

void ArvelUserDefaults::setMouseKeepMoving(bool on)
{
    writeBoolean(thePrefs, kMouseKeepMoving, on);
}

std::int32_t ArvelUserDefaults::verticalScroll() const
{
    return readInteger(thePrefs, kVerticalScrollEdge);
}

void ArvelUserDefaults::setVerticalScroll(std::int32_t mode)
{
    writeInteger(thePrefs, kVerticalScrollEdge, mode);
}

std::int32_t ArvelUserDefaults::verticalScrollSize() const
{
    return readInteger(thePrefs, kVerticalScrollEdgeSize);
}

void ArvelUserDefaults::setVerticalScrollSize(std::int32_t size)
{
    writeInteger(thePrefs, kVerticalScrollEdgeSize, size);
}

bool ArvelUserDefaults::invertVerticalScroll() const
{
    return readBoolean(thePrefs, kVerticalScrollInvert);
}

void ArvelUserDefaults::setInvertVerticalScroll(bool on)
{
    writeBoolean(thePrefs, kVerticalScrollInvert, on);
}

std::int32_t ArvelUserDefaults::horizontalScroll() const
{
    return readInteger(thePrefs, kHorizontalScrollEdge);
}

void ArvelUserDefaults::setHorizontalScroll(std::int32_t mode)
{
    writeInteger(thePrefs, kHorizontalScrollEdge, mode);
}

std::int32_t ArvelUserDefaults::horizontalScrollSize() const
{
    return readInteger(thePrefs, kHorizontalScrollEdgeSize);
}

void ArvelUserDefaults::setHorizontalScrollSize(std::int32_t size)
{
    writeInteger(thePrefs, kHorizontalScrollEdgeSize, size);
}

bool ArvelUserDefaults::invertHorizontalScroll() const
{
    return readBoolean(thePrefs, kHorizontalScrollInvert);
}

void ArvelUserDefaults::setInvertHorizontalScroll(bool on)
{
    writeBoolean(thePrefs, kHorizontalScrollInvert, on);
}

std::int32_t ArvelUserDefaults::verticalScrollScale() const
{
    return readInteger(thePrefs, kVerticalScrollScale);
}

void ArvelUserDefaults::setVerticalScrollScale(std::int32_t scale)
{
    writeInteger(thePrefs, kVerticalScrollScale, scale);
}

std::int32_t ArvelUserDefaults::horizontalScrollScale() const
{
    return readInteger(thePrefs, kHorizontalScrollScale);
}

void ArvelUserDefaults::setHorizontalScrollScale(std::int32_t scale)
{
    writeInteger(thePrefs, kHorizontalScrollScale, scale);
}

bool ArvelUserDefaults::scrollKeepMoving() const
{
    return readBoolean(thePrefs, kScrollKeepMoving);
}

void ArvelUserDefaults::setScrollKeepMoving(bool on)
{
    writeBoolean(thePrefs, kScrollKeepMoving, on);
}

ArvelCornerActionAndData ArvelUserDefaults::nwCornerActionAndData() const
{
    return _cornerActionAndDataForCornerFromDict(kNWCorner, &thePrefs);
}

ArvelCornerActionAndData ArvelUserDefaults::neCornerActionAndData() const
{
    return _cornerActionAndDataForCornerFromDict(kNECorner, &thePrefs);
}

ArvelCornerActionAndData ArvelUserDefaults::swCornerActionAndData() const
{
    return _cornerActionAndDataForCornerFromDict(kSWCorner, &thePrefs);
}

ArvelCornerActionAndData ArvelUserDefaults::seCornerActionAndData() const
{
    return _cornerActionAndDataForCornerFromDict(kSECorner, &thePrefs);
}

void ArvelUserDefaults::setNWCornerActionAndData(const ArvelCornerActionAndData& pair)
{
    _setCornerActionAndDataForCornerForDict(pair, kNWCorner, &thePrefs);
}

void ArvelUserDefaults::setNECornerActionAndData(const ArvelCornerActionAndData& pair)
{
    _setCornerActionAndDataForCornerForDict(pair, kNECorner, &thePrefs);
}

void ArvelUserDefaults::setSWCornerActionAndData(const ArvelCornerActionAndData& pair)
{
    _setCornerActionAndDataForCornerForDict(pair, kSWCorner, &thePrefs);
}

void ArvelUserDefaults::setSECornerActionAndData(const ArvelCornerActionAndData& pair)
{
    _setCornerActionAndDataForCornerForDict(pair, kSECorner, &thePrefs);
}

std::int32_t ArvelUserDefaults::cornerSize() const
{
    return readInteger(thePrefs, kCornerSize);
}

void ArvelUserDefaults::setCornerSize(std::int32_t size)
{
    writeInteger(thePrefs, kCornerSize, size);
}

bool ArvelUserDefaults::ignoreWhileExternalMouse() const
{
    return readBoolean(thePrefs, kIgnoreWhileExternalMouse);
}

void ArvelUserDefaults::setIgnoreWhileExternalMouse(bool on)
{
    writeBoolean(thePrefs, kIgnoreWhileExternalMouse, on);
}

bool ArvelUserDefaults::ignoreWhileTyping() const
{
    return readBoolean(thePrefs, kIgnoreWhileTyping);
}

void ArvelUserDefaults::setIgnoreWhileTyping(bool on)
{
    writeBoolean(thePrefs, kIgnoreWhileTyping, on);
}

std::int32_t ArvelUserDefaults::ignoreWhileTypingMS() const
{
    return readInteger(thePrefs, kIgnoreWhileTypingMS);
}

void ArvelUserDefaults::setIgnoreWhileTypingMS(std::int32_t milliseconds)
{
    writeInteger(thePrefs, kIgnoreWhileTypingMS, milliseconds);
}

bool ArvelUserDefaults::ignoreWhileTypingEdgeFilter() const
{
    return readBoolean(thePrefs, kIgnoreWhileTypingEdgeFilter);
}

void ArvelUserDefaults::setIgnoreWhileTypingEdgeFilter(bool on)
{
    writeBoolean(thePrefs, kIgnoreWhileTypingEdgeFilter, on);
}

bool ArvelUserDefaults::ignoreWhileTypingMotionOverride() const
{
    return readBoolean(thePrefs, kIgnoreWhileTypingMotionOverride);
}

void ArvelUserDefaults::setIgnoreWhileTypingMotionOverride(bool on)
{
    writeBoolean(thePrefs, kIgnoreWhileTypingMotionOverride, on);
}

bool ArvelUserDefaults::ignoreTapInScroll() const
{
    return readBoolean(thePrefs, kIgnoreTapInScroll);
}

void ArvelUserDefaults::setIgnoreTapInScroll(bool on)
{
    writeBoolean(thePrefs, kIgnoreTapInScroll, on);
}

bool ArvelUserDefaults::convertOffAxis() const
{
    return readBoolean(thePrefs, kConvertOffAxis);
}

void ArvelUserDefaults::setConvertOffAxis(bool on)
{
    writeBoolean(thePrefs, kConvertOffAxis, on);
}

std::int32_t ArvelUserDefaults::tapThreshold() const
{
    return readInteger(thePrefs, kTapThreshold);
}

void ArvelUserDefaults::setTapThreshold(std::int32_t threshold)
{
    writeInteger(thePrefs, kTapThreshold, threshold);
}

std::int32_t ArvelUserDefaults::accelerationTable() const
{
    return readInteger(thePrefs, kAccelerationCurve);
}

void ArvelUserDefaults::setAccelerationTable(std::int32_t table)
{
    writeInteger(thePrefs, kAccelerationCurve, table);
}

std::int32_t ArvelUserDefaults::dragReleaseMS() const
{
    return readInteger(thePrefs, kDragReleaseMS);
}

void ArvelUserDefaults::setDragReleaseMS(std::int32_t milliseconds)
{
    writeInteger(thePrefs, kDragReleaseMS, milliseconds);
}

std::int32_t ArvelUserDefaults::mouseKeepMovingSize() const
{
    return readInteger(thePrefs, kMouseKeepMovingSize);
}

void ArvelUserDefaults::setMouseKeepMovingSize(std::int32_t size)
{
    writeInteger(thePrefs, kMouseKeepMovingSize, size);
}

std::int32_t ArvelUserDefaults::scrollKeepMovingSize() const
{
    return readInteger(thePrefs, kScrollKeepMovingSize);
}

void ArvelUserDefaults::setScrollKeepMovingSize(std::int32_t size)
{
    writeInteger(thePrefs, kScrollKeepMovingSize, size);
}

bool ArvelUserDefaults::moveToDefaultButton() const
{
    return readBoolean(thePrefs, kMoveToDefaultButton);
}

void ArvelUserDefaults::setMoveToDefaultButton(bool on)
{
    writeBoolean(thePrefs, kMoveToDefaultButton, on);
}

bool ArvelUserDefaults::noAccessibilityWarn() const
{
    return readBoolean(thePrefs, kAccessNoWarn);
}

void ArvelUserDefaults::setNoAccessibilityWarn(bool on)
{
    writeBoolean(thePrefs, kAccessNoWarn, on);
}

// ---- Corners

ArvelCornerActionAndData ArvelUserDefaults::_cornerActionAndDataForCornerFromDict(
    std::string_view corner, const Value* dict) const
{
    if (!dict)
        return {};
    const Value& stored = (*dict)[corner];
    auto action = storedInteger(stored["Action"]);
    if (!inRange(action, 0, 7))
        return {};
    auto a = static_cast<std::int32_t>(*action);
    if (a >= 3 && a <= 6)
        return {a, Value()};
    if (actionCarriesData(a)) {
        const Value& data = stored["Data"];
        if (data.isNumber())
            return {a, data};
    }
    return {};
}

void ArvelUserDefaults::_setCornerActionAndDataForCornerForDict(
    const ArvelCornerActionAndData& pair, std::string_view corner, Value* dict)
{
    if (!dict || static_cast<std::uint32_t>(pair.action) > 7)
        return;
    if (!actionCarriesData(pair.action))
        dict->set(std::string(corner), Value::dictionary({{"Action", pair.action}}));
    else if (pair.data.isNumber())
        dict->set(std::string(corner), Value::dictionary({{"Action", pair.action}, {"Data", pair.data}}));
}

// ---- Application sets

const Value* ArvelUserDefaults::applicationSet(std::string_view appID) const
{
    const auto* sets = thePrefs[kApplicationSet].dictionaryValue();
    if (!sets)
        return nullptr;
    auto it = sets->find(appID);
    return it != sets->end() && it->second.isDictionary() ? &it->second : nullptr;
}

Value* ArvelUserDefaults::mutableApplicationSet(std::string_view appID)
{
    return const_cast<Value*>(std::as_const(*this).applicationSet(appID));
}

std::vector<std::string> ArvelUserDefaults::applicationIDs() const
{
    std::vector<std::string> ids;
    if (const auto* sets = thePrefs[kApplicationSet].dictionaryValue()) {
        for (const auto& entry : *sets)
            ids.push_back(entry.first);
    }
    return ids;
}

std::string ArvelUserDefaults::applicationNameForID(std::string_view appID) const
{
    const Value* set = applicationSet(appID);
    return set ? (*set)["ApplicationName"].stringOr("") : std::string();
}

void ArvelUserDefaults::createApplicationSetForIDWithName(
    std::string_view appID, const std::optional<std::string>& name)
{
    if (!thePrefs[kApplicationSet].isDictionary())
        thePrefs.set(kApplicationSet, Value::dictionary());
    Value& sets = (*thePrefs.dictionaryValue())[kApplicationSet];
    Value& set = (*sets.dictionaryValue())[std::string(appID)];
    // A new set starts empty; an existing one keeps its corners.
    if (!set.isDictionary())
        set = Value::dictionary();
    if (name)
        set.set("ApplicationName", *name);
}

bool ArvelUserDefaults::hasApplicationSetForID(std::string_view appID) const
{
    return applicationSet(appID) != nullptr;
}

void ArvelUserDefaults::removeApplicationSetForID(std::string_view appID)
{
    if (auto* prefs = thePrefs.dictionaryValue()) {
        if (auto it = prefs->find(kApplicationSet); it != prefs->end())
            it->second.remove(appID);
    }
}

ArvelCornerActionAndData ArvelUserDefaults::nwCornerActionAndDataForAppID(std::string_view appID) const
{
    return _cornerActionAndDataForCornerFromDict(kNWCorner, applicationSet(appID));
}

ArvelCornerActionAndData ArvelUserDefaults::neCornerActionAndDataForAppID(std::string_view appID) const
{
    return _cornerActionAndDataForCornerFromDict(kNECorner, applicationSet(appID));
}

ArvelCornerActionAndData ArvelUserDefaults::swCornerActionAndDataForAppID(std::string_view appID) const
{
    return _cornerActionAndDataForCornerFromDict(kSWCorner, applicationSet(appID));
}

ArvelCornerActionAndData ArvelUserDefaults::seCornerActionAndDataForAppID(std::string_view appID) const
{
    return _cornerActionAndDataForCornerFromDict(kSECorner, applicationSet(appID));
}

void ArvelUserDefaults::setNWCornerActionAndDataForAppID(const ArvelCornerActionAndData& pair, std::string_view appID)
{
    _setCornerActionAndDataForCornerForDict(pair, kNWCorner, mutableApplicationSet(appID));
}

void ArvelUserDefaults::setNECornerActionAndDataForAppID(const ArvelCornerActionAndData& pair, std::string_view appID)
{
    _setCornerActionAndDataForCornerForDict(pair, kNECorner, mutableApplicationSet(appID));
}

void ArvelUserDefaults::setSWCornerActionAndDataForAppID(const ArvelCornerActionAndData& pair, std::string_view appID)
{
    _setCornerActionAndDataForCornerForDict(pair, kSWCorner, mutableApplicationSet(appID));
}

void ArvelUserDefaults::setSECornerActionAndDataForAppID(const ArvelCornerActionAndData& pair, std::string_view appID)
{
    _setCornerActionAndDataForCornerForDict(pair, kSECorner, mutableApplicationSet(appID));
}

// ---- System pointer settings

double ArvelUserDefaults::trackpadSpeed() const
{
    return readPointerSpeed(kTrackpadSpeed);
}

void ArvelUserDefaults::setTrackpadSpeed(double speed)
{
    if (kTrackpadSpeed.accepts(speed))
        CFPreferencesSetAppValue(kTrackpadSpeed.key, speed, kCFPreferencesAnyApplication);
}

double ArvelUserDefaults::doubleClickSpeed() const
{
    return readPointerSpeed(kDoubleClickSpeed);
}

void ArvelUserDefaults::setDoubleClickSpeed(double seconds)
{
    if (kDoubleClickSpeed.accepts(seconds))
        CFPreferencesSetAppValue(kDoubleClickSpeed.key, seconds, kCFPreferencesAnyApplication);
}

// ---- The driver's dictionaries

Value ArvelUserDefaults::hidProperties() const
{
    auto tap = trackpadTapActionAndGesture();
    Value arvel = Value::dictionary({
        {"Button", Value::dictionary({{"Action", trackpadButtonAction()}})},
        {"Tap", Value::dictionary({{"Action", tap.action}, {"Gesture", tap.gesture}})},
        {kMouseKeepMoving.key, mouseKeepMoving()},
        {kVerticalScrollEdge.key, verticalScroll()},
        {kVerticalScrollEdgeSize.key, verticalScrollSize()},
        {kVerticalScrollInvert.key, invertVerticalScroll()},
        {kHorizontalScrollEdge.key, horizontalScroll()},
        {kHorizontalScrollEdgeSize.key, horizontalScrollSize()},
        {kHorizontalScrollInvert.key, invertHorizontalScroll()},
        {kVerticalScrollScale.key, verticalScrollScale()},
        {kHorizontalScrollScale.key, horizontalScrollScale()},
        {kScrollKeepMoving.key, scrollKeepMoving()},
        {kNWCorner, cornerDictionary(nwCornerActionAndData())},
        {kNECorner, cornerDictionary(neCornerActionAndData())},
        {kSWCorner, cornerDictionary(swCornerActionAndData())},
        {kSECorner, cornerDictionary(seCornerActionAndData())},
        {kCornerSize.key, cornerSize()},
        {kIgnoreWhileExternalMouse.key, ignoreWhileExternalMouse()},
        {kIgnoreWhileTyping.key, ignoreWhileTyping()},
        {kIgnoreWhileTypingMS.key, ignoreWhileTypingMS()},
        {kIgnoreWhileTypingEdgeFilter.key, ignoreWhileTypingEdgeFilter()},
        {kIgnoreWhileTypingMotionOverride.key, ignoreWhileTypingMotionOverride()},
        {kIgnoreTapInScroll.key, ignoreTapInScroll()},
        {kConvertOffAxis.key, convertOffAxis()},
        {kTapThreshold.key, tapThreshold()},
        {kAccelerationCurve.key, accelerationTable()},
        {kDragReleaseMS.key, dragReleaseMS()},
        {kMouseKeepMovingSize.key, mouseKeepMovingSize()},
        {kScrollKeepMovingSize.key, scrollKeepMovingSize()},
    });
    return Value::dictionary({{"Arvel", std::move(arvel)}});
}

Value ArvelUserDefaults::hidPropertiesWithSystemHIDProperties(const Value& systemProperties) const
{
    Value user = hidProperties();
    Value merged = Value::dictionary();
    if (const auto* system = systemProperties["Arvel"].dictionaryValue()) {
        for (const auto& [key, value] : *system)
            merged.set(key, value);
    }
    for (const auto& [key, value] : *user["Arvel"].dictionaryValue())
        merged.set(key, value);
    return Value::dictionary({{"Arvel", std::move(merged)}});
}

Value ArvelUserDefaults::emptyAppProperties()
{
    return Value::dictionary({{kApplicationSet, Value::dictionary()}});
}

Value ArvelUserDefaults::propertiesForAppID(std::string_view appID) const
{
    if (!hasApplicationSetForID(appID))
        return emptyAppProperties();
    Value corners = Value::dictionary({
        {kNWCorner, cornerDictionary(nwCornerActionAndDataForAppID(appID))},
        {kNECorner, cornerDictionary(neCornerActionAndDataForAppID(appID))},
        {kSWCorner, cornerDictionary(swCornerActionAndDataForAppID(appID))},
        {kSECorner, cornerDictionary(seCornerActionAndDataForAppID(appID))},
    });
    return Value::dictionary({{kApplicationSet, std::move(corners)}});
}
