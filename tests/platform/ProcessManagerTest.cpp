#include "Carbon/CarbonEvents.h"
#include "Foundation/Task.h"
#include "MachineLink/MachineLink.h"
#include "ProcessManager/Processes.h"
#include "RunLoop/RunLoop.h"
#include "RunLoop/Clock.h"
#include "machine/Machine.h"

#include <gtest/gtest.h>

using machine::Machine;

class TheProcessManager : public ::testing::Test {
protected:
    Machine& m = Machine::shared();
    ScopedVirtualClock time;
    int agent = 0, editor = 0, mail = 0;

    TheProcessManager()
    {
        m.reset();
        agent = m.processes().launch({"ArvelSessionAgent", "com.tessmoor.Arvel.SessionAgent", "/Library/PreferencePanes/Arvel.prefPane/Contents/Resources/ArvelSessionAgent.app", "????"}).pid;
        editor = m.processes().launch({"Editor", "", "/Applications/Editor.app", "ttxt", 0, {7, 9}}).pid;
        mail = m.processes().launch({"Mail", "com.apple.mail", "/Applications/Mail.app", "emal"}).pid;
        m.setProgramPid(agent);
    }
    ~TheProcessManager() override { m.reset(); }
};

TEST_F(TheProcessManager, EnumeratesApplicationsInLaunchOrderAndEndsWithProcNotFound)
{
    m.processes().startLoginWindow();
    m.processes().startUnixProcess("/usr/sbin/arveld");
    std::vector<pid_t> seen;
    ProcessSerialNumber psn {0, kNoProcess};
    OSErr r;
    while ((r = GetNextProcess(&psn)) == noErr) {
        pid_t pid = 0;
        ASSERT_EQ(GetProcessPID(&psn, &pid), noErr);
        seen.push_back(pid);
    }
    EXPECT_EQ(r, procNotFound);
    EXPECT_EQ(psn.lowLongOfPSN, kNoProcess);
    EXPECT_EQ(seen, (std::vector<pid_t> {agent, editor, mail}));
}

TEST_F(TheProcessManager, ResolvesTheCurrentProcessToTheProgramsOwn)
{
    ProcessSerialNumber current {0, kCurrentProcess}, editorPSN {7, 9}, agentPSN;
    ASSERT_EQ(GetProcessForPID(agent, &agentPSN), noErr);
    Boolean same = false;
    EXPECT_EQ(SameProcess(&agentPSN, &current, &same), noErr);
    EXPECT_TRUE(same);
    EXPECT_EQ(SameProcess(&editorPSN, &current, &same), noErr);
    EXPECT_FALSE(same);
    pid_t pid = 0;
    EXPECT_EQ(GetProcessPID(&current, &pid), noErr);
    EXPECT_EQ(pid, agent);

    m.setProgramPid(0);
    EXPECT_EQ(SameProcess(&editorPSN, &current, &same), procNotFound);
}

TEST_F(TheProcessManager, FollowsTheFrontAndForgetsAQuitProcess)
{
    ProcessSerialNumber psn;
    EXPECT_EQ(GetFrontProcess(&psn), procNotFound);
    m.processes().bringToFront(editor);
    ASSERT_EQ(GetFrontProcess(&psn), noErr);
    EXPECT_EQ(psn.highLongOfPSN, 7u);
    EXPECT_EQ(psn.lowLongOfPSN, 9u);

    m.processes().quit(editor);
    pid_t pid = 0;
    EXPECT_EQ(GetProcessPID(&psn, &pid), procNotFound);
    EXPECT_EQ(GetFrontProcess(&psn), procNotFound);
    EXPECT_TRUE(ProcessInformationCopyDictionary(&psn, kProcessDictionaryIncludeAllInformationMask).isNil());

    m.failures().failNext("GetFrontProcess", -50);
    m.processes().bringToFront(mail);
    EXPECT_EQ(GetFrontProcess(&psn), -50);
}

TEST_F(TheProcessManager, DescribesAnApplicationWithOnlyWhatItHas)
{
    ProcessSerialNumber psn;
    ASSERT_EQ(GetProcessForPID(editor, &psn), noErr);
    Value info = ProcessInformationCopyDictionary(&psn, kProcessDictionaryIncludeAllInformationMask);
    EXPECT_EQ(info, Value::dictionary({{"CFBundleName", "Editor"}, {"BundlePath", "/Applications/Editor.app"}, {"FileCreator", "ttxt"},
                        {"FileType", "APPL"}, {"pid", editor}, {"PSN", (7ull << 32) | 9}}));

    int nameless = m.processes().launch({"", "", "", ""}).pid;
    ASSERT_EQ(GetProcessForPID(nameless, &psn), noErr);
    Value name = "x";
    EXPECT_EQ(CopyProcessName(&psn, &name), noErr);
    EXPECT_TRUE(name.isNil());
}

