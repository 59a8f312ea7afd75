#include "SessionAgentFixture.h"

#include "DistributedObjects/Connection.h"
#include "Foundation/Allocation.h"

#include <cstdlib>

using AnAgent = SessionAgentTest;

TEST_F(AnAgent, WaitsForAnAbsentDaemonRetryingEveryTenSecondsThenConfiguresAtOnce)
{
    int editor = launch("Editor", "com.example.editor", "ttxt");
    world.bringToFront(editor);
    saveSettings(Value::dictionary({{"ApplicationSet", Value::dictionary({{"com.example.editor", Value::dictionary({{"ApplicationName", "Editor"}, {"NWCorner", corner(3)}})}})}}));
    startAgent();
    world.runFor(25);
    publishDaemon();
    world.runFor(10);

    EXPECT_EQ(timedAgentLines(), (Lines {
        "0.250 ArvelSessionAgent: Session is not front, no application configuration push.",
        "0.250 ArvelSessionAgent: Unable to obtain driver configuration access, scheduling retry.",
        "0.250 ArvelSessionAgent error: Unable to obtain NSDistantObject for driver configuration access.",
        "0.250 ArvelSessionAgent: Tracking for user \"alice\" in session 100001.",
        "0.250 ArvelSessionAgent: No daemon connection, no application configuration push.",
        "10.250 ArvelSessionAgent: No daemon connection, no application configuration push.",
        "10.250 ArvelSessionAgent: Unable to obtain driver configuration access, scheduling retry.",
        "20.250 ArvelSessionAgent: No daemon connection, no application configuration push.",
        "20.250 ArvelSessionAgent: Unable to obtain driver configuration access, scheduling retry.",
        "30.250 ArvelDefaultButton: House keeping timed check.",
        "30.250 ArvelSessionAgent: Front process key \"com.example.editor\".",
        "30.250 ArvelSessionAgent: Custom configuration for application \"Editor\".",
    }));
    EXPECT_EQ(lastSent(), applicationSet(corner(3), corner(0), corner(0), corner(0)));
    EXPECT_EQ(sendCount(), 1u);
    EXPECT_TRUE(agent->daemonProxy());
    EXPECT_FALSE(agent->reconnectPending());
}

TEST_F(AnAgent, NoticesTheDaemonsDeathDropsTheProxyAndReconnectsAtOnce)
{
    publishDaemon();
    world.bringToFront(launch("Editor", "com.example.editor", "ttxt"));
    startAgent();
    world.runFor(1);
    auto first = agent->daemonProxy();
    ASSERT_TRUE(first);
    std::size_t sent = sendCount();
    takeAgentLines();

    // A new daemon publishes before the agent hears of the old one's death.
    killDaemon();
    publishDaemon();
    world.runFor(1);
    EXPECT_EQ(takeAgentLines(), (Lines {
        "ArvelSessionAgent: Potential driver access connection status change.",
        "ArvelSessionAgent error: Lost daemon driver connection.",
        "ArvelSessionAgent: No daemon connection, no application configuration push.",
        "ArvelSessionAgent: Front process key \"'ttxt'Editor.app\".",
        "ArvelSessionAgent: Default configuration for front application.",
    }));
    ASSERT_TRUE(agent->daemonProxy());
    EXPECT_NE(agent->daemonProxy(), first);
    EXPECT_EQ(sendCount(), sent + 1);

    // This time the daemon stays away: the agent goes back to waiting.
    killDaemon();
    world.runFor(1);
    EXPECT_EQ(takeAgentLines(), (Lines {
        "ArvelSessionAgent: Potential driver access connection status change.",
        "ArvelSessionAgent error: Lost daemon driver connection.",
        "ArvelSessionAgent: No daemon connection, no application configuration push.",
        "ArvelSessionAgent: No daemon connection, no application configuration push.",
        "ArvelSessionAgent: Unable to obtain driver configuration access, scheduling retry.",
    }));
    EXPECT_FALSE(agent->daemonProxy());
    EXPECT_TRUE(agent->reconnectPending());
}

TEST_F(AnAgent, KeepsItsProxyWhenAnotherConnectionDies)
{
    publishDaemon();
    startAgent();
    world.runFor(1);
    auto held = agent->daemonProxy();
    auto other = ArvelDOServer::create();
    ASSERT_TRUE(other->publishObjectWithName(driverAccess, Value("com.example.Other")));
    auto otherProxy = Connection::rootProxyForConnectionWithRegisteredNameHost("com.example.Other");
    ASSERT_TRUE(otherProxy);
    takeAgentLines();

    other.reset();
    world.runFor(1);
    EXPECT_EQ(agentLines(), Lines {"ArvelSessionAgent: Potential driver access connection status change."});
    EXPECT_EQ(agent->daemonProxy(), held);
    EXPECT_FALSE(agent->reconnectPending());
}

