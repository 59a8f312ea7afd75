#include "SessionAgentFixture.h"

#include "Notifications/NotificationCenter.h"
#include "RunLoop/Clock.h"

#include <algorithm>

using machine::ButtonSpec;
using machine::ScreenPoint;
using Warps = std::vector<ScreenPoint>;

class TheDefaultButtonMover : public SessionAgentTest {
protected:
    int editor = 0, mail = 0;
    ButtonSpec ok {{100, 200}, {80, 20}, true};

    TheDefaultButtonMover()
    {
        editor = launch("Editor", "com.example.editor", "ttxt");
        mail = launch("Mail", "com.apple.mail", "emal");
        world.bringToFront(editor);
        saveSettings(Value::dictionary({{"MoveToDefaultButton", true}}));
    }
    void start()
    {
        publishDaemon();
        startAgent();
        world.runFor(1);
        takeAgentLines();
    }
    bool watches(int pid) const
    {
        auto pids = ArvelDefaultButton::sharedInstance()->watchedPIDs();
        return std::find(pids.begin(), pids.end(), pid) != pids.end();
    }
    std::string pid(int p) const { return std::to_string(p); }
    Lines watchedNotifications()
    {
        Lines out;
        for (const auto& r : world.machine().accessibility().registrations())
            out.push_back(std::to_string(r.element.pid) + " " + r.notification);
        return out;
    }
};

TEST_F(TheDefaultButtonMover, WatchesEveryApplicationButItselfAndTheLoginWindowAtStart)
{
    start();
    EXPECT_EQ(watchedNotifications(), (Lines {
        pid(editor) + " AXWindowCreated", pid(editor) + " AXSheetCreated",
        pid(mail) + " AXWindowCreated", pid(mail) + " AXSheetCreated",
        pid(loginWindow) + " AXWindowCreated", pid(loginWindow) + " AXSheetCreated",
    }));
    EXPECT_EQ(ArvelDefaultButton::sharedInstance()->loginWindowProcess(), loginWindow);
}

TEST_F(TheDefaultButtonMover, PutsThePointerTwelvePointsInFromTheButtonsRightEdgeHalfwayDown)
{
    start();
    world.openWindow(editor, ok);
    EXPECT_TRUE(world.pointerWarps().empty()) << "the new window is heard through the run loop";
    world.runFor(1);
    EXPECT_EQ(world.pointerWarps(), (Warps {{168, 210}}));
    EXPECT_EQ(world.machine().pointer().localEventsSuppressionInterval(), 0.0);
    EXPECT_TRUE(agentLines().empty());
}

TEST_F(TheDefaultButtonMover, LeavesThePointerAloneWhileAMouseButtonIsHeld)
{
    start();
    world.pressMouseButton();
    world.openWindow(editor, ok);
    world.runFor(1);
    EXPECT_TRUE(world.pointerWarps().empty());
    world.releaseMouseButton();
    world.openWindow(editor, ButtonSpec {{10, 10}, {40, 30}, true});
    world.runFor(1);
    EXPECT_EQ(world.pointerWarps(), (Warps {{38, 25}}));
}

TEST_F(TheDefaultButtonMover, TakesAnAbsentEnabledFlagAsEnabledAndSkipsADisabledButton)
{
    start();
    world.openWindow(editor, ButtonSpec {{100, 200}, {80, 20}, false});
    world.runFor(1);
    EXPECT_EQ(takeAgentLines(), Lines {"ArvelDefaultButton: New window's default button is not enabled."});
    world.openWindow(editor, ButtonSpec {{100, 200}, {80, 20}, std::nullopt});
    world.runFor(1);
    EXPECT_EQ(world.pointerWarps(), (Warps {{168, 210}}));
}

TEST_F(TheDefaultButtonMover, MovesToASheetsButtonWhenItsParentIsTheFocusedWindow)
{
    start();
    std::uint64_t document = world.openWindow(editor);
    world.runFor(1);
    EXPECT_EQ(takeAgentLines(), Lines {"ArvelDefaultButton: New window does not have a default button, error -25212."});
    world.openSheet(editor, document, ok);
    world.runFor(1);
    EXPECT_EQ(world.pointerWarps(), (Warps {{168, 210}}));

    // A sheet on a window that has lost the focus stays put.
    world.openWindow(editor);
    world.runFor(1);
    takeAgentLines();
    world.openSheet(editor, document, ok);
    world.runFor(1);
    EXPECT_EQ(takeAgentLines(), Lines {"ArvelDefaultButton: New sheet or parent is not front focus."});
    EXPECT_EQ(world.pointerWarps().size(), 1u);
}

