#include "Defaults/CFPreferences.h"
#include "machine/Machine.h"
#include "support/PreferencesTestMachine.h"

#include <gtest/gtest.h>

namespace {

const std::string kAliceGlobal = "/Users/alice/Library/Preferences/.GlobalPreferences.plist";
const std::string kSystemByHost = "/Library/Preferences/ByHost/com.tessmoor.Arvel.001122334455.plist";
constexpr std::string_view kDomain = "com.tessmoor.Arvel";

} // namespace

class ThePreferencesCalls : public ::testing::Test {
protected:
    PreferencesTestMachine machine;

    ThePreferencesCalls()
    {
        machine.addUser("alice", 501);
        machine.addUser("bob", 502);
    }
};

TEST_F(ThePreferencesCalls, AddressDomainsWhereTheOriginalOSKeepsThem)
{
    machine.actAs(501);
    EXPECT_EQ(CFPreferencesDomainPath(kDomain, kCFPreferencesCurrentUser, kCFPreferencesAnyHost),
        "/Users/alice/Library/Preferences/com.tessmoor.Arvel.plist");
    EXPECT_EQ(CFPreferencesDomainPath(kDomain, kCFPreferencesCurrentUser, kCFPreferencesCurrentHost),
        "/Users/alice/Library/Preferences/ByHost/com.tessmoor.Arvel.001122334455.plist");
    EXPECT_EQ(CFPreferencesDomainPath(kDomain, kCFPreferencesAnyUser, kCFPreferencesAnyHost),
        "/Library/Preferences/com.tessmoor.Arvel.plist");
    EXPECT_EQ(CFPreferencesDomainPath(kDomain, kCFPreferencesAnyUser, kCFPreferencesCurrentHost), kSystemByHost);
    EXPECT_EQ(CFPreferencesDomainPath(kCFPreferencesAnyApplication, kCFPreferencesCurrentUser, kCFPreferencesAnyHost),
        kAliceGlobal);
    machine::Machine::shared().setHostIdentifier("a1b2c3");
    EXPECT_EQ(CFPreferencesDomainPath(kDomain, kCFPreferencesAnyUser, kCFPreferencesCurrentHost),
        "/Library/Preferences/ByHost/com.tessmoor.Arvel.a1b2c3.plist");
    machine::Machine::shared().setHostIdentifier("001122334455");
    EXPECT_EQ(CFPreferencesDomainPath(kDomain, "alice", kCFPreferencesAnyHost), "") << "only the two user selectors";
    EXPECT_EQ(CFPreferencesDomainPath(kDomain, kCFPreferencesCurrentUser, "otherhost"), "");
    machine.actAs(777);
    EXPECT_EQ(CFPreferencesDomainPath(kDomain, kCFPreferencesCurrentUser, kCFPreferencesAnyHost), "");
}

TEST_F(ThePreferencesCalls, WriteAppValuesThroughIntoTheCurrentUsersGlobalFile)
{
    machine.writeDomain(kAliceGlobal, Value::dictionary({{"AppleLocale", "en_GB"}}));
    machine.actAs(501);
    CFPreferencesSetAppValue("com.apple.trackpad.scaling", 1.25, kCFPreferencesAnyApplication);
    EXPECT_EQ(machine.readDomain(kAliceGlobal),
        Value::dictionary({{"AppleLocale", "en_GB"}, {"com.apple.trackpad.scaling", 1.25}}));
    EXPECT_EQ(CFPreferencesCopyAppValue("com.apple.trackpad.scaling", kCFPreferencesAnyApplication), Value(1.25));
    EXPECT_TRUE(CFPreferencesAppSynchronize(kCFPreferencesAnyApplication));

    machine.actAs(502);
    EXPECT_TRUE(CFPreferencesCopyAppValue("com.apple.trackpad.scaling", kCFPreferencesAnyApplication).isNil());

    machine.actAs(501);
    CFPreferencesSetAppValue("com.apple.trackpad.scaling", Value(), kCFPreferencesAnyApplication);
    EXPECT_EQ(machine.readDomain(kAliceGlobal), Value::dictionary({{"AppleLocale", "en_GB"}}));
    EXPECT_TRUE(machine.logLines().empty());
}

