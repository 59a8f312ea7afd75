// Shared by the settings-store tests: alice (501) acting on a fresh disk,
// verbs to seed and read her domain, and the tables of typed settings.
#pragma once

#include "Common/ArvelUserDefaults.h"
#include "support/PreferencesTestMachine.h"

#include <gtest/gtest.h>
#include <stdexcept>

inline const std::string kAliceDomain = "/Users/alice/Library/Preferences/com.tessmoor.Arvel.plist";

inline Value dict(std::initializer_list<std::pair<const std::string, Value>> entries)
{
    return Value::dictionary(entries);
}

// A domain at the current version, so opening it writes nothing.
inline Value currentDomain(std::initializer_list<std::pair<const std::string, Value>> entries)
{
    return dict(entries).set("PrefsVersion", 4);
}

class AliceStoreTest : public ::testing::Test {
protected:
    PreferencesTestMachine machine;

    AliceStoreTest()
    {
        machine.addUser("alice", 501);
        machine.addUser("bob", 502);
        machine.actAs(501);
    }

    void seed(const Value& domain) { machine.writeDomain(kAliceDomain, domain); }

    Value stored() const { return machine.readDomain(kAliceDomain); }

    std::shared_ptr<ArvelUserDefaults> open()
    {
        auto store = ArvelUserDefaults::create();
        if (!store)
            throw std::runtime_error("no store");
        return store;
    }

    std::shared_ptr<ArvelUserDefaults> openWith(const Value& domain)
    {
        seed(domain);
        return open();
    }
};

// Every integer setting: its key (also the driver's key), accessors,
// default, the range read and the range stored.
struct IntegerCase {
    const char* key;
    std::int32_t (ArvelUserDefaults::*get)() const;
    void (ArvelUserDefaults::*set)(std::int32_t);
    std::int32_t fallback, readMinimum, readMaximum, writeMinimum, writeMaximum;
};

// clang-format off
inline const IntegerCase kIntegerCases[] = {
    {"VerticalScrollEdge", &ArvelUserDefaults::verticalScroll, &ArvelUserDefaults::setVerticalScroll, 0, 0, 3, 0, 3},
    {"VerticalScrollEdgeSize", &ArvelUserDefaults::verticalScrollSize, &ArvelUserDefaults::setVerticalScrollSize, 10, 2, 18, 2, 18},
    {"HorizontalScrollEdge", &ArvelUserDefaults::horizontalScroll, &ArvelUserDefaults::setHorizontalScroll, 0, 0, 3, 0, 3},
    {"HorizontalScrollEdgeSize", &ArvelUserDefaults::horizontalScrollSize, &ArvelUserDefaults::setHorizontalScrollSize, 10, 2, 18, 2, 18},
    {"VerticalScrollScale", &ArvelUserDefaults::verticalScrollScale, &ArvelUserDefaults::setVerticalScrollScale, 15, 5, 25, 5, 25},
    {"HorizontalScrollScale", &ArvelUserDefaults::horizontalScrollScale, &ArvelUserDefaults::setHorizontalScrollScale, 15, 5, 25, 5, 25},
    {"CornerSize", &ArvelUserDefaults::cornerSize, &ArvelUserDefaults::setCornerSize, 15, 10, 20, 5, 25},
    {"IgnoreWhileTypingMS", &ArvelUserDefaults::ignoreWhileTypingMS, &ArvelUserDefaults::setIgnoreWhileTypingMS, 200, 200, 2000, 200, 2000},
    {"TapThreshold", &ArvelUserDefaults::tapThreshold, &ArvelUserDefaults::setTapThreshold, 20, 0, 35, 0, 35},
    {"AccelerationCurve", &ArvelUserDefaults::accelerationTable, &ArvelUserDefaults::setAccelerationTable, 0, 0, 2, 0, 2},
    {"DragReleaseMS", &ArvelUserDefaults::dragReleaseMS, &ArvelUserDefaults::setDragReleaseMS, 700, 100, 1200, 100, 1200},
    {"MouseKeepMovingSize", &ArvelUserDefaults::mouseKeepMovingSize, &ArvelUserDefaults::setMouseKeepMovingSize, 8, 5, 15, 5, 15},
    {"ScrollKeepMovingSize", &ArvelUserDefaults::scrollKeepMovingSize, &ArvelUserDefaults::setScrollKeepMovingSize, 18, 10, 25, 10, 25},
};

// clang-format on

struct BooleanCase {
    const char* key;
    bool (ArvelUserDefaults::*get)() const;
    void (ArvelUserDefaults::*set)(bool);
    bool fallback;
    bool toDriver;
};

// clang-format off
inline const BooleanCase kBooleanCases[] = {
    {"MouseKeepMoving", &ArvelUserDefaults::mouseKeepMoving, &ArvelUserDefaults::setMouseKeepMoving, false, true},
    {"VerticalScrollInvert", &ArvelUserDefaults::invertVerticalScroll, &ArvelUserDefaults::setInvertVerticalScroll, false, true},
    {"HorizontalScrollInvert", &ArvelUserDefaults::invertHorizontalScroll, &ArvelUserDefaults::setInvertHorizontalScroll, false, true},
    {"ScrollKeepMoving", &ArvelUserDefaults::scrollKeepMoving, &ArvelUserDefaults::setScrollKeepMoving, false, true},
    {"IgnoreWhileExternalMouse", &ArvelUserDefaults::ignoreWhileExternalMouse, &ArvelUserDefaults::setIgnoreWhileExternalMouse, false, true},
    {"IgnoreWhileTyping", &ArvelUserDefaults::ignoreWhileTyping, &ArvelUserDefaults::setIgnoreWhileTyping, false, true},
    {"IgnoreWhileTypingEdgeFilter", &ArvelUserDefaults::ignoreWhileTypingEdgeFilter, &ArvelUserDefaults::setIgnoreWhileTypingEdgeFilter, false, true},
    {"IgnoreWhileTypingMotionOverride", &ArvelUserDefaults::ignoreWhileTypingMotionOverride, &ArvelUserDefaults::setIgnoreWhileTypingMotionOverride, true, true},
    {"IgnoreTapInScroll", &ArvelUserDefaults::ignoreTapInScroll, &ArvelUserDefaults::setIgnoreTapInScroll, false, true},
    {"ConvertOffAxis", &ArvelUserDefaults::convertOffAxis, &ArvelUserDefaults::setConvertOffAxis, false, true},
    {"MoveToDefaultButton", &ArvelUserDefaults::moveToDefaultButton, &ArvelUserDefaults::setMoveToDefaultButton, false, false},
    {"AccessNoWarn", &ArvelUserDefaults::noAccessibilityWarn, &ArvelUserDefaults::setNoAccessibilityWarn, false, false},
};
// clang-format on
