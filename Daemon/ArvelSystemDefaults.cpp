#include "Daemon/ArvelSystemDefaults.h"

#include "Defaults/CFPreferences.h"
#include "Log/Log.h"

namespace {

constexpr const char* kDomain = "com.tessmoor.Arvel";
constexpr const char* kPrefsVersionKey = "PrefsVersion";
constexpr const char* kCalibrationKey = "Calibration";
constexpr const char* kLoginWindowTapKey = "LoginWindowTap";
constexpr std::int64_t kCurrentPrefsVersion = 4;
constexpr std::uint32_t kMaximumCalibrationExtent = 3000;
const char* const kCalibrationAxes[] = {"MinX", "MinY", "MaxX", "MaxY"};

// Calibration values are read as unsigned 32-bit integers, as the driver
// reports them.
std::optional<std::uint32_t> axis(const Value& calibration, const char* key)
{
    auto v = calibration[key].integer();
    if (!v)
        return std::nullopt;
    return static_cast<std::uint32_t>(*v);
}

Value dictionaryOf(std::initializer_list<std::pair<const std::string, Value>> entries)
{
    return Value::dictionary(entries);
}

} // namespace

ArvelSystemDefaults::ArvelSystemDefaults()
{
    syncFromDisk();
    _migratePrefsForward();
}

void ArvelSystemDefaults::syncFromDisk()
{
    Value working = Value::dictionary();
    if (!CFPreferencesSynchronize(kDomain, kCFPreferencesAnyUser, kCFPreferencesCurrentHost)) {
        logError("ArvelSystemDefaults error: Unable to synchronize system defaults.\n");
    } else {
        Value keys = Value::array({kCalibrationKey, kLoginWindowTapKey, kPrefsVersionKey});
        Value found = CFPreferencesCopyMultiple(keys, kDomain, kCFPreferencesAnyUser, kCFPreferencesCurrentHost);
        if (!found.isDictionary())
            logError("ArvelSystemDefaults error: Unable to load system defaults.\n");
        else
            working = std::move(found);
    }
    thePrefs = std::move(working);
}

void ArvelSystemDefaults::syncToDisk()
{
    Value stored = CFPreferencesCopyKeyList(kDomain, kCFPreferencesAnyUser, kCFPreferencesCurrentHost);
    if (stored.isArray()) {
        CFPreferencesSetMultiple(Value(), stored, kDomain, kCFPreferencesAnyUser, kCFPreferencesCurrentHost);
        CFPreferencesSynchronize(kDomain, kCFPreferencesAnyUser, kCFPreferencesCurrentHost);
    }
    CFPreferencesSetMultiple(thePrefs, Value(), kDomain, kCFPreferencesAnyUser, kCFPreferencesCurrentHost);
    // A refused write (only root may write the machine's domain) would
    // otherwise pass unnoticed while the next read silently drops the change.
    if (!CFPreferencesSynchronize(kDomain, kCFPreferencesAnyUser, kCFPreferencesCurrentHost))
        logError("ArvelSystemDefaults error: Unable to save system defaults.\n");
    syncFromDisk();
}

bool ArvelSystemDefaults::isValidCalibration(const Value& calibration)
{
    if (!calibration.isDictionary())
        return false;
    auto minX = axis(calibration, "MinX");
    auto minY = axis(calibration, "MinY");
    auto maxX = axis(calibration, "MaxX");
    auto maxY = axis(calibration, "MaxY");
    return minX && minY && maxX && maxY && *minX != 0 && *minY != 0 && *maxX <= kMaximumCalibrationExtent
        && *maxY <= kMaximumCalibrationExtent;
}

Value ArvelSystemDefaults::calibration()
{
    const Value& stored = thePrefs[kCalibrationKey];
    if (!isValidCalibration(stored))
        return Value();
    Value result = Value::dictionary();
    for (const char* key : kCalibrationAxes)
        result.set(key, stored[key]);
    return result;
}

void ArvelSystemDefaults::setCalibration(const Value& calibration)
{
    if (!isValidCalibration(calibration))
        return;
    Value stored = Value::dictionary();
    for (const char* key : kCalibrationAxes)
        stored.set(key, calibration[key]);
    thePrefs.set(kCalibrationKey, std::move(stored));
}

void ArvelSystemDefaults::clearCalibration()
{
    thePrefs.remove(kCalibrationKey);
    CFPreferencesSetMultiple(Value(), Value::array({kCalibrationKey}), kDomain, kCFPreferencesAnyUser, kCFPreferencesCurrentHost);
}

bool ArvelSystemDefaults::loginwindowTap()
{
    return thePrefs[kLoginWindowTapKey].booleanOr(false);
}

void ArvelSystemDefaults::setLoginwindowTap(bool on)
{
    thePrefs.set(kLoginWindowTapKey, on);
}

Value ArvelSystemDefaults::hidProperties()
{
    Value inner = Value::dictionary();
    Value cal = calibration();
    if (!cal.isNil())
        inner.set(kCalibrationKey, std::move(cal));
    return dictionaryOf({{"Arvel", std::move(inner)}});
}

Value ArvelSystemDefaults::preloginHIDProperties()
{
    Value inner = hidProperties()["Arvel"];
    auto action = [](int a) { return dictionaryOf({{"Action", a}}); };
    inner.set("Button", action(1));
    inner.set("Tap", dictionaryOf({{"Action", loginwindowTap() ? 1 : 0}, {"Gesture", 0}}));
    inner.set("IgnoreWhileTyping", false);
    inner.set("IgnoreWhileExternalMouse", false);
    inner.set("VerticalScrollEdge", 0);
    inner.set("VerticalScrollEdgeSize", 10);
    inner.set("VerticalScrollInvert", false);
    inner.set("HorizontalScrollEdge", 0);
    inner.set("HorizontalScrollEdgeSize", 10);
    inner.set("HorizontalScrollInvert", false);
    inner.set("VerticalScrollScale", 15);
    inner.set("HorizontalScrollScale", 15);
    inner.set("IgnoreTapInScroll", false);
    inner.set("ConvertOffAxis", false);
    inner.set("TapThreshold", 20);
    for (const char* corner : {"NWCorner", "NECorner", "SWCorner", "SECorner"})
        inner.set(corner, action(0));
    inner.set("CornerSize", 15);
    inner.set("AccelerationCurve", 0);
    return dictionaryOf({{"Arvel", std::move(inner)}});
}

void ArvelSystemDefaults::_migratePrefsForward()
{
    bool dirty = false;
    bool fromVersion3 = false;
    auto version = [this] { return thePrefs[kPrefsVersionKey]; };
    if (version().isNil())
        dirty = true;
    if (version().isNumber() && version().integer() == 1) {
        logNotice("ArvelSystemDefaults: Found incompatible preference version 1, resetting preferences.\n");
        thePrefs = Value::dictionary();
        dirty = true;
    }
    if (version().isNumber() && version().integer() == 2) {
        logNotice("ArvelSystemDefaults: Migrating from version 2 preferences.\n");
        dirty = true;
    }
    if (version().isNumber() && version().integer() == 3) {
        logNotice("ArvelSystemDefaults: Migrating from version 3 preferences.\n");
        fromVersion3 = true;
    }
    if (fromVersion3 || dirty) {
        thePrefs.set(kPrefsVersionKey, kCurrentPrefsVersion);
        syncToDisk();
    }
}