TEST_F(TheDefaultButtonMover, CountsTheLoginWindowsWindowsAsFrontButNotABackgroundApplications)
{
    start();
    world.openWindow(mail, ok);
    world.runFor(1);
    EXPECT_EQ(takeAgentLines(), Lines {"ArvelDefaultButton: New window is not front focus."});
    world.openWindow(loginWindow, ok);
    world.runFor(1);
    EXPECT_EQ(world.pointerWarps(), (Warps {{168, 210}}));
    EXPECT_TRUE(agentLines().empty());
}

TEST_F(TheDefaultButtonMover, NeverWatchesMoneydance)
{
    start();
    int moneydance = launch("Moneydance", "com.moneydance.Moneydance", "MDNC");
    world.bringToFront(moneydance);
    world.runFor(1);
    world.openWindow(moneydance, ok);
    world.runFor(1);
    EXPECT_EQ(takeAgentLines(), (Lines {
        "ArvelFrontApplication: Front application switch.",
        "ArvelSessionAgent: Front process key \"'MDNC'Moneydance.app\".",
        "ArvelSessionAgent: Default configuration for front application.",
        "ArvelDefaultButton: Ignoring pid " + pid(moneydance) + ", it is on the permanent ignore list.",
    }));
    EXPECT_TRUE(world.observedNotifications(moneydance).empty());
    EXPECT_TRUE(world.pointerWarps().empty());
}

TEST_F(TheDefaultButtonMover, DropsEveryObserverWhenTheOptionGoesOffAndWatchesAgainWhenItComesBack)
{
    start();
    saveSettings(Value::dictionary({{"MoveToDefaultButton", false}}));
    postPrefChange();
    world.runFor(1);
    EXPECT_TRUE(watchedNotifications().empty());
    EXPECT_TRUE(ArvelDefaultButton::sharedInstance()->watchedPIDs().empty());
    world.openWindow(editor, ok);
    world.runFor(1);
    EXPECT_TRUE(world.pointerWarps().empty());

    saveSettings(Value::dictionary({{"MoveToDefaultButton", true}}));
    postPrefChange();
    world.runFor(1);
    EXPECT_EQ(watchedNotifications().size(), 6u);
    EXPECT_TRUE(watches(editor) && watches(mail) && watches(loginWindow));
}

TEST_F(TheDefaultButtonMover, FollowsTheAccessibilitySwitch)
{
    start();
    world.setAccessibility(false);
    world.runFor(1);
    EXPECT_EQ(takeAgentLines(), Lines {"ArvelDefaultButton: Accessibility API change."});
    EXPECT_TRUE(watchedNotifications().empty());
    EXPECT_FALSE(ArvelDefaultButton::sharedInstance()->accessibilityIsOn());

    world.setAccessibility(true);
    world.runFor(1);
    EXPECT_EQ(watchedNotifications().size(), 6u);
    world.openWindow(editor, ok);
    world.runFor(1);
    EXPECT_EQ(world.pointerWarps(), (Warps {{168, 210}}));
}

TEST_F(TheDefaultButtonMover, DropsAQuitProcessAtTheNextHouseKeeping)
{
    start();
    world.markTime();
    world.quitApplication(mail);
    world.runFor(28);
    EXPECT_TRUE(watches(mail));
    world.runFor(2);
    EXPECT_FALSE(watches(mail));
    EXPECT_TRUE(watches(editor));
    EXPECT_EQ(timedAgentLines(), (Lines {
        "29.000 ArvelDefaultButton: House keeping timed check.",
        "29.000 ArvelDefaultButton: Already have observer for pid " + pid(editor) + ".",
    }));
    EXPECT_TRUE(world.observedNotifications(mail).empty());
}

TEST_F(TheDefaultButtonMover, WatchesANewApplicationAtItsSwitchAndTreatsItsFocusedWindowAsNew)
{
    start();
    int notes = launch("Notes", "com.example.notes", "NOTE");
    world.openWindow(notes, ok);
    world.runFor(1);
    EXPECT_TRUE(world.pointerWarps().empty()) << "not watched yet";
    world.bringToFront(notes);
    world.runFor(1);
    EXPECT_TRUE(watches(notes));
    EXPECT_EQ(world.pointerWarps(), (Warps {{168, 210}}));
}

