#include "Common/ArvelUserDefaults.h"
#include "support/PreferencesTestMachine.h"

#include <gtest/gtest.h>

namespace {

const std::string kAliceDomain = "/Users/alice/Library/Preferences/com.tessmoor.Arvel.plist";

Value dict(std::initializer_list<std::pair<const std::string, Value>> entries)
{
    return Value::dictionary(entries);
}

const Value kActionZero = dict({{"Action", 0}});

// What the driver is given for a user who never changed a setting.
Value defaultArvelEntries()
{
    return dict({
        {"Button", dict({{"Action", 1}})},
        {"Tap", dict({{"Action", 0}, {"Gesture", 0}})},
        {"MouseKeepMoving", false},
        {"VerticalScrollEdge", 0},
        {"VerticalScrollEdgeSize", 10},
        {"VerticalScrollInvert", false},
        {"HorizontalScrollEdge", 0},
        {"HorizontalScrollEdgeSize", 10},
        {"HorizontalScrollInvert", false},
        {"VerticalScrollScale", 15},
        {"HorizontalScrollScale", 15},
        {"ScrollKeepMoving", false},
        {"NWCorner", kActionZero},
        {"NECorner", kActionZero},
        {"SWCorner", kActionZero},
        {"SECorner", kActionZero},
        {"CornerSize", 15},
        {"IgnoreWhileExternalMouse", false},
        {"IgnoreWhileTyping", false},
        {"IgnoreWhileTypingMS", 200},
        {"IgnoreWhileTypingEdgeFilter", false},
        {"IgnoreWhileTypingMotionOverride", true},
        {"IgnoreTapInScroll", false},
        {"ConvertOffAxis", false},
        {"TapThreshold", 20},
        {"AccelerationCurve", 0},
        {"DragReleaseMS", 700},
        {"MouseKeepMovingSize", 8},
        {"ScrollKeepMovingSize", 18},
    });
}

const Value kCalibration = dict({{"MinX", 120}, {"MinY", 96}, {"MaxX", 1480}, {"MaxY", 1210}});

} // namespace

class TheDriverDictionaries : public ::testing::Test {
protected:
    PreferencesTestMachine machine;
    TheDriverDictionaries()
    {
        machine.addUser("alice", 501);
        machine.actAs(501);
    }
    std::shared_ptr<ArvelUserDefaults> openWith(const Value& domain)
    {
        machine.writeDomain(kAliceDomain, domain);
        return ArvelUserDefaults::create();
    }
};

TEST_F(TheDriverDictionaries, OfAnEmptyStoreHoldExactlyTheTwentyNineDefaults)
{
    auto store = ArvelUserDefaults::create();
    Value properties = store->hidProperties();
    EXPECT_EQ(properties, dict({{"Arvel", defaultArvelEntries()}}));
    EXPECT_EQ(properties["Arvel"].count(), 29u);
    for (const char* key : {"VerticalScrollEdge", "TapThreshold", "DragReleaseMS"})
        EXPECT_TRUE(properties["Arvel"][key].isInteger()) << key;
    for (const char* key : {"MouseKeepMoving", "IgnoreWhileTypingMotionOverride"})
        EXPECT_TRUE(properties["Arvel"][key].isBoolean()) << key;
}

TEST_F(TheDriverDictionaries, CarryEverySettingUnderItsOwnKeyUnsavedChangesIncluded)
{
    auto store = openWith(dict({{"PrefsVersion", 4},
        {"MoveToDefaultButton", true},
        {"AccessNoWarn", true},
        {"ApplicationSet", dict({{"com.example.Mail", dict({{"ApplicationName", "Mail"}})}})}}));
    store->setTrackpadButtonAction(2);
    store->setTrackpadTapActionAndGesture({1, 2});
    store->setMouseKeepMoving(true);
    store->setVerticalScroll(1);
    store->setVerticalScrollSize(3);
    store->setInvertVerticalScroll(true);
    store->setHorizontalScroll(2);
    store->setHorizontalScrollSize(4);
    store->setInvertHorizontalScroll(true);
    store->setVerticalScrollScale(6);
    store->setHorizontalScrollScale(7);
    store->setScrollKeepMoving(true);
    store->setNWCornerActionAndData({7, 35 | (1 << 16)});
    store->setNECornerActionAndData({1, 1 << 17});
    store->setSWCornerActionAndData({3, 99});
    store->setSECornerActionAndData({6, Value()});
    store->setCornerSize(11);
    store->setIgnoreWhileExternalMouse(true);
    store->setIgnoreWhileTyping(true);
    store->setIgnoreWhileTypingMS(1500);
    store->setIgnoreWhileTypingEdgeFilter(true);
    store->setIgnoreWhileTypingMotionOverride(false);
    store->setIgnoreTapInScroll(true);
    store->setConvertOffAxis(true);
    store->setTapThreshold(33);
    store->setAccelerationTable(2);
    store->setDragReleaseMS(1100);
    store->setMouseKeepMovingSize(13);
    store->setScrollKeepMovingSize(24);
    EXPECT_EQ(store->hidProperties(),
        dict({{"Arvel",
            dict({
                {"Button", dict({{"Action", 2}})},
                {"Tap", dict({{"Action", 1}, {"Gesture", 2}})},
                {"MouseKeepMoving", true},
                {"VerticalScrollEdge", 1},
                {"VerticalScrollEdgeSize", 3},
                {"VerticalScrollInvert", true},
                {"HorizontalScrollEdge", 2},
                {"HorizontalScrollEdgeSize", 4},
                {"HorizontalScrollInvert", true},
                {"VerticalScrollScale", 6},
                {"HorizontalScrollScale", 7},
                {"ScrollKeepMoving", true},
                {"NWCorner", dict({{"Action", 7}, {"Data", 65571}})},
                {"NECorner", dict({{"Action", 1}, {"Data", 131072}})},
                {"SWCorner", dict({{"Action", 3}})},
                {"SECorner", dict({{"Action", 6}})},
                {"CornerSize", 11},
                {"IgnoreWhileExternalMouse", true},
                {"IgnoreWhileTyping", true},
                {"IgnoreWhileTypingMS", 1500},
                {"IgnoreWhileTypingEdgeFilter", true},
                {"IgnoreWhileTypingMotionOverride", false},
                {"IgnoreTapInScroll", true},
                {"ConvertOffAxis", true},
                {"TapThreshold", 33},
                {"AccelerationCurve", 2},
                {"DragReleaseMS", 1100},
                {"MouseKeepMovingSize", 13},
                {"ScrollKeepMovingSize", 24},
            })}}));
}

