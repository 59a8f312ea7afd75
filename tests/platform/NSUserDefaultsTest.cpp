#include "Defaults/CFPreferences.h"
#include "Defaults/NSUserDefaults.h"
#include "support/PreferencesTestMachine.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string kAliceFile = "/Users/alice/Library/Preferences/com.tessmoor.Arvel.plist";
const std::string kBobFile = "/Users/bob/Library/Preferences/com.tessmoor.Arvel.plist";
const Value kSettings = Value::dictionary({{"PrefsVersion", 4}, {"CornerSize", 12}});

} // namespace

class TheStandardUserDefaults : public ::testing::Test {
protected:
    PreferencesTestMachine machine;

    TheStandardUserDefaults()
    {
        machine.addUser("alice", 501);
        machine.addUser("bob", 502);
    }
};

TEST_F(TheStandardUserDefaults, BelongToTheEffectiveUserAtCreationUntilReset)
{
    machine.actAs(501);
    auto defaults = NSUserDefaults::standardUserDefaults();
    EXPECT_EQ(defaults->home(), "/Users/alice");

    // Switching identity alone changes nothing: the object keeps its user.
    machine.actAs(502);
    EXPECT_EQ(NSUserDefaults::standardUserDefaults(), defaults);
    defaults->setPersistentDomainForName(kSettings, "com.tessmoor.Arvel");
    ASSERT_TRUE(defaults->synchronize());
    EXPECT_EQ(machine.readDomain(kAliceFile), kSettings);
    EXPECT_FALSE(machine.exists(kBobFile));

    NSUserDefaults::resetStandardUserDefaults();
    auto rebuilt = NSUserDefaults::standardUserDefaults();
    EXPECT_NE(rebuilt, defaults);
    EXPECT_EQ(rebuilt->userId(), 502u);
    EXPECT_TRUE(rebuilt->persistentDomainForName("com.tessmoor.Arvel").isNil());
    EXPECT_EQ(defaults->persistentDomainForName("com.tessmoor.Arvel"), kSettings) << "a kept object still reads alice";
}

TEST_F(TheStandardUserDefaults, ChangeDomainsInMemoryUntilSynchronized)
{
    machine.actAs(501);
    auto defaults = NSUserDefaults::standardUserDefaults();
    defaults->setPersistentDomainForName(kSettings, "com.tessmoor.Arvel");
    EXPECT_FALSE(machine.exists(kAliceFile));
    EXPECT_EQ(defaults->persistentDomainForName("com.tessmoor.Arvel"), kSettings);
    ASSERT_TRUE(defaults->synchronize());
    EXPECT_EQ(machine.readDomain(kAliceFile), kSettings);

    defaults->removePersistentDomainForName("com.tessmoor.Arvel");
    EXPECT_TRUE(defaults->persistentDomainForName("com.tessmoor.Arvel").isNil());
    EXPECT_TRUE(machine.exists(kAliceFile));
    ASSERT_TRUE(defaults->synchronize());
    EXPECT_FALSE(machine.exists(kAliceFile));

    // Removed, then set again before synchronizing: the new domain is written.
    defaults->removePersistentDomainForName("com.tessmoor.Arvel");
    defaults->setPersistentDomainForName(Value::dictionary({{"PrefsVersion", 4}}), "com.tessmoor.Arvel");
    ASSERT_TRUE(defaults->synchronize());
    EXPECT_EQ(machine.readDomain(kAliceFile), Value::dictionary({{"PrefsVersion", 4}}));
    EXPECT_TRUE(machine.logLines().empty());
}

TEST_F(TheStandardUserDefaults, SeeWhatAnotherProcessSynchronized)
{
    machine.actAs(501);
    auto defaults = NSUserDefaults::standardUserDefaults();
    EXPECT_TRUE(defaults->persistentDomainForName("com.tessmoor.Arvel").isNil());
    machine.writeDomain(kAliceFile, kSettings);
    EXPECT_EQ(defaults->persistentDomainForName("com.tessmoor.Arvel"), kSettings);
}

TEST_F(TheStandardUserDefaults, AreSynchronizedByAReset)
{
    machine.actAs(501);
    NSUserDefaults::standardUserDefaults()->setPersistentDomainForName(kSettings, "com.tessmoor.Arvel");
    NSUserDefaults::resetStandardUserDefaults();
    EXPECT_EQ(machine.readDomain(kAliceFile), kSettings);
}