TEST_F(AnAgent, GivesUpThePushWhenItsCallMeetsADeadProxy)
{
    publishDaemon();
    world.bringToFront(launch("Editor", "com.example.editor", "ttxt"));
    int mail = launch("Mail", "com.apple.mail", "emal");
    startAgent();
    world.runFor(1);
    std::size_t sent = sendCount();
    takeAgentLines();

    // The switch is served before the death notice: the push calls through
    // a proxy whose other end has gone.
    killDaemon();
    world.bringToFront(mail);
    world.runFor(1);
    EXPECT_EQ(agentLines(), (Lines {
        "ArvelFrontApplication: Front application switch.",
        "ArvelSessionAgent: Driver is not loaded, no application configuration push.",
        "ArvelSessionAgent: Potential driver access connection status change.",
        "ArvelSessionAgent error: Lost daemon driver connection.",
        "ArvelSessionAgent: No daemon connection, no application configuration push.",
        "ArvelSessionAgent: No daemon connection, no application configuration push.",
        "ArvelSessionAgent: Unable to obtain driver configuration access, scheduling retry.",
    }));
    EXPECT_EQ(sendCount(), sent);
    EXPECT_FALSE(app->isTerminated());
}

TEST_F(AnAgent, StaysQuietUnlessArvelDebugIsExactlyYES)
{
    resetVerboseLoggingForTesting();
    setenv("ArvelDebug", "yes", 1);
    startAgent();
    unsetenv("ArvelDebug");
    world.runFor(25);
    EXPECT_FALSE(verboseLogging());
    EXPECT_EQ(agentLines(), (Lines {
        "ArvelSessionAgent error: Unable to obtain NSDistantObject for driver configuration access.",
        "ArvelSessionAgent: Tracking for user \"alice\" in session 100001.",
    }));
}

TEST_F(AnAgent, TurnsApplicationEventsIntoNotificationsAndPassesEveryEventOn)
{
    startAgent();
    world.recordNotifications({kArvelAppSwitchNotification, kArvelAppLaunchedNotification, kArvelAppTerminatedNotification});
    int editor = world.launchApplication({"Editor", "com.example.editor", "/Applications/Editor.app", "ttxt", aliceSession, {3, 0x4005}});
    world.bringToFront(editor);
    world.quitApplication(editor);
    world.runFor(1);
    EXPECT_EQ(world.takeNotifications(), (Lines {
        "com.tessmoor.Arvel.AppLaunched {psnhigh = 3; psnlow = 16389; }",
        "com.tessmoor.Arvel.AppSwitch {psnhigh = 3; psnlow = 16389; }",
        "com.tessmoor.Arvel.AppTerminated {psnhigh = 3; psnlow = 16389; }",
    }));
    EXPECT_EQ(app->dispatchedEventCount(), 3u);

    app->sendEvent(NSEvent(21, 1, 3, 5));
    app->sendEvent(NSEvent(13, 2, 3, 5));
    EXPECT_TRUE(world.takeNotifications().empty());
    EXPECT_EQ(app->dispatchedEventCount(), 5u);
    EXPECT_EQ(app->lastDispatchedEvent(), NSEvent(13, 2, 3, 5));
}

TEST_F(AnAgent, FollowsFastUserSwitchingAndSendsNothingWhileInactive)
{
    publishDaemon();
    world.bringToFront(launch("Editor", "com.example.editor", "ttxt"));
    int mail = launch("Mail", "com.apple.mail", "emal");
    startAgent();
    world.runFor(1);
    std::size_t sent = sendCount();
    takeAgentLines();

    std::uint32_t bob = world.loginSession("bob");
    world.runFor(1);
    world.bringToFront(mail);
    world.runFor(1);
    EXPECT_EQ(takeAgentLines(), (Lines {
        "ArvelSessionAgent: Session went inactive.",
        "ArvelSessionAgent: Tracking for user \"alice\" in inactive session 100001.",
        "ArvelSessionAgent: Session is not front, no application configuration push.",
        "ArvelFrontApplication: Front application switch.",
        "ArvelSessionAgent: Session is not front, no application configuration push.",
    }));
    EXPECT_EQ(sendCount(), sent);
    EXPECT_FALSE(agent->sessionIsActive());

    world.switchToSession(aliceSession);
    world.runFor(1);
    EXPECT_EQ(takeAgentLines(), (Lines {
        "ArvelSessionAgent: Session went active.",
        "ArvelSessionAgent: Tracking for user \"alice\" in session 100001.",
        "ArvelSessionAgent: Front process key \"'emal'Mail.app\".",
        "ArvelSessionAgent: Default configuration for front application.",
    }));
    EXPECT_EQ(sendCount(), sent + 1);
    EXPECT_NE(bob, aliceSession);
}

