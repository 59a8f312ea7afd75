#include "AppKit/NSApplication.h"
#include "AppKit/NSWorkspace.h"
#include "Carbon/CarbonEvents.h"
#include "CoreGraphics/CGSession.h"
#include "RunLoop/Clock.h"
#include "RunLoop/RunLoop.h"
#include "Security/AuthSession.h"
#include "machine/Machine.h"

#include <gtest/gtest.h>

using machine::Machine;

namespace {

int handlerCalls = 0;

OSStatus countingHandler(EventHandlerCallRef, EventRef, void*)
{
    ++handlerCalls;
    return noErr;
}

} // namespace

class ApplicationObjects : public ::testing::Test {
protected:
    Machine& m = Machine::shared();
    ScopedVirtualClock time;

    ApplicationObjects()
    {
        m.reset();
        handlerCalls = 0;
    }
    ~ApplicationObjects() override
    {
        ApplicationEventTarget::shared().resetForTesting();
        NSWorkspace::resetForTesting();
        RunLoop::current().removeAllSourcesForTesting();
        m.reset();
    }
    void runLoop() { RunLoop::current().runUntilDate(currentDate() + 0.1); }
    void installHandler(std::initializer_list<EventKind> kinds)
    {
        std::vector<EventTypeSpec> specs;
        for (EventKind kind : kinds)
            specs.push_back({kEventClassApplication, kind});
        ASSERT_EQ(InstallEventHandler(GetApplicationEventTarget(), NewEventHandlerUPP(countingHandler),
                      static_cast<UInt32>(specs.size()), specs.data(), nullptr, nullptr),
            noErr);
    }
};

TEST_F(ApplicationObjects, EachHearEveryEventTheInstalledHandlerLetsIn)
{
    NSApplication first, second;
    m.processes().launch({"Before", "", "", ""});
    installHandler({kEventAppLaunched, kEventAppFrontSwitched, kEventAppTerminated});
    int editor = m.processes().launch({"Editor", "", "/Applications/Editor.app", "ttxt", 0, {3, 0x4005}}).pid;
    m.processes().bringToFront(editor);
    m.processes().quit(editor);
    EXPECT_EQ(first.pendingEventCount(), 3u);
    EXPECT_EQ(first.dispatchedEventCount(), 0u) << "nothing is dispatched from inside the machine's verbs";

    runLoop();
    EXPECT_EQ(first.dispatchedEventCount(), 3u);
    EXPECT_EQ(second.dispatchedEventCount(), 3u);
    EXPECT_EQ(second.lastDispatchedEvent(), NSEvent(21, 8, 3, 0x4005));
    EXPECT_EQ(handlerCalls, 6);
}

TEST_F(ApplicationObjects, HearOnlyTheKindsAHandlerWasInstalledFor)
{
    NSApplication app;
    installHandler({kEventAppFrontSwitched});
    int editor = m.processes().launch({"Editor", "", "", "", 0, {0, 77}}).pid;
    m.processes().bringToFront(editor);
    runLoop();
    EXPECT_EQ(app.dispatchedEventCount(), 1u);
    EXPECT_EQ(app.lastDispatchedEvent(), NSEvent(21, 2, 0, 77));
}

TEST_F(ApplicationObjects, StopRunningWhenTerminated)
{
    NSApplication app;
    Timer::scheduledTimer(5.0, false, [&](Timer&) { app.terminate(nullptr); });
    app.run();
    EXPECT_TRUE(app.isTerminated());
    EXPECT_FALSE(app.isRunning());
    EXPECT_EQ(NSApplication::sharedApplication(), &app);
}

TEST_F(ApplicationObjects, LearnTheirSessionAndItsSwitchesThroughTheWorkspace)
{
    m.users().addUser("alice", 501);
    m.users().addUser("bob", 502);
    std::uint32_t alice = m.loginSessions().login("alice")->id;
    m.setProgramPid(m.processes().launch({"ArvelSessionAgent", "", "", "", alice}).pid);

    SecuritySessionId id = 0;
    ASSERT_EQ(SessionGetInfo(callerSecuritySession, &id, nullptr), errSessionSuccess);
    EXPECT_EQ(id, alice);
    EXPECT_EQ(CGSessionCopyCurrentDictionary(), Value::dictionary({{"kCGSSessionOnConsoleKey", true}, {"kCGSSessionUserNameKey", "alice"},
                                                    {"kCGSSessionUserIDKey", 501}, {"kCGSSessionIDKey", alice}}));

    std::vector<std::string> heard;
    NotificationCenter& workspace = NSWorkspace::sharedWorkspace().notificationCenter();
    workspace.addObserver(&heard, [&](const Notification& n) { heard.push_back(n.name); });
    std::uint32_t bob = m.loginSessions().login("bob")->id;
    EXPECT_TRUE(heard.empty());
    runLoop();
    EXPECT_EQ(heard, std::vector<std::string> {"NSWorkspaceSessionDidResignActiveNotification"});
    EXPECT_EQ(CGSessionCopyCurrentDictionary()["kCGSSessionOnConsoleKey"], Value(false));

    m.loginSessions().switchToLoginWindow();
    m.loginSessions().switchTo(bob);
    m.loginSessions().switchTo(alice);
    runLoop();
    EXPECT_EQ(heard, (std::vector<std::string> {"NSWorkspaceSessionDidResignActiveNotification", "NSWorkspaceSessionDidBecomeActiveNotification"}));
}

TEST_F(ApplicationObjects, FindNoSessionOutsideALoginSession)
{
    m.setProgramPid(m.processes().startUnixProcess("/usr/sbin/arveld").pid);
    EXPECT_EQ(SessionGetInfo(callerSecuritySession, nullptr, nullptr), errSessionInvalidId);
    EXPECT_TRUE(CGSessionCopyCurrentDictionary().isNil());
}