TEST_F(TheDriverDictionaries, SendStoredCornersWithTheirDataOrAsNoAction)
{
    auto store = openWith(dict({{"PrefsVersion", 4},
        {"NWCorner", dict({{"Action", 7}, {"Data", 35 | (1 << 16)}})},
        {"NECorner", dict({{"Action", 1}})},
        {"SWCorner", dict({{"Action", 5}, {"Data", 3}})},
        {"SECorner", dict({{"Action", 9}})},
        {"CornerSize", 22}}));
    Value arvel = store->hidProperties()["Arvel"];
    EXPECT_EQ(arvel["NWCorner"], dict({{"Action", 7}, {"Data", 65571}}));
    EXPECT_EQ(arvel["NECorner"], kActionZero);
    EXPECT_EQ(arvel["SWCorner"], dict({{"Action", 5}}));
    EXPECT_EQ(arvel["SECorner"], kActionZero);
    EXPECT_EQ(arvel["CornerSize"], Value(15));
}

TEST_F(TheDriverDictionaries, MergeTheSystemEntriesUnderTheUsers)
{
    auto store = ArvelUserDefaults::create();
    store->setCornerSize(12);
    Value user = store->hidProperties();
    EXPECT_EQ(store->hidPropertiesWithSystemHIDProperties(Value()), user);
    EXPECT_EQ(store->hidPropertiesWithSystemHIDProperties(dict({{"Arvel", dict({})}})), user);

    Value merged = store->hidPropertiesWithSystemHIDProperties(
        dict({{"Arvel", dict({{"Calibration", kCalibration}, {"CornerSize", 20}})}, {"Other", 1}}));
    Value expected = user["Arvel"];
    expected.set("Calibration", kCalibration);
    EXPECT_EQ(merged, dict({{"Arvel", expected}}));
    EXPECT_EQ(merged["Arvel"].count(), 30u);
    EXPECT_EQ(merged["Arvel"]["CornerSize"], Value(12)) << "the user's entry wins";

    for (Value malformed : {dict({{"Arvel", "Calibration"}}), Value::array({kCalibration}), Value(3)})
        EXPECT_EQ(store->hidPropertiesWithSystemHIDProperties(malformed), user) << malformed;
}

TEST_F(TheDriverDictionaries, ForAnApplicationCarryItsFourCornersOrTheEmptyForm)
{
    auto store = openWith(dict({{"PrefsVersion", 4},
        {"NWCorner", dict({{"Action", 4}})},
        {"ApplicationSet",
            dict({{"com.example.Mail", dict({{"ApplicationName", "Mail"}})},
                {"com.example.Notes",
                    dict({{"ApplicationName", "Notes"},
                        {"NWCorner", dict({{"Action", 7}, {"Data", 65571}})},
                        {"SECorner", dict({{"Action", 2}})},
                        {"SWCorner", dict({{"Action", 3}, {"Data", 1}})}})}})}}));
    const Value empty = dict({{"ApplicationSet", dict({})}});
    EXPECT_EQ(ArvelUserDefaults::emptyAppProperties(), empty);
    EXPECT_EQ(store->propertiesForAppID("com.example.Unknown"), empty);
    EXPECT_EQ(store->propertiesForAppID("com.example.Mail"),
        dict({{"ApplicationSet",
            dict({{"NWCorner", kActionZero}, {"NECorner", kActionZero}, {"SWCorner", kActionZero},
                {"SECorner", kActionZero}})}}))
        << "a set holding only a name overrides every corner with no action";
    EXPECT_EQ(store->propertiesForAppID("com.example.Notes"),
        dict({{"ApplicationSet",
            dict({{"NWCorner", dict({{"Action", 7}, {"Data", 65571}})}, {"NECorner", kActionZero},
                {"SWCorner", dict({{"Action", 3}})}, {"SECorner", kActionZero}})}}));

    store->removeApplicationSetForID("com.example.Notes");
    EXPECT_EQ(store->propertiesForAppID("com.example.Notes"), empty);
}