TEST_F(TheStandardUserDefaults, RefuseWhatNoDomainFileCanHold)
{
    machine.actAs(501);
    auto defaults = NSUserDefaults::standardUserDefaults();
    defaults->setPersistentDomainForName(Value::array({1}), "com.tessmoor.Arvel");
    defaults->setPersistentDomainForName(kSettings, "../../bob/Library/Preferences/com.tessmoor.Arvel");
    EXPECT_TRUE(defaults->synchronize());
    EXPECT_FALSE(machine.exists(kAliceFile));
    EXPECT_FALSE(machine.exists(kBobFile));
    EXPECT_EQ(machine.logLines(),
        (std::vector<std::string> {
            "NSUserDefaults error: A persistent domain is a dictionary of property-list values; domain "
            "\"com.tessmoor.Arvel\" unchanged.",
            "NSUserDefaults error: \"../../bob/Library/Preferences/com.tessmoor.Arvel\" is not a valid domain name.",
        }));
}

TEST_F(TheStandardUserDefaults, OfAnIdWithoutUserKeepTheirChangesPending)
{
    machine.actAs(777);
    auto defaults = NSUserDefaults::standardUserDefaults();
    defaults->setPersistentDomainForName(kSettings, "com.tessmoor.Arvel");
    EXPECT_FALSE(defaults->synchronize());
    EXPECT_EQ(defaults->persistentDomainForName("com.tessmoor.Arvel"), kSettings);
    EXPECT_EQ(machine.logLines(),
        std::vector<std::string> {
            "NSUserDefaults error: Unable to write domain \"com.tessmoor.Arvel\": user id 777 has no home folder."});
}

TEST_F(TheStandardUserDefaults, WriteOnlyWhatTheyChangedOverWhatAnotherProgramWroteMeanwhile)
{
    machine.actAs(501);
    machine.writeDomain(kAliceFile, Value::dictionary({{"A", 1}, {"B", 1}}));
    auto defaults = NSUserDefaults::standardUserDefaults();
    Value domain = defaults->persistentDomainForName("com.tessmoor.Arvel");
    machine.writeDomain(kAliceFile, Value::dictionary({{"A", 1}, {"B", 2}, {"C", 3}}));
    domain.set("A", 5);
    defaults->setPersistentDomainForName(domain, "com.tessmoor.Arvel");
    ASSERT_TRUE(defaults->synchronize());
    EXPECT_EQ(machine.readDomain(kAliceFile), Value::dictionary({{"A", 5}, {"B", 2}, {"C", 3}}));

    // Removing the domain removes what this object knew of it.
    machine.writeDomain(kAliceFile, Value::dictionary({{"A", 5}, {"B", 2}, {"C", 3}, {"D", 4}}));
    defaults->removePersistentDomainForName("com.tessmoor.Arvel");
    ASSERT_TRUE(defaults->synchronize());
    EXPECT_EQ(machine.readDomain(kAliceFile), Value::dictionary({{"D", 4}}));
    EXPECT_TRUE(machine.logLines().empty());
}

// The pane, the agent and the daemon write one user's domain: two real
// processes writing it at once, one a whole domain at a time, the other a
// key at a time, must not undo each other's keys.
TEST_F(TheStandardUserDefaults, AndThePreferencesCallsOfAnotherProcessLoseNoKeyOfEachOther)
{
    constexpr int kRounds = 200;
    machine.actAs(501);
    auto writer = [](bool wholeDomains) {
        pid_t pid = fork();
        if (pid != 0)
            return pid;
        bool written = true;
        for (int round = 0; round < kRounds; ++round) {
            std::string key = (wholeDomains ? "Whole" : "Key") + std::to_string(round);
            if (wholeDomains) {
                auto defaults = NSUserDefaults::standardUserDefaults();
                Value domain = defaults->persistentDomainForName("com.tessmoor.Arvel");
                if (!domain.isDictionary())
                    domain = Value::dictionary();
                domain.set(key, round);
                defaults->setPersistentDomainForName(domain, "com.tessmoor.Arvel");
                written = defaults->synchronize() && written;
            } else {
                CFPreferencesSetAppValue(key, round, "com.tessmoor.Arvel");
                written = CFPreferencesAppSynchronize("com.tessmoor.Arvel") && written;
            }
        }
        _exit(written ? 0 : 1);
    };
    pid_t writers[] = {writer(true), writer(false)};
    Value expected = Value::dictionary();
    for (int round = 0; round < kRounds; ++round)
        expected.set("Whole" + std::to_string(round), round).set("Key" + std::to_string(round), round);
    for (pid_t pid : writers) {
        int status = -1;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a write failed";
    }
    EXPECT_EQ(machine.readDomain(kAliceFile), expected);
}
