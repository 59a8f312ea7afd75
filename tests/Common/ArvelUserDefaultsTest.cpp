#include "Defaults/NSUserDefaults.h"
#include "UserDefaultsFixture.h"
#include "machine/Machine.h"

#include <cmath>

namespace {

const std::string kBobDomain = "/Users/bob/Library/Preferences/com.tessmoor.Arvel.plist";
const std::string kOne = "ArvelUserDefaults: Found incompatible preference version 1, resetting preferences.";
const std::string kTwoToThree = "ArvelUserDefaults: Migrating from version 2 to version 3 preferences.";
const std::string kThreeToFour = "ArvelUserDefaults: Migrating from version 3 to version 4 preferences.";

using Lines = std::vector<std::string>;
using Corner = ArvelCornerActionAndData;
using Tap = ArvelTapActionAndGesture;

} // namespace

using AUserDefaultsStore = AliceStoreTest;

// ---- Migration

TEST_F(AUserDefaultsStore, WithoutADomainOrVersionIsStampedFourKeepingItsSettings)
{
    open();
    EXPECT_EQ(stored(), dict({{"ApplicationSet", dict({})}, {"PrefsVersion", 4}}));
    openWith(dict({{"CornerSize", 12}, {"VerticalScroll", 2}}));
    EXPECT_EQ(
        stored(), dict({{"ApplicationSet", dict({})}, {"CornerSize", 12}, {"PrefsVersion", 4}, {"VerticalScroll", 2}}))
        << "no rename without a version-3 step";
    EXPECT_TRUE(machine.logLines().empty());
}

TEST_F(AUserDefaultsStore, AtVersionOneIsEmptiedApplicationSetsIncluded)
{
    auto store = openWith(dict({{"PrefsVersion", 1}, {"CornerSize", 12},
        {"ApplicationSet", dict({{"com.example.Mail", dict({{"ApplicationName", "Mail"}})}})}}));
    EXPECT_EQ(machine.logLines(), Lines {kOne});
    EXPECT_EQ(stored(), dict({{"PrefsVersion", 4}}));
    EXPECT_TRUE(store->applicationIDs().empty());
    store->createApplicationSetForIDWithName("com.example.Mail", "Mail");
    EXPECT_TRUE(store->hasApplicationSetForID("com.example.Mail")) << "the working copy has its application sets again";
}

TEST_F(AUserDefaultsStore, AtVersionTwoSplitsTheScrollScaleThenRenamesTheEdgeKeys)
{
    auto store
        = openWith(dict({{"PrefsVersion", 2}, {"ScrollScale", 12}, {"VerticalScroll", 1}, {"TapThreshold", 30}}));
    EXPECT_EQ(machine.logLines(), (Lines {kTwoToThree, kThreeToFour}));
    EXPECT_EQ(stored(),
        dict({{"ApplicationSet", dict({})}, {"HorizontalScrollScale", 12}, {"PrefsVersion", 4}, {"TapThreshold", 30},
            {"VerticalScrollEdge", 1}, {"VerticalScrollScale", 12}}));
    EXPECT_EQ(store->verticalScrollScale(), 12);
    EXPECT_EQ(store->horizontalScrollScale(), 12);
    EXPECT_EQ(store->verticalScroll(), 1);

    machine.clearLog();
    openWith(dict({{"PrefsVersion", 2}, {"HorizontalScrollScale", 20}}));
    EXPECT_EQ(machine.logLines(), (Lines {kTwoToThree, kThreeToFour}));
    EXPECT_EQ(stored(), dict({{"ApplicationSet", dict({})}, {"HorizontalScrollScale", 20}, {"PrefsVersion", 4}}));
}

