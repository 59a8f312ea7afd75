#include "Daemon/ArvelConsoleUser.h"
#include "Common/ArvelNotifications.h"
#include "tests/Daemon/DaemonFixture.h"

#include <filesystem>

using NameAndUID = ArvelConsoleUser::NameAndUID;

class AConsoleUser : public DaemonTest {
protected:
    std::shared_ptr<ArvelConsoleUser> consoleUser;

    AConsoleUser()
    {
        world.addUser("alice", 501);
        world.addUser("bob", 502);
        world.recordNotifications({kArvelConsoleUserLoginNotification, kArvelConsoleUserLogoutNotification});
        consoleUser = ArvelConsoleUser::sharedInstance();
    }
};

TEST_F(AConsoleUser, CountsTheLoginWindowAndId0UnderAnyNameButRootAsNoUser)
{
    ASSERT_NE(consoleUser, nullptr);
    EXPECT_EQ(consoleUser->consoleUserNameAndUID(), (NameAndUID {std::nullopt, 0xFFFFFFFF}));
    world.login("alice");
    EXPECT_EQ(consoleUser->consoleUserNameAndUID(), (NameAndUID {"alice", 501}));
    world.showLoginWindow();
    EXPECT_EQ(consoleUser->consoleUserNameAndUID(), (NameAndUID {std::nullopt, 0xFFFFFFFF}));
    world.setConsoleUser("loginwindow", 88);
    EXPECT_EQ(consoleUser->consoleUserNameAndUID(), (NameAndUID {std::nullopt, 0xFFFFFFFF}));
    world.setConsoleUser("root", 0);
    EXPECT_EQ(consoleUser->consoleUserNameAndUID(), (NameAndUID {"root", 0}));
    world.setConsoleUser("bob", 0);
    EXPECT_EQ(consoleUser->consoleUserNameAndUID(), (NameAndUID {std::nullopt, 0xFFFFFFFF}));
    world.leaveConsole();
    EXPECT_EQ(consoleUser->consoleUserNameAndUID(), (NameAndUID {std::nullopt, 0xFFFFFFFF}));
    EXPECT_TRUE(world.logLines().empty());
}

TEST_F(AConsoleUser, AnnouncesAUserWhoseHomeIsThereAtOnce)
{
    world.createHomeFolder("alice");
    world.login("alice");
    EXPECT_TRUE(world.logLines().empty()) << "the daemon hears of the login from its run loop";
    world.runFor(0);
    EXPECT_TRUE(consoleUser->consoleUserHomeAvailable());
    world.runFor(60);
    EXPECT_EQ(world.timedLogLines(), (Lines {"0.000 ArvelConsoleUser: User \"alice\" UID 501 on console."}));
    EXPECT_EQ(world.notifications(), (Lines {"com.tessmoor.Arvel.ConsoleUserLogin 501"}));
}

TEST_F(AConsoleUser, WaitsForTheHomeFolderThenAnnouncesOnce)
{
    world.createHomeFolderAfter(2.0, "alice");
    world.login("alice");
    world.runFor(1.9);
    EXPECT_TRUE(world.notifications().empty());
    world.runFor(60);
    EXPECT_EQ(world.timedLogLines(),
        (Lines {"0.000 ArvelConsoleUser: User \"alice\" UID 501 on console, waiting for home directory.",
            "2.000 ArvelConsoleUser: User \"alice\" UID 501 on console, home directory now available."}));
    EXPECT_EQ(world.notifications(), (Lines {"com.tessmoor.Arvel.ConsoleUserLogin 501"}));
}

TEST_F(AConsoleUser, GivesUpWithOneErrorLineWhenTheHomeFolderNeverAppears)
{
    world.login("alice");
    world.runFor(120);
    EXPECT_EQ(world.timedLogLines(),
        (Lines {"0.000 ArvelConsoleUser: User \"alice\" UID 501 on console, waiting for home directory.",
            "30.500 ArvelConsoleUser error: Waiting for home directory exceeded poll time."}));
    EXPECT_EQ(world.logEntries().back().priority, kLogPriorityError);
    EXPECT_TRUE(world.notifications().empty());
}

TEST_F(AConsoleUser, AnnouncesAndGivesUpWhenTheFolderAppearsOnTheLastPoll)
{
    world.createHomeFolderAfter(30.5, "alice");
    world.login("alice");
    world.runFor(120);
    EXPECT_EQ(world.timedLogLines(),
        (Lines {"0.000 ArvelConsoleUser: User \"alice\" UID 501 on console, waiting for home directory.",
            "30.500 ArvelConsoleUser: User \"alice\" UID 501 on console, home directory now available.",
            "30.500 ArvelConsoleUser error: Waiting for home directory exceeded poll time."}));
    EXPECT_EQ(world.notifications(), (Lines {"com.tessmoor.Arvel.ConsoleUserLogin 501"}));
}