TEST_F(TheDefaultButtonMover, FindsTheSwitchedProcessWithoutASerialNumberInTheNotice)
{
    start();
    int notes = launch("Notes", "com.example.notes", "NOTE");
    world.openWindow(notes, ok);
    world.bringToFront(notes);
    // Heard before the machine's own switch event is served.
    NotificationCenter::defaultCenter().postNotificationName(kArvelAppSwitchNotification, Value::dictionary({{"psnhigh", "junk"}}));
    EXPECT_TRUE(watches(notes));
    EXPECT_EQ(world.pointerWarps(), (Warps {{168, 210}}));
    world.runFor(1);
    EXPECT_EQ(world.pointerWarps().size(), 1u) << "an application already watched is left alone";
}

TEST_F(TheDefaultButtonMover, GivesABusyApplicationFourSecondsToAnswer)
{
    start();
    int slow = launch("Slow", "com.example.slow", "SLOW");
    world.machine().accessibility().failFrontmostReads(slow, 7);
    double before = currentDate();
    world.bringToFront(slow);
    world.runFor(0.5);
    EXPECT_EQ(currentDate() - before, 3.5);
    EXPECT_TRUE(watches(slow));

    int stuck = launch("Stuck", "com.example.stuck", "STCK");
    world.machine().accessibility().failFrontmostReads(stuck, 8);
    takeAgentLines();
    before = currentDate();
    world.bringToFront(stuck);
    world.runFor(0.5);
    EXPECT_EQ(currentDate() - before, 4.0);
    EXPECT_FALSE(watches(stuck));
    EXPECT_TRUE(world.observedNotifications(stuck).empty());
    Lines lines = agentLines();
    EXPECT_EQ(lines.back(), "ArvelDefaultButton error: Unable to accessibility attach to pid " + pid(stuck) + " \"Stuck\".");
}

TEST_F(TheDefaultButtonMover, KeepsItsObserversButMovesNothingWhileTheSessionIsInactive)
{
    start();
    world.loginSession("bob");
    world.runFor(1);
    world.openWindow(editor, ok);
    world.runFor(1);
    EXPECT_TRUE(world.pointerWarps().empty());
    EXPECT_EQ(watchedNotifications().size(), 6u);
}

TEST_F(TheDefaultButtonMover, ShrugsOffAWindowThatClosedBeforeItWasHeard)
{
    start();
    std::uint64_t window = world.openWindow(editor, ok);
    world.closeWindow(editor, window);
    world.runFor(1);
    EXPECT_EQ(agentLines(), Lines {"ArvelDefaultButton error: AX element create callback unable to determine role."});
    EXPECT_TRUE(world.pointerWarps().empty());
}

TEST_F(TheDefaultButtonMover, ReportsAButtonItCannotMeasureOrAPointerItCannotMove)
{
    start();
    auto& trees = world.machine().accessibility();
    std::uint64_t window = world.openWindow(editor, ok);
    trees.removeAttribute(trees.defaultButtonOf({editor, window}), "AXPosition");
    world.runFor(1);
    window = world.openWindow(editor, ok);
    trees.setAttribute(trees.defaultButtonOf({editor, window}), "AXSize", machine::ScreenPoint {1, 2});
    world.runFor(1);
    world.openWindow(editor, ok);
    world.failNext("CGWarpMouseCursorPosition", 1000);
    world.runFor(1);
    EXPECT_EQ(agentLines(), (Lines {
        "ArvelDefaultButton error: Unable to obtain position of button, error -25212.",
        "ArvelDefaultButton error: Unable to obtain size data of button, error 0.",
        "ArvelDefaultButton error: Unable to move mouse to button, error 1000.",
    }));
    EXPECT_TRUE(world.pointerWarps().empty());
}

TEST_F(TheDefaultButtonMover, GoesOnWithoutTheLoginWindowWhenItCannotBeFound)
{
    world.quitApplication(loginWindow);
    world.failNext("NSTask.launch", 1);
    startAgent();
    world.runFor(1);
    Lines lines = agentLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + 2), (Lines {
        "ArvelDefaultButton error: Unable to launch '/bin/ps'. Exception NSInvalidArgumentException - launch path not accessible",
        "ArvelDefaultButton error: Unable to obtain loginwindow PID.",
    }));
    ArvelDefaultButton::releaseSharedInstance();
    world.clearLog();
    auto mover = ArvelDefaultButton::sharedInstance();
    ASSERT_TRUE(mover);
    EXPECT_EQ(agentLines(), Lines {"ArvelDefaultButton error: Unable to obtain loginwindow PID."});
    EXPECT_EQ(mover->loginWindowProcess(), 0);
}