TEST_F(AUserDefaultsStore, AtVersionThreeMovesTheFourEdgeKeysToTheirNewNames)
{
    Value sets = dict({{"com.example.Mail", dict({{"NWCorner", dict({{"Action", 3}})}})}});
    auto store = openWith(dict({{"PrefsVersion", 3}, {"VerticalScroll", 2}, {"VerticalScrollSize", 4},
        {"HorizontalScroll", 3}, {"HorizontalScrollSize", 14}, {"ApplicationSet", sets}}));
    EXPECT_EQ(machine.logLines(), Lines {kThreeToFour});
    EXPECT_EQ(stored(),
        dict({{"ApplicationSet", sets}, {"HorizontalScrollEdge", 3}, {"HorizontalScrollEdgeSize", 14},
            {"PrefsVersion", 4}, {"VerticalScrollEdge", 2}, {"VerticalScrollEdgeSize", 4}}));
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
        EXPECT_TRUE(machine.logLines().empty());
        EXPECT_EQ(store->verticalScroll(), 0);
    }
}

TEST_F(AUserDefaultsStore, WithAnUnreadableDomainSetsItAsideBeforeStampingAFreshOne)
{
    machine.writeFile(kAliceDomain + ".unreadable", "an older accident");
    machine.writeFile(kAliceDomain, "<?xml version=\"1.0\"?><plist><dict><key>CornerSize</key><integ");
    open();
    EXPECT_EQ(machine.logLines(),
        Lines {"Preferences error: \"" + kAliceDomain
            + "\" cannot be read (not a property list); "
              "moved it aside to \""
            + kAliceDomain + ".unreadable.1\"."});
    EXPECT_EQ(machine.readFile(kAliceDomain + ".unreadable"), "an older accident");
    EXPECT_EQ(machine.readFile(kAliceDomain + ".unreadable.1"),
        "<?xml version=\"1.0\"?><plist><dict><key>CornerSize</key><integ");
    EXPECT_EQ(stored(), dict({{"ApplicationSet", dict({})}, {"PrefsVersion", 4}}));
}

// ---- Life and storage

TEST_F(AUserDefaultsStore, WritesWhatItChangedOverAnotherProcesssLaterWriteAndReadsItBack)
{
    auto store = openWith(currentDomain({{"CornerSize", 12}}));
    store->setCornerSize(18);
    EXPECT_EQ(stored()["CornerSize"], Value(12)) << "setters change the working copy only";
    seed(currentDomain({{"CornerSize", 12}, {"TapThreshold", 30}})); // another process's later write...
    store->syncToDisk();
    EXPECT_EQ(stored(), currentDomain({{"ApplicationSet", dict({})}, {"CornerSize", 18}, {"TapThreshold", 30}}))
        << "...is kept";
    EXPECT_EQ(store->tapThreshold(), 30);
    store->setCornerSize(11);
    store->syncFromDisk();
    EXPECT_EQ(store->cornerSize(), 18) << "unsaved changes give way to what is stored";
}

TEST_F(AUserDefaultsStore, CreatedAfterAnIdentitySwitchReadsThatUsersDomain)
{
    seed(currentDomain({{"CornerSize", 12}}));
    machine.writeDomain(kBobDomain, currentDomain({{"CornerSize", 19}}));
    auto alice = open();
    machine.actAs(502);
    NSUserDefaults::resetStandardUserDefaults();
    auto bob = open();
    EXPECT_EQ(bob->cornerSize(), 19);
    bob->setCornerSize(20);
    alice->setCornerSize(11);
    bob->syncToDisk();
    alice->syncToDisk();
    EXPECT_EQ(machine.readDomain(kBobDomain)["CornerSize"], Value(20));
    EXPECT_EQ(stored()["CornerSize"], Value(11)) << "each store keeps writing to its own user";
}

TEST_F(AUserDefaultsStore, SharedInstanceIsNilWithOneLineWhenCreationFailsAndTriesAgain)
{
    machine::Machine::shared().failures().failNext("ArvelUserDefaults.init", 1);
    EXPECT_EQ(ArvelUserDefaults::sharedInstance(), nullptr);
    EXPECT_EQ(machine.logEntries(),
        (std::vector<CapturingLogSink::Entry> {
            {kLogPriorityError, "ArvelUserDefaults error: Unable to allocate a user defaults object."}}));
    EXPECT_FALSE(machine.exists(kAliceDomain));
    auto shared = ArvelUserDefaults::sharedInstance();
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(ArvelUserDefaults::sharedInstance(), shared);
    EXPECT_EQ(machine.logLines().size(), 1u);
}

// ---- Typed settings