TEST_F(AConsoleUser, RestartsTheWaitWithAFullBudgetAtEachLogin)
{
    world.login("alice");
    world.runFor(10);
    world.login("bob");
    world.runFor(120);
    EXPECT_EQ(world.timedLogLines(),
        (Lines {"0.000 ArvelConsoleUser: User \"alice\" UID 501 on console, waiting for home directory.",
            "10.000 ArvelConsoleUser: User \"bob\" UID 502 on console, waiting for home directory.",
            "40.500 ArvelConsoleUser error: Waiting for home directory exceeded poll time."}));
}

TEST_F(AConsoleUser, AnnouncesALogoutAtOnceWhileAWaitRunsOut)
{
    world.login("alice");
    world.runFor(5);
    world.logout();
    world.runFor(5);
    world.createHomeFolder("alice"); // too late: alice has gone
    world.runFor(60);
    EXPECT_EQ(world.timedLogLines(),
        (Lines {"0.000 ArvelConsoleUser: User \"alice\" UID 501 on console, waiting for home directory.",
            "5.000 ArvelConsoleUser: No user on console.",
            "30.500 ArvelConsoleUser error: Waiting for home directory exceeded poll time."}));
    EXPECT_EQ(world.notifications(), (Lines {"com.tessmoor.Arvel.ConsoleUserLogout (null)"}));
}

TEST_F(AConsoleUser, TreatsANameThatWouldLeadOutOfItsHomeAsNoUserAndSaysSoOnce)
{
    // "~alice/../bob/Library/Preferences/" is bob's folder, not a home of
    // this user's own; it must not count as one.
    world.createHomeFolder("bob");
    for (const auto& [name, printed] : std::vector<std::pair<std::string, std::string>> {
             {"alice/../bob", "alice/../bob"}, {"../bob", "../bob"}, {"/", "/"}, {"", ""}, {"..", ".."}, {"bob\n", "bob?"}}) {
        SCOPED_TRACE(printed);
        world.clearLog();
        world.takeNotifications();
        world.setConsoleUser(name, 503);
        world.runFor(0);
        EXPECT_EQ(consoleUser->consoleUserNameAndUID(), (NameAndUID {std::nullopt, 0xFFFFFFFF}));
        EXPECT_FALSE(consoleUser->consoleUserHomeAvailable());
        EXPECT_EQ(world.logEntries(),
            (Entries {error("ArvelConsoleUser error: Console user name \"" + printed + "\" would lead out of its home, treating it as no user."),
                notice("ArvelConsoleUser: No user on console.")}));
        EXPECT_EQ(world.notifications(), (Lines {"com.tessmoor.Arvel.ConsoleUserLogout (null)"}));
    }
}

TEST_F(AConsoleUser, LooksForNoHomeOfAUserTheMachineDoesNotKnow)
{
    // Left unexpanded, "~carol/..." would be looked up as a folder named
    // "~carol" at the top of the disk.
    std::filesystem::create_directories(world.disk().path() + "/~carol/Library/Preferences");
    world.setConsoleUser("carol", 503);
    world.runFor(0);
    EXPECT_FALSE(consoleUser->consoleUserHomeAvailable());
    EXPECT_EQ(world.logLines(), (Lines {"ArvelConsoleUser: User \"carol\" UID 503 on console, waiting for home directory."}));
}

TEST_F(AConsoleUser, ReportsEachStepOfItsSetUpThatFailsAndTriesAgainNextTime)
{
    consoleUser.reset();
    releaseSharedInstances();
    struct Case {
        const char* operation;
        const char* line;
    };
    for (const Case& c : {
             Case {"SCDynamicStoreCreate", "ArvelConsoleUser error: Unable to create SystemConfiguration session."},
             Case {"SCDynamicStoreKeyCreateConsoleUser",
                 "ArvelConsoleUser error: Unable to get System Configuration key for console user."},
             Case {"SCDynamicStoreSetNotificationKeys", "ArvelConsoleUser error: Unable to install SystemConfiguration notification."},
             Case {"SCDynamicStoreCreateRunLoopSource", "ArvelConsoleUser error: Unable to obtain SystemConfiguration runloop source."},
         }) {
        SCOPED_TRACE(c.operation);
        world.clearLog();
        world.failNext(c.operation, 1);
        EXPECT_EQ(ArvelConsoleUser::sharedInstance(), nullptr);
        EXPECT_EQ(world.logEntries(),
            (Entries {error(c.line), error("ArvelConsoleUser error: Unable to allocate the shared console user access object.")}));
        EXPECT_EQ(world.machine().dynamicStore().watcherCount(), 0u);
    }
    ASSERT_NE(ArvelConsoleUser::sharedInstance(), nullptr);
    world.clearLog();
    world.login("alice");
    world.runFor(0);
    EXPECT_EQ(world.logLines(), (Lines {"ArvelConsoleUser: User \"alice\" UID 501 on console, waiting for home directory."}));
}