TEST_F(AnAgent, ReReadsTheSessionAndPushesOnEveryDriverStateChange)
{
    publishDaemon();
    world.bringToFront(launch("Editor", "com.example.editor", "ttxt"));
    startAgent();
    world.runFor(1);
    std::size_t sent = sendCount();
    takeAgentLines();

    postDriverStateChange();
    world.runFor(1);
    EXPECT_EQ(agentLines(), (Lines {
        "ArvelSessionAgent: Driver state change.",
        "ArvelSessionAgent: Tracking for user \"alice\" in session 100001.",
        "ArvelSessionAgent: Front process key \"'ttxt'Editor.app\".",
        "ArvelSessionAgent: Default configuration for front application.",
        "ArvelSessionAgent: Front process key \"'ttxt'Editor.app\".",
        "ArvelSessionAgent: Default configuration for front application.",
    }));
    EXPECT_EQ(sendCount(), sent + 2);
    EXPECT_EQ(lastSent(), emptyForm());
}

TEST_F(AnAgent, LeavesTheSessionStateAsItWasWhenTheSessionCannotBeRead)
{
    startAgent();
    world.runFor(1);
    takeAgentLines();
    world.failNext("CGSessionCopyCurrentDictionary", 1);
    world.loginSession("bob");
    world.runFor(1);
    EXPECT_EQ(agentLines(), (Lines {
        "ArvelSessionAgent: Session went inactive.",
        "ArvelSessionAgent error: Unable to determine session info.",
    }));
    EXPECT_TRUE(agent->sessionIsActive());
}

TEST_F(AnAgent, OnJaguarHasNoMoverNoSessionTrackingAndIsAlwaysActive)
{
    world.setSystemVersion(0x1028);
    saveSettings(Value::dictionary({{"MoveToDefaultButton", true}}));
    publishDaemon();
    int editor = launch("Editor", "com.example.editor", "ttxt");
    world.bringToFront(editor);
    startAgent();
    world.loginSession("bob");
    world.runFor(1);
    EXPECT_FALSE(agent->runsOnPantherOrLater());
    EXPECT_FALSE(agent->hasDefaultButtonMover());
    EXPECT_TRUE(agent->sessionIsActive());
    EXPECT_TRUE(world.observedNotifications(editor).empty());
    EXPECT_EQ(takeAgentLines(), (Lines {
        "ArvelSessionAgent: Session is not front, no application configuration push.",
        "ArvelSessionAgent: Front process key \"'ttxt'Editor.app\".",
        "ArvelSessionAgent: Default configuration for front application.",
    }));

    postDriverStateChange();
    world.runFor(1);
    EXPECT_EQ(takeAgentLines(), (Lines {
        "ArvelSessionAgent: Driver state change.",
        "ArvelSessionAgent: Front process key \"'ttxt'Editor.app\".",
        "ArvelSessionAgent: Default configuration for front application.",
    }));
}

TEST_F(AnAgent, EndsWhenAHandlerOrTheSessionIdCannotBeHad)
{
    world.failNext("ArvelFrontApplication.init", 1);
    startAgent();
    EXPECT_EQ(takeAgentLines(), (Lines {
        "ArvelFrontApplication error: Unable to allocate the front application watch object.",
        "ArvelSessionAgent error: Unable to start front application watch.",
    }));
    EXPECT_TRUE(app->isTerminated());

    world.failNext("ArvelDefaultButton.init", 1);
    startAgent();
    EXPECT_EQ(takeAgentLines(), (Lines {
        "ArvelDefaultButton error: Unable to allocate the default button watch object.",
        "ArvelSessionAgent error: Unable to start default button watch.",
    }));
    EXPECT_TRUE(app->isTerminated());

    world.failNext("SessionGetInfo", -60500);
    startAgent();
    EXPECT_EQ(takeAgentLines(), (Lines {
        "ArvelSessionAgent: Session is not front, no application configuration push.",
        "ArvelSessionAgent: Unable to obtain driver configuration access, scheduling retry.",
        "ArvelSessionAgent error: Unable to obtain NSDistantObject for driver configuration access.",
        "ArvelSessionAgent error: Unable to determine session ID. Abort.",
    }));
    EXPECT_TRUE(app->isTerminated());
}

TEST_F(AnAgent, MakesNoFurtherAttemptWhenItsRetryTimerCannotBeMade)
{
    world.failNext("NSTimer.init", 1);
    startAgent();
    world.runFor(25);
    EXPECT_EQ(agentLines(), (Lines {
        "ArvelSessionAgent: Session is not front, no application configuration push.",
        "ArvelSessionAgent: Unable to obtain driver configuration access, scheduling retry.",
        "ArvelSessionAgent error: Unable to schedule daemon reconnect attempt.",
        "ArvelSessionAgent error: Unable to obtain NSDistantObject for driver configuration access.",
        "ArvelSessionAgent: Tracking for user \"alice\" in session 100001.",
        "ArvelSessionAgent: No daemon connection, no application configuration push.",
    }));
    EXPECT_FALSE(agent->reconnectPending());
}