TEST_F(AUserDefaultsStore, ReadsEveryIntegerSettingWithinItsReadRangeAndOtherwiseItsDefault)
{
    struct Round {
        const char* name;
        Value (*stored)(const IntegerCase&);
        bool readsStored;
    };

    const Round rounds[] = {
        {"at the minimum", [](const IntegerCase& c) { return Value(c.readMinimum); }, true},
        {"a real at the maximum", [](const IntegerCase& c) { return Value(c.readMaximum + 0.75); }, true},
        {"below", [](const IntegerCase& c) { return Value(c.readMinimum - 1); }, false},
        {"above", [](const IntegerCase& c) { return Value(c.readMaximum + 1); }, false},
        {"wrapping into range in 32 bits", [](const IntegerCase& c) { return Value((1LL << 32) + c.readMinimum); },
            false},
        {"a string", [](const IntegerCase& c) { return Value(std::to_string(c.readMaximum)); }, false},
        {"a dictionary",
            [](const IntegerCase& c) {
                return dict({{"Value", c.readMaximum}});
            },
            false},
        {"not a number", [](const IntegerCase&) { return Value(std::nan("")); }, false},
    };
    for (const Round& round : rounds) {
        SCOPED_TRACE(round.name);
        Value domain = currentDomain({});
        for (const auto& c : kIntegerCases)
            domain.set(c.key, round.stored(c));
        auto store = openWith(domain);
        for (const auto& c : kIntegerCases)
            EXPECT_EQ(((*store).*c.get)(), round.readsStored ? *round.stored(c).integer() : c.fallback) << c.key;
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
}

TEST_F(AUserDefaultsStore, ReadsBooleanSettingsFromAnyNumberAndStoresBooleans)
{
    const std::pair<Value, std::optional<bool>> rounds[] = {{Value(true), true}, {Value(0), false}, {Value(2), true},
        {Value(0.0), false}, {Value("YES"), std::nullopt}, {Value::array({1}), std::nullopt}};
    for (const auto& [value, reads] : rounds) {
        SCOPED_TRACE(value.description());
        Value domain = currentDomain({});
        for (const auto& c : kBooleanCases)
            domain.set(c.key, value);
        auto store = openWith(domain);
        for (const auto& c : kBooleanCases)
            EXPECT_EQ(((*store).*c.get)(), reads.value_or(c.fallback)) << c.key;
    }
    auto store = open();
    for (const auto& c : kBooleanCases)
        ((*store).*c.set)(!c.fallback);
    store->syncToDisk();
    for (const auto& c : kBooleanCases)
        EXPECT_EQ(stored()[c.key], Value(!c.fallback)) << c.key;
}

TEST_F(AUserDefaultsStore, ReadsTheButtonActionOneOrTwoAndStoresNothingElse)
{
    EXPECT_EQ(openWith(currentDomain({{"Button", dict({{"Action", 2}})}}))->trackpadButtonAction(), 2);
    EXPECT_EQ(openWith(currentDomain({{"Button", dict({{"Action", 3}})}}))->trackpadButtonAction(), 1);
    auto store = openWith(currentDomain({{"Button", 2}}));
    EXPECT_EQ(store->trackpadButtonAction(), 1);
    store->setTrackpadButtonAction(0);
    store->setTrackpadButtonAction(3);
    EXPECT_EQ(store->hidProperties()["Arvel"]["Button"], dict({{"Action", 1}}));
    store->setTrackpadButtonAction(2);
    store->syncToDisk();
    EXPECT_EQ(stored()["Button"], dict({{"Action", 2}}));
}

TEST_F(AUserDefaultsStore, KeepsOnlyTheFiveTapPairs)
{
    auto store = open();
    for (Tap pair : {Tap {1, 0}, Tap {1, 1}, Tap {1, 2}, Tap {2, 0}, Tap {0, 0}}) {
        store->setTrackpadTapActionAndGesture(pair);
        store->syncToDisk();
        EXPECT_EQ(stored()["Tap"], dict({{"Action", pair.action}, {"Gesture", pair.gesture}}));
        EXPECT_EQ(store->trackpadTapActionAndGesture(), pair);
    }
    store->setTrackpadTapActionAndGesture({1, 2});
    for (Tap refused : {Tap {2, 1}, Tap {0, 1}, Tap {1, 3}, Tap {3, 0}, Tap {-1, 0}})
        store->setTrackpadTapActionAndGesture(refused);
    EXPECT_EQ(store->trackpadTapActionAndGesture(), (Tap {1, 2}));

    for (Value tap : {dict({{"Action", 2}, {"Gesture", 1}}), dict({{"Action", 1}}),
             dict({{"Action", "1"}, {"Gesture", 0}}), Value(1)})
        EXPECT_EQ(openWith(currentDomain({{"Tap", tap}}))->trackpadTapActionAndGesture(), (Tap {0, 0})) << tap;
    EXPECT_EQ(
        openWith(currentDomain({{"Tap", dict({{"Action", true}, {"Gesture", 2.0}})}}))->trackpadTapActionAndGesture(),
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
        {dict({{"Action", 4}, {"Data", "anything"}}), Corner {4, Value()}},
        {dict({{"Action", 0}, {"Data", 5}}), Corner {}},
        {dict({{"Action", 8}}), Corner {}},
        {dict({{"Action", -1}}), Corner {}},
        {dict({{"Action", (1LL << 32) + 3}}), Corner {}},
        {dict({{"Action", "3"}}), Corner {}},
        {Value::array({3}), Corner {}},
    };
    for (const auto& [stored, reads] : cases) {
        auto store = openWith(currentDomain({{"NWCorner", stored}, {"SECorner", stored}}));
        EXPECT_EQ(store->nwCornerActionAndData(), reads) << stored;
        EXPECT_EQ(store->seCornerActionAndData(), reads) << stored;
        EXPECT_EQ(store->neCornerActionAndData(), Corner {});
    }
}

TEST_F(AUserDefaultsStore, WritesACornerWholeOnlyWhenItsActionAndDataAgree)
{
    const Value old = dict({{"Action", 1}, {"Data", 5}, {"Extra", 1}});
    auto store = openWith(currentDomain({{"NECorner", old}}));
    for (Corner refused : {Corner {1, Value()}, Corner {7, "65571"}, Corner {8, Value()}, Corner {-1, Value()}})
        store->setNECornerActionAndData(refused);
    store->syncToDisk();
    EXPECT_EQ(stored()["NECorner"], old);

    store->setNECornerActionAndData({4, 99});
    store->setNWCornerActionAndData({7, 35 | (1 << 16)});
    store->setSWCornerActionAndData({2, 1 << 19});
    store->setSECornerActionAndData({0, 12});
    store->syncToDisk();
    EXPECT_EQ(stored()["NECorner"], dict({{"Action", 4}}));
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
    EXPECT_EQ(store->applicationIDs(), (Lines {"'ttxt'TextEdit.app", "com.example.Mail"}));
    EXPECT_EQ(store->applicationNameForID("'ttxt'TextEdit.app"), "");
    EXPECT_EQ(store->applicationNameForID("com.example.Unknown"), "");

    store->createApplicationSetForIDWithName("com.example.Mail", std::nullopt);
    EXPECT_EQ(store->applicationNameForID("com.example.Mail"), "Mail");
    store->createApplicationSetForIDWithName("com.example.Mail", "Mail 2");
    EXPECT_EQ(store->nwCornerActionAndDataForAppID("com.example.Mail"), (Corner {3, Value()}));

    store->removeApplicationSetForID("'ttxt'TextEdit.app");
    store->syncToDisk();
    EXPECT_EQ(stored()["ApplicationSet"],
        dict({{"com.example.Mail", dict({{"ApplicationName", "Mail 2"}, {"NWCorner", dict({{"Action", 3}})}})}}));
}

TEST_F(AUserDefaultsStore, StoresApplicationCornersOnlyIntoAnExistingSet)
{
    auto store = open();
    store->setSECornerActionAndDataForAppID({5, Value()}, "com.example.Mail");
    EXPECT_FALSE(store->hasApplicationSetForID("com.example.Mail"));
    store->createApplicationSetForIDWithName("com.example.Mail", "Mail");
    store->setSECornerActionAndDataForAppID({5, Value()}, "com.example.Mail");
    store->setNECornerActionAndDataForAppID({7, 65571}, "com.example.Mail");
    store->setSWCornerActionAndDataForAppID({1, Value()}, "com.example.Mail");
    EXPECT_EQ(store->seCornerActionAndDataForAppID("com.example.Mail"), (Corner {5, Value()}));
    EXPECT_EQ(store->swCornerActionAndDataForAppID("com.example.Mail"), Corner {});
    EXPECT_EQ(store->seCornerActionAndData(), Corner {}) << "an application's corner is not the global one";
    store->syncToDisk();
    EXPECT_EQ(stored()["ApplicationSet"],
        dict({{"com.example.Mail",
            dict({{"ApplicationName", "Mail"}, {"NECorner", dict({{"Action", 7}, {"Data", 65571}})},
                {"SECorner", dict({{"Action", 5}})}})}}));
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
    EXPECT_EQ(store->applicationIDs(), Lines {"com.example.Notes"});
    EXPECT_EQ(store->applicationNameForID("com.example.Notes"), "");
    EXPECT_EQ(store->nwCornerActionAndDataForAppID("com.example.Notes"), Corner {});
    EXPECT_EQ(store->propertiesForAppID("com.example.Mail"), ArvelUserDefaults::emptyAppProperties());
}

// ---- System pointer settings

TEST_F(AUserDefaultsStore, KeepsThePointerSpeedsInTheUsersGlobalPreferencesWithinTheirRanges)
{
    const std::string global = "/Users/alice/Library/Preferences/.GlobalPreferences.plist";
    auto store = open();
    EXPECT_EQ(store->trackpadSpeed(), 0.5);
    EXPECT_EQ(store->doubleClickSpeed(), 0.5);
    for (double refused : {1.71, -0.01, std::nan("")})
        store->setTrackpadSpeed(refused);
    for (double refused : {0.19, 5.01})
        store->setDoubleClickSpeed(refused);
    EXPECT_FALSE(machine.exists(global));
    store->setTrackpadSpeed(1.7);
    store->setDoubleClickSpeed(0.2);
    EXPECT_EQ(machine.readDomain(global),
        dict({{"com.apple.mouse.doubleClickThreshold", 0.2}, {"com.apple.trackpad.scaling", 1.7}}));
    store->syncToDisk();
    EXPECT_FALSE(stored().contains("com.apple.trackpad.scaling"));

    machine.writeDomain(
        global, dict({{"com.apple.trackpad.scaling", "fast"}, {"com.apple.mouse.doubleClickThreshold", 1}}));
    EXPECT_EQ(store->trackpadSpeed(), 0.5);
    EXPECT_EQ(store->doubleClickSpeed(), 1.0);
    EXPECT_TRUE(machine.logLines().empty());

    // The user may write anything there: what the pane would not offer is
    // refused with a line, not handed on.
    machine.writeDomain(
        global, dict({{"com.apple.trackpad.scaling", 1e300}, {"com.apple.mouse.doubleClickThreshold", 0.19}}));
    EXPECT_EQ(store->trackpadSpeed(), 0.5);
    EXPECT_EQ(store->doubleClickSpeed(), 0.5);
    machine.writeDomain(
        global, dict({{"com.apple.trackpad.scaling", -0.01}, {"com.apple.mouse.doubleClickThreshold", 5.01}}));
    EXPECT_EQ(store->trackpadSpeed(), 0.5);
    EXPECT_EQ(store->doubleClickSpeed(), 0.5);
    EXPECT_EQ(machine.logLines(),
        (Lines {"ArvelUserDefaults error: Ignoring com.apple.trackpad.scaling 1e+300 from the global preferences: not "
                "between 0 and 1.7; using 0.5.",
            "ArvelUserDefaults error: Ignoring com.apple.mouse.doubleClickThreshold 0.19 from the global preferences: "
            "not between 0.2 and 5; using 0.5.",
            "ArvelUserDefaults error: Ignoring com.apple.trackpad.scaling -0.01 from the global preferences: not "
            "between 0 and 1.7; using 0.5.",
            "ArvelUserDefaults error: Ignoring com.apple.mouse.doubleClickThreshold 5.01 from the global preferences: "
            "not between 0.2 and 5; using 0.5."}));
}
