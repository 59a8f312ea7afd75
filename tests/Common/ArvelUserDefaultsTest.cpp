#include "Common/ArvelUserDefaults.h"
#include "Defaults/NSUserDefaults.h"
#include "machine/Machine.h"
#include "support/PreferencesTestMachine.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

const std::string kAliceDomain = "/Users/alice/Library/Preferences/com.tessmoor.Arvel.plist";
const std::string kBobDomain = "/Users/bob/Library/Preferences/com.tessmoor.Arvel.plist";
const std::string kAliceGlobal = "/Users/alice/Library/Preferences/.GlobalPreferences.plist";

const std::string kFoundVersionOne = "ArvelUserDefaults: Found incompatible preference version 1, resetting preferences.";
const std::string kTwoToThree = "ArvelUserDefaults: Migrating from version 2 to version 3 preferences.";
const std::string kThreeToFour = "ArvelUserDefaults: Migrating from version 3 to version 4 preferences.";

using Lines = std::vector<std::string>;
using Corner = ArvelCornerActionAndData;
using Tap = ArvelTapActionAndGesture;

Value dict(std::initializer_list<std::pair<const std::string, Value>> entries)
{
    return Value::dictionary(entries);
}

Value currentDomain(std::initializer_list<std::pair<const std::string, Value>> entries)
{
    Value domain = Value::dictionary(entries);
    domain.set("PrefsVersion", 4);
    return domain;
}

} // namespace

class AUserDefaultsStore : public ::testing::Test {
protected:
    PreferencesTestMachine machine;