TEST_F(TheProcessManager, KnowsTheLoginWindowByPidOnly)
{
    int loginWindow = m.processes().startLoginWindow().pid;
    ProcessSerialNumber psn;
    ASSERT_EQ(GetProcessForPID(loginWindow, &psn), noErr);
    Value name;
    EXPECT_EQ(CopyProcessName(&psn, &name), noErr);
    EXPECT_EQ(name, Value("loginwindow"));
    int daemon = m.processes().startUnixProcess("/usr/sbin/arveld").pid;
    EXPECT_EQ(GetProcessForPID(daemon, &psn), procNotFound);
}

class APsTask : public ::testing::Test {
protected:
    Machine& m = Machine::shared();
    ScopedVirtualClock time;
    APsTask() { m.reset(); }
    ~APsTask() override { m.reset(); }
};

TEST_F(APsTask, ListsEveryProcessIntoItsPipeAndRunsForATenthOfASecond)
{
    int loginWindow = m.processes().startLoginWindow().pid;
    m.processes().launch({"Editor", "", "/Applications/Editor.app", "ttxt"});
    NSTask task;
    auto pipe = NSPipe::pipe();
    task.setLaunchPath("/bin/ps");
    task.setArguments({"-axww"});
    task.setStandardOutput(pipe);
    ASSERT_FALSE(task.launch().has_value());
    EXPECT_TRUE(task.isRunning());
    Value::Bytes data = pipe->fileHandleForReading().availableData();
    EXPECT_EQ(std::string(data.begin(), data.end()),
        "  PID  TT  STAT      TIME COMMAND\n"
        "    1  ??  Ss     0:00.10 /sbin/launchd\n"
        "    " + std::to_string(loginWindow) + "  ??  Ss     0:00.10 /System/Library/CoreServices/loginwindow.app/Contents/MacOS/loginwindow console\n"
        "    3  ??  Ss     0:00.10 /Applications/Editor.app/Contents/MacOS/Editor\n");
    EXPECT_TRUE(pipe->fileHandleForReading().availableData().empty());
    time.clock().advanceBy(0.1);
    EXPECT_FALSE(task.isRunning());
}


namespace {

OSStatus ignoreEvent(EventHandlerCallRef, EventRef, void*)
{
    return noErr;
}

} // namespace

// A program that listens to application events (the agent) keeps its own
// table of the applications and asks the machine nothing more for them.
TEST_F(TheProcessManager, OfAProgramThatHearsApplicationEventsAnswersFromThemWithoutAskingTheMachine)
{
    auto& link = MachineLink::shared();
    EventTypeSpec front {kEventClassApplication, kEventAppFrontSwitched};
    m.processes().bringToFront(editor); // before the table: told by its snapshot
    ASSERT_EQ(InstallEventHandler(GetApplicationEventTarget(), NewEventHandlerUPP(ignoreEvent), 1, &front, nullptr, nullptr), noErr);
    RunLoop::current().runUntilDate(currentDate() + 1); // the news of the launches, older than the snapshot
    int safari = m.processes().launch({"Safari", "com.apple.Safari", "/Applications/Safari.app", "sfri"}).pid;
    m.processes().bringToFront(safari);
    m.processes().quit(mail);
    RunLoop::current().runUntilDate(currentDate() + 1);

    const std::uint64_t before = link.callsMade();
    ProcessSerialNumber psn;
    ASSERT_EQ(GetFrontProcess(&psn), noErr);
    EXPECT_EQ(ProcessInformationCopyDictionary(&psn, kProcessDictionaryIncludeAllInformationMask)["CFBundleIdentifier"],
        Value("com.apple.Safari"));
    std::vector<pid_t> seen;
    ProcessSerialNumber current {0, kCurrentProcess}, next {0, kNoProcess};
    while (GetNextProcess(&next) == noErr) {
        Boolean same = false;
        pid_t pid = 0;
        if (SameProcess(&next, &current, &same) == noErr && !same && GetProcessPID(&next, &pid) == noErr)
            seen.push_back(pid);
    }
    EXPECT_EQ(seen, (std::vector<pid_t> {editor, safari}));
    EXPECT_LE(link.callsMade() - before, 1u); // its own process, once

    // The console's session moves the front application without an
    // application event: asked of the machine once, when next wanted.
    m.users().addUser("bob", 502);
    const machine::LoginSession* bob = m.loginSessions().login("bob");
    ASSERT_TRUE(bob);
    m.processes().setConsoleSession(bob->id); // as the machine's login verb does
    RunLoop::current().runUntilDate(currentDate() + 1);
    const std::uint64_t beforeSwitch = link.callsMade();
    EXPECT_EQ(GetFrontProcess(&psn), procNotFound);
    EXPECT_EQ(GetFrontProcess(&psn), procNotFound);
    EXPECT_EQ(link.callsMade() - beforeSwitch, 1u);
    ApplicationEventTarget::shared().resetForTesting();
}