TEST_F(ThePreferencesCalls, WriteTheAnyUserDomainsOnlyAsRoot)
{
    Value calibration = Value::dictionary({{"MinX", 10}, {"MinY", 12}, {"MaxX", 1200}, {"MaxY", 900}});
    machine.actAs(501);
    CFPreferencesSetMultiple(Value::dictionary({{"Calibration", calibration}}), Value(), kDomain, kCFPreferencesAnyUser,
        kCFPreferencesCurrentHost);
    EXPECT_FALSE(machine.exists(kSystemByHost));
    EXPECT_FALSE(CFPreferencesSynchronize(kDomain, kCFPreferencesAnyUser, kCFPreferencesCurrentHost));
    EXPECT_EQ(CFPreferencesCopyMultiple(Value(), kDomain, kCFPreferencesAnyUser, kCFPreferencesCurrentHost),
        Value::dictionary({{"Calibration", calibration}}))
        << "the process still sees its own unwritten change";

    machine.actAs(0);
    EXPECT_TRUE(CFPreferencesSynchronize(kDomain, kCFPreferencesAnyUser, kCFPreferencesCurrentHost));
    EXPECT_EQ(machine.readDomain(kSystemByHost), Value::dictionary({{"Calibration", calibration}}));
    EXPECT_TRUE(machine.logLines().empty());
}

TEST_F(ThePreferencesCalls, CopyListedKeysAndSetBeforeRemoving)
{
    machine.writeDomain(kSystemByHost, Value::dictionary({{"PrefsVersion", 4}, {"LoginWindowTap", true}, {"Old", 1}}));
    Value keys = Value::array({"Calibration", "LoginWindowTap", "PrefsVersion"});
    EXPECT_EQ(CFPreferencesCopyMultiple(keys, kDomain, kCFPreferencesAnyUser, kCFPreferencesCurrentHost),
        Value::dictionary({{"PrefsVersion", 4}, {"LoginWindowTap", true}}));
    EXPECT_EQ(CFPreferencesCopyKeyList(kDomain, kCFPreferencesAnyUser, kCFPreferencesCurrentHost),
        Value::array({"LoginWindowTap", "Old", "PrefsVersion"}));

    CFPreferencesSetMultiple(Value::dictionary({{"Old", 2}, {"New", 3}}), Value::array({"Old", "LoginWindowTap"}),
        kDomain, kCFPreferencesAnyUser, kCFPreferencesCurrentHost);
    EXPECT_EQ(machine.readDomain(kSystemByHost), Value::dictionary({{"PrefsVersion", 4}, {"New", 3}}));

    CFPreferencesSetMultiple(
        Value(), Value::array({"PrefsVersion", "New"}), kDomain, kCFPreferencesAnyUser, kCFPreferencesCurrentHost);
    EXPECT_TRUE(CFPreferencesCopyKeyList(kDomain, kCFPreferencesAnyUser, kCFPreferencesCurrentHost).isNil());
    EXPECT_EQ(CFPreferencesCopyMultiple(keys, kDomain, kCFPreferencesAnyUser, kCFPreferencesCurrentHost),
        Value::dictionary());
}

TEST_F(ThePreferencesCalls, ReportAnUnreadableSystemFileAndSetItAsideOnlyForRoot)
{
    machine.writeFile(kSystemByHost, "not a plist");
    machine.actAs(501);
    EXPECT_TRUE(CFPreferencesCopyMultiple(Value(), kDomain, kCFPreferencesAnyUser, kCFPreferencesCurrentHost).isNil());
    EXPECT_EQ(machine.readFile(kSystemByHost), "not a plist");

    machine.actAs(0);
    machine.clearLog();
    EXPECT_TRUE(CFPreferencesCopyMultiple(Value(), kDomain, kCFPreferencesAnyUser, kCFPreferencesCurrentHost).isNil());
    EXPECT_EQ(machine.readFile(kSystemByHost + ".unreadable"), "not a plist");
    EXPECT_EQ(machine.logLines(),
        std::vector<std::string>{"Preferences error: \"" + kSystemByHost
            + "\" cannot be read (not a property list); moved it aside to \"" + kSystemByHost + ".unreadable\"."});
    EXPECT_EQ(CFPreferencesCopyMultiple(Value(), kDomain, kCFPreferencesAnyUser, kCFPreferencesCurrentHost),
        Value::dictionary())
        << "set aside, the domain is missing";
}

TEST_F(ThePreferencesCalls, AnswerNothingForADomainTheyCannotAddress)
{
    machine.actAs(777);
    EXPECT_TRUE(CFPreferencesCopyAppValue("com.apple.trackpad.scaling", kCFPreferencesAnyApplication).isNil());
    CFPreferencesSetAppValue("com.apple.trackpad.scaling", 1.0, kCFPreferencesAnyApplication);
    EXPECT_FALSE(CFPreferencesAppSynchronize(kCFPreferencesAnyApplication));
    EXPECT_TRUE(CFPreferencesCopyMultiple(Value(), kDomain, "nobody", kCFPreferencesAnyHost).isNil());
}