    AUserDefaultsStore()
    {
        machine.addUser("alice", 501);
        machine.addUser("bob", 502);
        machine.actAs(501);
    }
    ~AUserDefaultsStore() override { ArvelUserDefaults::resetSharedInstanceForTesting(); }

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

// ---- Migration

TEST_F(AUserDefaultsStore, WithoutADomainIsStampedVersionFourWithAnEmptyApplicationSet)
{
    auto store = open();
    EXPECT_EQ(stored(), dict({{"ApplicationSet", dict({})}, {"PrefsVersion", 4}}));
    EXPECT_TRUE(store->applicationIDs().empty());
    EXPECT_TRUE(machine.logLines().empty());
}

TEST_F(AUserDefaultsStore, WithoutAVersionKeepsItsSettingsAndIsStamped)
{
    auto store = openWith(dict({{"CornerSize", 12}, {"VerticalScroll", 2}}));
    EXPECT_EQ(stored(), dict({{"ApplicationSet", dict({})}, {"CornerSize", 12}, {"PrefsVersion", 4}, {"VerticalScroll", 2}}))
        << "no rename without a version-3 migration";
    EXPECT_EQ(store->cornerSize(), 12);
    EXPECT_TRUE(machine.logLines().empty());
}

TEST_F(AUserDefaultsStore, AtVersionOneIsEmptiedApplicationSetsIncluded)
{
    auto store = openWith(dict({{"PrefsVersion", 1},
        {"CornerSize", 12},
        {"ApplicationSet", dict({{"com.example.Mail", dict({{"ApplicationName", "Mail"}})}})}}));
    EXPECT_EQ(machine.logLines(), Lines{kFoundVersionOne});
    EXPECT_EQ(stored(), dict({{"PrefsVersion", 4}}));
    EXPECT_EQ(store->cornerSize(), 15);
    EXPECT_TRUE(store->applicationIDs().empty());
    store->createApplicationSetForIDWithName("com.example.Mail", "Mail");
    EXPECT_TRUE(store->hasApplicationSetForID("com.example.Mail")) << "the working copy has its application sets again";
}

TEST_F(AUserDefaultsStore, AtVersionTwoSplitsTheScrollScaleAndRenamesTheEdgeKeys)
{
    auto store = openWith(dict({{"PrefsVersion", 2}, {"ScrollScale", 12}, {"VerticalScroll", 1}, {"TapThreshold", 30}}));
    EXPECT_EQ(machine.logLines(), (Lines{kTwoToThree, kThreeToFour}));
    EXPECT_EQ(stored(), dict({{"ApplicationSet", dict({})},
                            {"HorizontalScrollScale", 12},
                            {"PrefsVersion", 4},
                            {"TapThreshold", 30},
                            {"VerticalScrollEdge", 1},
                            {"VerticalScrollScale", 12}}));
    EXPECT_EQ(store->verticalScrollScale(), 12);
    EXPECT_EQ(store->horizontalScrollScale(), 12);
    EXPECT_EQ(store->verticalScroll(), 1);
}

TEST_F(AUserDefaultsStore, AtVersionTwoWithoutAScrollScaleLogsBothStepsAndIsStamped)
{
    openWith(dict({{"PrefsVersion", 2}, {"HorizontalScrollScale", 20}}));
    EXPECT_EQ(machine.logLines(), (Lines{kTwoToThree, kThreeToFour}));
    EXPECT_EQ(stored(), dict({{"ApplicationSet", dict({})}, {"HorizontalScrollScale", 20}, {"PrefsVersion", 4}}));
}

TEST_F(AUserDefaultsStore, AtVersionThreeMovesTheFourEdgeKeysToTheirNewNames)
{
    Value sets = dict({{"com.example.Mail", dict({{"NWCorner", dict({{"Action", 3}})}})}});
    auto store = openWith(dict({{"PrefsVersion", 3},
        {"VerticalScroll", 2},
        {"VerticalScrollSize", 4},
        {"HorizontalScroll", 3},
        {"HorizontalScrollSize", 14},
        {"ApplicationSet", sets}}));
    EXPECT_EQ(machine.logLines(), Lines{kThreeToFour});
    EXPECT_EQ(stored(), dict({{"ApplicationSet", sets},
                            {"HorizontalScrollEdge", 3},
                            {"HorizontalScrollEdgeSize", 14},
                            {"PrefsVersion", 4},
                            {"VerticalScrollEdge", 2},
                            {"VerticalScrollEdgeSize", 4}}));
    EXPECT_EQ(store->verticalScroll(), 2);
    EXPECT_EQ(store->horizontalScrollSize(), 14);
}

TEST_F(AUserDefaultsStore, AtVersionZeroFourOrAboveIsNeitherChangedNorWritten)
{
    for (Value version : {Value(0), Value(4), Value(5), Value(400), Value(-3), Value("2")}) {
        SCOPED_TRACE(version.description());
        seed(dict({{"PrefsVersion", version}, {"VerticalScroll", 1}, {"ScrollScale", 12}}));
        std::string before = machine.readFile(kAliceDomain);
        auto store = open();
        EXPECT_EQ(machine.readFile(kAliceDomain), before);
        EXPECT_EQ(machine.filesIn("/Users/alice/Library/Preferences"), Lines{"com.tessmoor.Arvel.plist"});
        EXPECT_TRUE(machine.logLines().empty());
        EXPECT_EQ(store->verticalScroll(), 0);
        EXPECT_EQ(store->verticalScrollScale(), 15);
    }
}

TEST_F(AUserDefaultsStore, WithAnUnreadableDomainSetsItAsideBeforeStampingAFreshOne)
{
    machine.writeFile(kAliceDomain + ".unreadable", "an older accident");
    machine.writeFile(kAliceDomain, "<?xml version=\"1.0\"?><plist><dict><key>CornerSize</key><integ");
    auto store = open();
    EXPECT_EQ(machine.logLines(),
        Lines{"Preferences error: \"" + kAliceDomain + "\" cannot be read (not a property list); moved it aside to \""
            + kAliceDomain + ".unreadable.1\"."});
    EXPECT_EQ(machine.readFile(kAliceDomain + ".unreadable"), "an older accident");
    EXPECT_EQ(machine.readFile(kAliceDomain + ".unreadable.1"),
        "<?xml version=\"1.0\"?><plist><dict><key>CornerSize</key><integ");
    EXPECT_EQ(stored(), dict({{"ApplicationSet", dict({})}, {"PrefsVersion", 4}}));
    EXPECT_EQ(store->cornerSize(), 15);
}

// ---- Life and storage

TEST_F(AUserDefaultsStore, ReplacesTheStoredDomainWholeAndReadsItBack)
{
    auto store = openWith(currentDomain({{"CornerSize", 12}}));
    store->setCornerSize(18);
    EXPECT_EQ(stored()["CornerSize"], Value(12)) << "setters change the working copy only";
    // Another process adds a key after this store read the domain...
    seed(currentDomain({{"CornerSize", 12}, {"TapThreshold", 30}}));
    store->syncToDisk();
    // ...and the whole-domain write loses it: the last writer wins.
    EXPECT_EQ(stored(), currentDomain({{"ApplicationSet", dict({})}, {"CornerSize", 18}}));
    EXPECT_EQ(store->tapThreshold(), 20);

    store->setCornerSize(11);
    store->syncFromDisk();
    EXPECT_EQ(store->cornerSize(), 18) << "unsaved changes give way to what is stored";
}

TEST_F(AUserDefaultsStore, CreatedAfterAnIdentitySwitchReadsThatUsersDomain)
{
    machine.writeDomain(kAliceDomain, currentDomain({{"CornerSize", 12}}));
    machine.writeDomain(kBobDomain, currentDomain({{"CornerSize", 19}}));
    machine.actAs(0);
    NSUserDefaults::resetStandardUserDefaults();
    machine.actAs(502);
    NSUserDefaults::resetStandardUserDefaults();
    auto bob = open();
    EXPECT_EQ(bob->cornerSize(), 19);
    NSUserDefaults::resetStandardUserDefaults();
    machine.actAs(501);
    NSUserDefaults::resetStandardUserDefaults();
    EXPECT_EQ(open()->cornerSize(), 12);
    EXPECT_EQ(bob->cornerSize(), 19);
}

TEST_F(AUserDefaultsStore, SharedInstanceIsNilWithOneLineWhenCreationFailsAndTriesAgain)
{
    machine::Machine::shared().failures().failNext("ArvelUserDefaults.init", 1);
    EXPECT_EQ(ArvelUserDefaults::sharedInstance(), nullptr);
    EXPECT_EQ(machine.logLines(), Lines{"ArvelUserDefaults error: Unable to allocate a user defaults object."});
    EXPECT_EQ(machine.logEntries()[0].priority, kLogPriorityError);
    EXPECT_FALSE(machine.exists(kAliceDomain));

    auto shared = ArvelUserDefaults::sharedInstance();
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(ArvelUserDefaults::sharedInstance(), shared);
    EXPECT_EQ(machine.logLines().size(), 1u);
    EXPECT_TRUE(machine.exists(kAliceDomain));
}

// ---- Typed settings

namespace {

struct IntegerCase {
    const char* key;
    std::int32_t (ArvelUserDefaults::*get)() const;
    void (ArvelUserDefaults::*set)(std::int32_t);
    std::int32_t fallback, readMinimum, readMaximum, writeMinimum, writeMaximum;
};

const IntegerCase kIntegerCases[] = {
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

struct BooleanCase {
    const char* key;
    bool (ArvelUserDefaults::*get)() const;
    void (ArvelUserDefaults::*set)(bool);
    bool fallback;
};

const BooleanCase kBooleanCases[] = {
    {"MouseKeepMoving", &ArvelUserDefaults::mouseKeepMoving, &ArvelUserDefaults::setMouseKeepMoving, false},
    {"VerticalScrollInvert", &ArvelUserDefaults::invertVerticalScroll, &ArvelUserDefaults::setInvertVerticalScroll, false},
    {"HorizontalScrollInvert", &ArvelUserDefaults::invertHorizontalScroll, &ArvelUserDefaults::setInvertHorizontalScroll, false},
    {"ScrollKeepMoving", &ArvelUserDefaults::scrollKeepMoving, &ArvelUserDefaults::setScrollKeepMoving, false},
    {"IgnoreWhileExternalMouse", &ArvelUserDefaults::ignoreWhileExternalMouse, &ArvelUserDefaults::setIgnoreWhileExternalMouse, false},
    {"IgnoreWhileTyping", &ArvelUserDefaults::ignoreWhileTyping, &ArvelUserDefaults::setIgnoreWhileTyping, false},
    {"IgnoreWhileTypingEdgeFilter", &ArvelUserDefaults::ignoreWhileTypingEdgeFilter, &ArvelUserDefaults::setIgnoreWhileTypingEdgeFilter, false},
    {"IgnoreWhileTypingMotionOverride", &ArvelUserDefaults::ignoreWhileTypingMotionOverride, &ArvelUserDefaults::setIgnoreWhileTypingMotionOverride, true},
    {"IgnoreTapInScroll", &ArvelUserDefaults::ignoreTapInScroll, &ArvelUserDefaults::setIgnoreTapInScroll, false},
    {"ConvertOffAxis", &ArvelUserDefaults::convertOffAxis, &ArvelUserDefaults::setConvertOffAxis, false},
    {"MoveToDefaultButton", &ArvelUserDefaults::moveToDefaultButton, &ArvelUserDefaults::setMoveToDefaultButton, false},
    {"AccessNoWarn", &ArvelUserDefaults::noAccessibilityWarn, &ArvelUserDefaults::setNoAccessibilityWarn, false},
};

} // namespace

TEST_F(AUserDefaultsStore, ReadsEveryIntegerSettingWithinItsReadRangeAndOtherwiseItsDefault)
{
    struct Round {
        const char* name;
        Value (*stored)(const IntegerCase&);
        bool readsStored;
    };
    const Round rounds[] = {
        {"at the minimum", [](const IntegerCase& c) { return Value(c.readMinimum); }, true},
        {"at the maximum", [](const IntegerCase& c) { return Value(c.readMaximum); }, true},
        {"a real inside", [](const IntegerCase& c) { return Value(c.readMaximum + 0.75); }, true},
        {"below", [](const IntegerCase& c) { return Value(c.readMinimum - 1); }, false},
        {"above", [](const IntegerCase& c) { return Value(c.readMaximum + 1); }, false},
        {"wrapping to the minimum in 32 bits", [](const IntegerCase& c) { return Value((1LL << 32) + c.readMinimum); }, false},
        {"a string", [](const IntegerCase& c) { return Value(std::to_string(c.readMaximum)); }, false},
        {"a dictionary", [](const IntegerCase& c) { return dict({{"Value", c.readMaximum}}); }, false},
        {"not a number", [](const IntegerCase&) { return Value(std::nan("")); }, false},
    };
    for (const Round& round : rounds) {
        SCOPED_TRACE(round.name);
        Value domain = currentDomain({});
        for (const auto& c : kIntegerCases)
            domain.set(c.key, round.stored(c));
        auto store = openWith(domain);
        for (const auto& c : kIntegerCases) {
            std::int32_t expected = round.readsStored ? static_cast<std::int32_t>(*round.stored(c).integer()) : c.fallback;
            EXPECT_EQ(((*store).*c.get)(), expected) << c.key;
        }
        EXPECT_TRUE(machine.logLines().empty()) << "the domain itself was readable";
    }
}

TEST_F(AUserDefaultsStore, StoresAnIntegerSettingOnlyWithinItsWriteRange)
{
    auto store = open();
    for (const auto& c : kIntegerCases) {
        SCOPED_TRACE(c.key);
        ((*store).*c.set)(c.writeMinimum);
        for (std::int32_t refused : {c.writeMinimum - 1, c.writeMaximum + 1, -1, INT32_MIN, INT32_MAX})
            ((*store).*c.set)(refused);
        store->syncToDisk();
        EXPECT_EQ(stored()[c.key], Value(c.writeMinimum));
        EXPECT_TRUE(stored()[c.key].isInteger());
        ((*store).*c.set)(c.writeMaximum);
        store->syncToDisk();
        EXPECT_EQ(stored()[c.key], Value(c.writeMaximum));
    }
}

TEST_F(AUserDefaultsStore, StoresCornerSizesItReadsAsTheDefault)
{
    auto store = open();
    store->setCornerSize(7);
    EXPECT_EQ(store->cornerSize(), 15);
    store->setCornerSize(30);
    store->syncToDisk();
    EXPECT_EQ(stored()["CornerSize"], Value(7));
    store->setCornerSize(25);
    EXPECT_EQ(store->cornerSize(), 15);
    store->setCornerSize(20);
    EXPECT_EQ(store->cornerSize(), 20);
    store->setCornerSize(10);
    EXPECT_EQ(store->cornerSize(), 10);
}

TEST_F(AUserDefaultsStore, ReadsBooleanSettingsFromAnyNumberAndOtherwiseTheirDefault)
{
    const std::pair<Value, std::optional<bool>> rounds[] = {
        {Value(true), true}, {Value(false), false}, {Value(1), true}, {Value(0), false}, {Value(0.0), false},
        {Value(2), true}, {Value("YES"), std::nullopt}, {Value::array({1}), std::nullopt},
    };
    for (const auto& [value, reads] : rounds) {
        SCOPED_TRACE(value.description());
        Value domain = currentDomain({});
        for (const auto& c : kBooleanCases)
            domain.set(c.key, value);
        auto store = openWith(domain);
        for (const auto& c : kBooleanCases)
            EXPECT_EQ(((*store).*c.get)(), reads.value_or(c.fallback)) << c.key;
    }
}

TEST_F(AUserDefaultsStore, StoresBooleanSettingsAsBooleans)
{
    auto store = open();
    for (const auto& c : kBooleanCases)
        ((*store).*c.set)(!c.fallback);
    store->syncToDisk();
    for (const auto& c : kBooleanCases) {
        EXPECT_EQ(stored()[c.key], Value(!c.fallback)) << c.key;
        EXPECT_EQ(((*store).*c.get)(), !c.fallback) << c.key;
    }
}

TEST_F(AUserDefaultsStore, ReadsTheButtonActionOneOrTwoAndStoresNothingElse)
{
    EXPECT_EQ(openWith(currentDomain({{"Button", dict({{"Action", 2}})}}))->trackpadButtonAction(), 2);
    EXPECT_EQ(openWith(currentDomain({{"Button", dict({{"Action", 3}})}}))->trackpadButtonAction(), 1);
    EXPECT_EQ(openWith(currentDomain({{"Button", 2}}))->trackpadButtonAction(), 1);
    EXPECT_EQ(openWith(currentDomain({{"Button", dict({})}}))->trackpadButtonAction(), 1);

    auto store = openWith(currentDomain({{"Button", dict({{"Action", 2}, {"Old", 1}})}}));
    store->setTrackpadButtonAction(0);
    store->setTrackpadButtonAction(3);
    store->syncToDisk();
    EXPECT_EQ(stored()["Button"], dict({{"Action", 2}, {"Old", 1}}));
    store->setTrackpadButtonAction(1);
    store->syncToDisk();
    EXPECT_EQ(stored()["Button"], dict({{"Action", 1}}));
}

TEST_F(AUserDefaultsStore, KeepsOnlyTheFiveTapPairs)
{
    auto store = open();
    for (Tap pair : {Tap {1, 0}, Tap {1, 1}, Tap {1, 2}, Tap {2, 0}, Tap {0, 0}}) {
        store->setTrackpadTapActionAndGesture(pair);
        EXPECT_EQ(store->trackpadTapActionAndGesture(), pair);
        store->syncToDisk();
        EXPECT_EQ(stored()["Tap"], dict({{"Action", pair.action}, {"Gesture", pair.gesture}}));
    }
    store->setTrackpadTapActionAndGesture({1, 2});
    for (Tap refused : {Tap {2, 1}, Tap {0, 1}, Tap {1, 3}, Tap {3, 0}, Tap {-1, 0}})
        store->setTrackpadTapActionAndGesture(refused);
    EXPECT_EQ(store->trackpadTapActionAndGesture(), (Tap {1, 2}));

    for (Value tap : {dict({{"Action", 2}, {"Gesture", 1}}), dict({{"Action", 1}}), dict({{"Gesture", 1}}),
             dict({{"Action", "1"}, {"Gesture", 0}}), Value(1)}) {
        SCOPED_TRACE(tap.description());
        EXPECT_EQ(openWith(currentDomain({{"Tap", tap}}))->trackpadTapActionAndGesture(), (Tap {0, 0}));
    }
    EXPECT_EQ(openWith(currentDomain({{"Tap", dict({{"Action", true}, {"Gesture", 2.0}})}}))->trackpadTapActionAndGesture(),
        (Tap {1, 2}));
}

// ---- Corners

TEST_F(AUserDefaultsStore, ReadsACornerOnlyWithTheDataItsActionNeeds)
{
    const std::pair<Value, Corner> cases[] = {
        {dict({{"Action", 7}, {"Data", 65571}}), Corner {7, 65571}},
        {dict({{"Action", 7}}), Corner {}},
        {dict({{"Action", 1}, {"Data", 131072}}), Corner {1, 131072}},
        {dict({{"Action", 2}, {"Data", "131072"}}), Corner {}},
        {dict({{"Action", 2}, {"Data", 0.0}}), Corner {2, 0.0}},
        {dict({{"Action", 4}, {"Data", "anything"}}), Corner {4, Value()}},
        {dict({{"Action", 6}}), Corner {6, Value()}},
        {dict({{"Action", 0}, {"Data", 5}}), Corner {}},
        {dict({{"Action", 8}, {"Data", 5}}), Corner {}},
        {dict({{"Action", -1}}), Corner {}},
        {dict({{"Action", (1LL << 32) + 3}}), Corner {}},
        {dict({{"Action", "3"}}), Corner {}},
        {dict({{"Data", 5}}), Corner {}},
        {Value::array({3}), Corner {}},
        {Value(3), Corner {}},
    };
    for (const auto& [stored, reads] : cases) {
        SCOPED_TRACE(stored.description());
        auto store = openWith(currentDomain({{"NWCorner", stored}, {"SECorner", stored}}));
        EXPECT_EQ(store->nwCornerActionAndData(), reads);
        EXPECT_EQ(store->seCornerActionAndData(), reads);
        EXPECT_EQ(store->neCornerActionAndData(), Corner {});
        EXPECT_EQ(store->swCornerActionAndData(), Corner {});
    }
}

TEST_F(AUserDefaultsStore, WritesACornerWholeOnlyWhenItsActionAndDataAgree)
{
    auto store = openWith(currentDomain({{"NECorner", dict({{"Action", 1}, {"Data", 5}, {"Extra", 1}})}}));
    store->setNECornerActionAndData({1, Value()});
    store->setNECornerActionAndData({7, "65571"});
    store->setNECornerActionAndData({8, Value()});
    store->setNECornerActionAndData({-1, Value()});
    store->syncToDisk();
    EXPECT_EQ(stored()["NECorner"], dict({{"Action", 1}, {"Data", 5}, {"Extra", 1}}));

    store->setNECornerActionAndData({4, 99});
    store->syncToDisk();
    EXPECT_EQ(stored()["NECorner"], dict({{"Action", 4}}));

    store->setNWCornerActionAndData({7, 35 | (1 << 16)});
    store->setSWCornerActionAndData({2, 1 << 19});
    store->setSECornerActionAndData({0, 12});
    store->syncToDisk();
    EXPECT_EQ(stored()["NWCorner"], dict({{"Action", 7}, {"Data", 65571}}));
    EXPECT_EQ(stored()["SWCorner"], dict({{"Action", 2}, {"Data", 524288}}));
    EXPECT_EQ(stored()["SECorner"], dict({{"Action", 0}}));
}

// ---- Application sets

TEST_F(AUserDefaultsStore, CreatesNamesAndRemovesApplicationSets)
{
    auto store = open();
    store->createApplicationSetForIDWithName("com.example.Mail", "Mail");
    store->setNWCornerActionAndDataForAppID({3, Value()}, "com.example.Mail");
    store->createApplicationSetForIDWithName("'ttxt'TextEdit.app", std::nullopt);
    EXPECT_EQ(store->applicationIDs(), (Lines{"'ttxt'TextEdit.app", "com.example.Mail"}));
    EXPECT_EQ(store->applicationNameForID("'ttxt'TextEdit.app"), "");
    EXPECT_EQ(store->applicationNameForID("com.example.Unknown"), "");
    EXPECT_FALSE(store->hasApplicationSetForID("com.example.Unknown"));

    store->createApplicationSetForIDWithName("com.example.Mail", std::nullopt);
    EXPECT_EQ(store->applicationNameForID("com.example.Mail"), "Mail");
    EXPECT_EQ(store->nwCornerActionAndDataForAppID("com.example.Mail"), (Corner {3, Value()}));
    store->createApplicationSetForIDWithName("com.example.Mail", "Mail 2");
    EXPECT_EQ(store->applicationNameForID("com.example.Mail"), "Mail 2");
    EXPECT_EQ(store->nwCornerActionAndDataForAppID("com.example.Mail"), (Corner {3, Value()}));

    store->removeApplicationSetForID("'ttxt'TextEdit.app");
    store->removeApplicationSetForID("com.example.Unknown");
    store->syncToDisk();
    EXPECT_EQ(stored()["ApplicationSet"],
        dict({{"com.example.Mail", dict({{"ApplicationName", "Mail 2"}, {"NWCorner", dict({{"Action", 3}})}})}}));
}

TEST_F(AUserDefaultsStore, StoresApplicationCornersOnlyIntoAnExistingSet)
{
    auto store = open();
    store->setSECornerActionAndDataForAppID({5, Value()}, "com.example.Mail");
    EXPECT_FALSE(store->hasApplicationSetForID("com.example.Mail"));
    EXPECT_EQ(store->seCornerActionAndDataForAppID("com.example.Mail"), Corner {});
    store->syncToDisk();
    EXPECT_EQ(stored()["ApplicationSet"], dict({}));

    store->createApplicationSetForIDWithName("com.example.Mail", "Mail");
    store->setSECornerActionAndDataForAppID({5, Value()}, "com.example.Mail");
    store->setNECornerActionAndDataForAppID({7, 65571}, "com.example.Mail");
    store->setSWCornerActionAndDataForAppID({1, Value()}, "com.example.Mail");
    EXPECT_EQ(store->seCornerActionAndDataForAppID("com.example.Mail"), (Corner {5, Value()}));
    EXPECT_EQ(store->neCornerActionAndDataForAppID("com.example.Mail"), (Corner {7, 65571}));
    EXPECT_EQ(store->swCornerActionAndDataForAppID("com.example.Mail"), Corner {});
    EXPECT_EQ(store->seCornerActionAndData(), Corner {}) << "an application's corner is not the global one";
    store->syncToDisk();
    EXPECT_EQ(stored()["ApplicationSet"]["com.example.Mail"],
        dict({{"ApplicationName", "Mail"},
            {"NECorner", dict({{"Action", 7}, {"Data", 65571}})},
            {"SECorner", dict({{"Action", 5}})}}));
}

TEST_F(AUserDefaultsStore, ReadsWronglyTypedApplicationSetsAsNone)
{
    auto store = openWith(currentDomain({{"ApplicationSet", Value::array({"com.example.Mail"})}}));
    EXPECT_TRUE(store->applicationIDs().empty());
    store->createApplicationSetForIDWithName("com.example.Mail", "Mail");
    EXPECT_EQ(store->applicationNameForID("com.example.Mail"), "Mail");

    store = openWith(currentDomain({{"ApplicationSet",
        dict({{"com.example.Mail", "not a set"},
            {"com.example.Notes", dict({{"ApplicationName", 12}, {"NWCorner", dict({{"Action", 7}})}})}})}}));
    EXPECT_EQ(store->applicationIDs(), Lines{"com.example.Notes"});
    EXPECT_FALSE(store->hasApplicationSetForID("com.example.Mail"));
    EXPECT_EQ(store->applicationNameForID("com.example.Notes"), "");
    EXPECT_EQ(store->nwCornerActionAndDataForAppID("com.example.Notes"), Corner {});
    EXPECT_EQ(store->propertiesForAppID("com.example.Mail"), ArvelUserDefaults::emptyAppProperties());

    store = openWith(currentDomain({{"ApplicationSet", "none"}, {"Button", "one"}, {"NWCorner", Value::array()}}));
    EXPECT_TRUE(store->applicationIDs().empty());
    EXPECT_EQ(store->hidProperties(), openWith(Value::dictionary())->hidProperties());
}

// ---- System pointer settings

TEST_F(AUserDefaultsStore, KeepsThePointerSpeedsInTheUsersGlobalPreferencesWithinTheirRanges)
{
    auto store = open();
    EXPECT_EQ(store->trackpadSpeed(), 0.5);
    EXPECT_EQ(store->doubleClickSpeed(), 0.5);

    store->setTrackpadSpeed(1.7);
    store->setTrackpadSpeed(1.71);
    store->setTrackpadSpeed(-0.01);
    store->setTrackpadSpeed(std::nan(""));
    store->setDoubleClickSpeed(0.19);
    store->setDoubleClickSpeed(5.01);
    store->setDoubleClickSpeed(0.2);
    EXPECT_EQ(machine.readDomain(kAliceGlobal),
        dict({{"com.apple.mouse.doubleClickThreshold", 0.2}, {"com.apple.trackpad.scaling", 1.7}}));
    store->setTrackpadSpeed(0.0);
    store->setDoubleClickSpeed(5.0);
    EXPECT_EQ(store->trackpadSpeed(), 0.0);
    EXPECT_EQ(store->doubleClickSpeed(), 5.0);

    store->syncToDisk();
    EXPECT_FALSE(stored().contains("com.apple.trackpad.scaling"));

    machine.writeDomain(kAliceGlobal, dict({{"com.apple.trackpad.scaling", "fast"}, {"com.apple.mouse.doubleClickThreshold", 1}}));
    EXPECT_EQ(store->trackpadSpeed(), 0.5);
    EXPECT_EQ(store->doubleClickSpeed(), 1.0);
}
