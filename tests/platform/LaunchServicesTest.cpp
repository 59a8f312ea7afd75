// Opening applications from a program: Launch Services and /usr/bin/open
// open as the calling user in her login session, answer what went wrong,
// and the Process Manager names what runs in Mac Roman Pascal strings.
#include "CoreFoundation/CFString.h"
#include "Foundation/Task.h"
#include "LaunchServices/LSOpen.h"
#include "ProcessManager/Processes.h"
#include "support/MachineHarness.h"

#include "Foundation/PropertyList.h"
#include "Paths/DiskRoot.h"

#include <gtest/gtest.h>

namespace {

class OpeningFromAProgram : public ::testing::Test {
protected:
    OpeningFromAProgram()
    {
        h.addUser("alice", 501);
        h.addUser("bob", 502);
        h.runAsUser(501);
        session = h.loginSession("alice");
        h.runAsProcess(h.launchApplication({"Finder", "com.apple.finder", "/System/Library/CoreServices/Finder.app", "MACS", session}));
        writeApplication("/Applications/Editor.app", "Editor");
    }
    static void writeApplication(const std::string& path, const std::string& executable)
    {
        writePropertyListFile(hostPath(path + "/Contents/Info.plist"), Value::dictionary({{"CFBundleExecutable", executable}}), nullptr, true);
        writePropertyListFile(hostPath(path + "/Contents/MacOS/" + executable), Value::dictionary(), nullptr, true);
    }
    static OSStatus open(const std::string& application, const std::vector<CFURLRef>* items = nullptr, CFURLRef* launched = nullptr)
    {
        LSLaunchURLSpec spec {CFURLCreateWithFileSystemPath(Value(application), kCFURLPOSIXPathStyle, true), items, nullptr,
            kLSLaunchDefaults, nullptr};
        return LSOpenFromURLSpec(&spec, launched);
    }
    const machine::Process* last() { return h.machine().processes().all().back(); }

    MachineHarness h;
    std::uint32_t session = 0;
};

TEST_F(OpeningFromAProgram, StartsTheApplicationAsTheCallerInHerSessionGivenTheItems)
{
    const std::vector<CFURLRef> items {CFURLCreateWithFileSystemPath(Value("/Users/alice/a b.txt"), kCFURLPOSIXPathStyle, false)};
    CFURLRef launched;
    ASSERT_EQ(open("/Applications/Editor.app/", &items, &launched), noErr);
    EXPECT_EQ(CFURLCopyFileSystemPath(launched, kCFURLPOSIXPathStyle), Value("/Applications/Editor.app"));
    EXPECT_EQ(last()->command, "/Applications/Editor.app/Contents/MacOS/Editor /Users/alice/a b.txt");
    EXPECT_EQ(last()->session, session);
    EXPECT_EQ(last()->uid, 501u);
}

TEST_F(OpeningFromAProgram, AnswersWhatKeptTheApplicationFromOpening)
{
    LSLaunchURLSpec none {};
    EXPECT_EQ(LSOpenFromURLSpec(&none, nullptr), paramErr);
    EXPECT_EQ(open("/Applications/Missing.app"), kLSApplicationNotFoundErr);
    writePropertyListFile(hostPath("/Applications/Broken.app/Contents/Info.plist"), Value::dictionary({{"CFBundleExecutable", "Broken"}}), nullptr, true);
    EXPECT_EQ(open("/Applications/Broken.app"), kLSNotAnApplicationErr);
    h.failNext("LSOpenFromURLSpec", kLSUnknownErr);
    EXPECT_EQ(open("/Applications/Editor.app"), kLSUnknownErr);
    // Bob is in no session, and has no process of his own to open from.
    h.runAsUser(502);
    h.runAsProcess(0);
    EXPECT_EQ(open("/Applications/Editor.app"), kLSNoLaunchPermissionErr);
    EXPECT_EQ(machine::SystemLog::lineText(h.machine().systemLog().lines().back()),
        "arvel-machine[0] <Error>: unable to open \"/Applications/Editor.app\": UID 502 has no login session on the console");
    EXPECT_EQ(last()->name, "Finder") << "nothing started";
}

TEST_F(OpeningFromAProgram, RunsOpenWithItsStatusAndLines)
{
    NSTask task;
    task.setLaunchPath("/usr/bin/open");
    task.setArguments({"/System/Library/PreferencePanes/UniversalAccessPref.prefPane"});
    auto output = NSPipe::pipe();
    task.setStandardOutput(output);
    ASSERT_FALSE(task.launch());
    EXPECT_EQ(task.terminationStatus(), 1);
    const Value::Bytes said = output->fileHandleForReading().availableData();
    EXPECT_EQ(std::string(said.begin(), said.end()),
        "unable to open \"/System/Library/PreferencePanes/UniversalAccessPref.prefPane\": no such preference pane\n");

    std::string problem;
    ASSERT_TRUE(machine::ApplicationOpener::layOutSystemPanes(&problem)) << problem;
    writeApplication("/Applications/System Preferences.app", "System Preferences");
    NSTask again;
    again.setLaunchPath("/usr/bin/open");
    again.setArguments({"/System/Library/PreferencePanes/UniversalAccessPref.prefPane"});
    ASSERT_FALSE(again.launch());
    EXPECT_TRUE(again.isRunning());
    h.runFor(0.1);
    EXPECT_FALSE(again.isRunning());
    EXPECT_EQ(again.terminationStatus(), 0);
    EXPECT_EQ(last()->command,
        "/Applications/System Preferences.app/Contents/MacOS/System Preferences /System/Library/PreferencePanes/UniversalAccessPref.prefPane");
}

TEST_F(OpeningFromAProgram, NamesProcessesInMacRomanPascalStrings)
{
    const int cafe = h.launchApplication({"Café 日本", "", "", "abcd", session});
    ProcessSerialNumber psn;
    ASSERT_EQ(GetProcessForPID(cafe, &psn), noErr);
    Str255 name {};
    ProcessInfoRec info;
    info.processName = name;
    EXPECT_EQ(GetProcessInformation(&psn, &info), paramErr) << "a record of no length";
    info.processInfoLength = 60;
    ASSERT_EQ(GetProcessInformation(&psn, &info), noErr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(name), 8), "\x07" "Caf\x8E ??");
    EXPECT_EQ(info.processSignature, fourCharCode("abcd"));
    EXPECT_EQ(info.processType, fourCharCode("APPL"));
    EXPECT_EQ(CFStringCreateWithPascalString(name, kCFStringEncodingMacRoman), Value("Café ??"));

    unsigned char buffer[8] {};
    EXPECT_TRUE(CFStringGetPascalString(Value("Ω≠ß"), buffer, sizeof buffer, kCFStringEncodingMacRoman));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "\x03\xBD\xAD\xA7");
    EXPECT_FALSE(CFStringGetPascalString(Value("日本"), buffer, sizeof buffer, kCFStringEncodingMacRoman));
    EXPECT_FALSE(CFStringGetPascalString(Value("too long for it"), buffer, sizeof buffer, kCFStringEncodingMacRoman));
}

} // namespace
