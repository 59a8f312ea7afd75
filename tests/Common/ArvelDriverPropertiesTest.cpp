#include "UserDefaultsFixture.h"

namespace {

const Value kNoAction = dict({{"Action", 0}});
const Value kCalibration = dict({{"MinX", 120}, {"MinY", 96}, {"MaxX", 1480}, {"MaxY", 1210}});

} // namespace

using TheDriverDictionaries = AliceStoreTest;

TEST_F(TheDriverDictionaries, OfAnEmptyStoreHoldExactlyTheTwentyNineDefaults)
{
    EXPECT_EQ(open()->hidProperties(),
        dict({{"Arvel",
            dict({
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
                {"NWCorner", kNoAction},
                {"NECorner", kNoAction},
                {"SWCorner", kNoAction},
                {"SECorner", kNoAction},
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
            })}}));
}

TEST_F(TheDriverDictionaries, CarryEverySettingUnderItsOwnKeyUnsavedChangesIncluded)
{
    // A different value per setting, none the default, so no two can be mistaken.
    auto valueFor = [](const IntegerCase& c, int index) {
        std::int32_t v = c.readMinimum + (index * 7 + 1) % (c.readMaximum - c.readMinimum + 1);
        return v != c.fallback ? v : v == c.readMaximum ? c.readMinimum : v + 1;
    };
    auto store = open();
    for (int i = 0; const auto& c : kIntegerCases)
        ((*store).*c.set)(valueFor(c, i++));
    for (const auto& c : kBooleanCases)
        ((*store).*c.set)(!c.fallback);
    store->setTrackpadButtonAction(2);
    store->setTrackpadTapActionAndGesture({1, 2});
    store->setNWCornerActionAndData({7, 35 | (1 << 16)});
    store->setNECornerActionAndData({1, 1 << 17});
    store->setSWCornerActionAndData({3, 99});
    store->setSECornerActionAndData({6, Value()});

    Value arvel = store->hidProperties()["Arvel"];
    EXPECT_EQ(arvel.count(), 29u);
    for (int i = 0; const auto& c : kIntegerCases)
        EXPECT_EQ(arvel[c.key], Value(valueFor(c, i++))) << c.key;
    for (const auto& c : kBooleanCases)
        EXPECT_EQ(arvel[c.key], c.toDriver ? Value(!c.fallback) : Value()) << c.key;
    EXPECT_EQ(arvel["Button"], dict({{"Action", 2}}));
    EXPECT_EQ(arvel["Tap"], dict({{"Action", 1}, {"Gesture", 2}}));
    EXPECT_EQ(arvel["NWCorner"], dict({{"Action", 7}, {"Data", 65571}}));
    EXPECT_EQ(arvel["NECorner"], dict({{"Action", 1}, {"Data", 131072}}));
    EXPECT_EQ(arvel["SWCorner"], dict({{"Action", 3}}));
    EXPECT_EQ(arvel["SECorner"], dict({{"Action", 6}}));
}

TEST_F(TheDriverDictionaries, SendStoredCornersWithTheirDataOrAsNoAction)
{
    Value arvel = openWith(currentDomain({{"NWCorner", dict({{"Action", 7}, {"Data", 35 | (1 << 16)}})},
                               {"NECorner", dict({{"Action", 1}})}, {"SWCorner", dict({{"Action", 5}, {"Data", 3}})},
                               {"SECorner", dict({{"Action", 9}})}}))
                      ->hidProperties()["Arvel"];
    EXPECT_EQ(arvel["NWCorner"], dict({{"Action", 7}, {"Data", 65571}}));
    EXPECT_EQ(arvel["NECorner"], kNoAction);
    EXPECT_EQ(arvel["SWCorner"], dict({{"Action", 5}}));
    EXPECT_EQ(arvel["SECorner"], kNoAction);
}

TEST_F(TheDriverDictionaries, MergeTheSystemEntriesUnderTheUsers)
{
    auto store = open();
    store->setCornerSize(12);
    Value user = store->hidProperties();
    EXPECT_EQ(store->hidPropertiesWithSystemHIDProperties(Value()), user);
    for (Value malformed :
        {dict({{"Arvel", "Calibration"}}), Value::array({kCalibration}), dict({{"Arvel", dict({})}})})
        EXPECT_EQ(store->hidPropertiesWithSystemHIDProperties(malformed), user) << malformed;

    Value merged = store->hidPropertiesWithSystemHIDProperties(
        dict({{"Arvel", dict({{"Calibration", kCalibration}, {"CornerSize", 20}})}, {"Other", 1}}));
    Value expected = user["Arvel"];
    expected.set("Calibration", kCalibration);
    EXPECT_EQ(merged, dict({{"Arvel", expected}})) << "30 entries; on equal keys the user's wins";
}

TEST_F(TheDriverDictionaries, ForAnApplicationCarryItsFourCornersOrTheEmptyForm)
{
    auto store = openWith(currentDomain({{"NWCorner", dict({{"Action", 4}})},
        {"ApplicationSet",
            dict({{"com.example.Mail", dict({{"ApplicationName", "Mail"}})},
                {"com.example.Notes",
                    dict({{"ApplicationName", "Notes"}, {"NWCorner", dict({{"Action", 7}, {"Data", 65571}})},
                        {"SECorner", dict({{"Action", 2}})}, {"SWCorner", dict({{"Action", 3}, {"Data", 1}})}})}})}}));
    const Value empty = dict({{"ApplicationSet", dict({})}});
    EXPECT_EQ(ArvelUserDefaults::emptyAppProperties(), empty);
    EXPECT_EQ(store->propertiesForAppID("com.example.Unknown"), empty);
    EXPECT_EQ(store->propertiesForAppID("com.example.Mail"),
        dict({{"ApplicationSet",
            dict({{"NWCorner", kNoAction}, {"NECorner", kNoAction}, {"SWCorner", kNoAction},
                {"SECorner", kNoAction}})}}))
        << "a set holding only a name overrides every corner with no action";
    EXPECT_EQ(store->propertiesForAppID("com.example.Notes"),
        dict({{"ApplicationSet",
            dict({{"NWCorner", dict({{"Action", 7}, {"Data", 65571}})}, {"NECorner", kNoAction},
                {"SWCorner", dict({{"Action", 3}})}, {"SECorner", kNoAction}})}}));
}
