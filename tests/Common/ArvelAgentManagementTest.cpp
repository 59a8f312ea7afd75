// The agent as a login item of the calling user and running in her login
// session: what the login items hold afterwards, that nothing is written
// when nothing changes, that nothing of hers is lost to a domain or a list
// it cannot use, and what opening the agent starts on the machine.
#include "Common/ArvelAgentManagement.h"
#include "support/MachineHarness.h"

#include "Foundation/PropertyList.h"
#include "Paths/DiskRoot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace {

using Lines = std::vector<std::string>;

const char* const kAgentApp = "/Library/PreferencePanes/Arvel.prefPane/Contents/Resources/ArvelSessionAgent.app";
const char* const kLoginWindow = "/Users/alice/Library/Preferences/loginwindow.plist";

class TheAgentsManagement : public ::testing::Test {
protected:
    TheAgentsManagement()
    {
        h.addUser("alice", 501);
        h.addUser("bob", 502);
        h.createHomeFolder("alice");
        h.runAsUser(501);
        aliceSession = h.loginSession("alice");
        // The pane runs in her preferences host.
        h.runAsProcess(h.launchApplication({"System Preferences", "com.apple.systempreferences", "/Applications/System Preferences.app",
            "", aliceSession}));
    }

    void writeLoginWindow(const Value& domain) { writePropertyListFile(hostPath(kLoginWindow), domain, nullptr, true); }
    Value loginWindow() const { return readPropertyList(hostPath(kLoginWindow)).value; }
    // Which file is there: a write puts a new one in place.
    ino_t loginWindowFile() const
    {
        struct stat info {};
        return stat(hostPath(kLoginWindow).c_str(), &info) == 0 ? info.st_ino : 0;
    }
    static Value item(const std::string& path, bool hide = false) { return Value::dictionary({{"Path", path}, {"Hide", hide}}); }
    void installAgent()
    {
        writePropertyListFile(hostPath(std::string(kAgentApp) + "/Contents/Info.plist"),
            Value::dictionary({{"CFBundleExecutable", "ArvelSessionAgent"}, {"CFBundleIdentifier", "com.tessmoor.ArvelSessionAgent"}}), nullptr,
            true);
        writePropertyListFile(hostPath(std::string(kAgentApp) + "/Contents/MacOS/ArvelSessionAgent"), Value::dictionary(), nullptr, true);
    }
    std::vector<const machine::Process*> agents()
    {
        std::vector<const machine::Process*> out;
        for (const machine::Process* p : h.machine().processes().all())
            if (p->name == "ArvelSessionAgent")
                out.push_back(p);
        return out;
    }

    MachineHarness h;
    std::uint32_t aliceSession = 0;
};

TEST_F(TheAgentsManagement, AddsTheAgentFirstOnceAndNotBesideAnAgentElsewhere)
{
    writeLoginWindow(Value::dictionary({{"AutoLaunchedApplicationDictionary", Value::array({item("/Applications/Mail.app")})}, {"Other", 1}}));
    addAgentToLoginItems();
    const Value added = Value::dictionary({{"AutoLaunchedApplicationDictionary", Value::array({item(kAgentApp, true), item("/Applications/Mail.app")})},
        {"Other", 1}});
    EXPECT_EQ(loginWindow(), added);
    const ino_t file = loginWindowFile();
    addAgentToLoginItems();
    EXPECT_EQ(loginWindowFile(), file) << "nothing written";

    const Value elsewhere = Value::dictionary({{"AutoLaunchedApplicationDictionary", Value::array({item("/Applications/ArvelSessionAgent.app")})}});
    writeLoginWindow(elsewhere);
    addAgentToLoginItems();
    EXPECT_EQ(loginWindow(), elsewhere);
    EXPECT_EQ(h.logLines(), Lines {});
}

TEST_F(TheAgentsManagement, RemovesEveryAgentItemAndKeepsTheOthersInTheirOrder)
{
    const Value mail = item("/Applications/Mail.app"), noPath = Value::dictionary({{"Hide", true}}), stray = "/Applications/Stray.app",
                badPath = Value::dictionary({{"Path", 7}});
    const Value others = Value::array({mail, noPath, stray, badPath});
    writeLoginWindow(Value::dictionary({{"AutoLaunchedApplicationDictionary",
        Value::array({item(kAgentApp, true), mail, noPath, item("/Old/ArvelSessionAgent.app"), stray, badPath})}}));
    removeAgentFromLoginItems();
    EXPECT_EQ(loginWindow(), Value::dictionary({{"AutoLaunchedApplicationDictionary", others}}));
    const ino_t file = loginWindowFile();
    removeAgentFromLoginItems();
    EXPECT_EQ(loginWindowFile(), file) << "nothing written";
    EXPECT_EQ(h.logLines(), (Lines(2, "ArvelAgentManagement error: 1 login item(s) are not dictionaries; they are kept as they are.")));
}

TEST_F(TheAgentsManagement, ChangesNothingWithoutALoginItemList)
{
    const Value noList = Value::dictionary({{"Other", "kept"}});
    writeLoginWindow(noList);
    addAgentToLoginItems();
    removeAgentFromLoginItems();
    EXPECT_EQ(loginWindow(), noList);
    const Value notAList = Value::dictionary({{"AutoLaunchedApplicationDictionary", "/Applications/Mail.app"}});
    writeLoginWindow(notAList);
    addAgentToLoginItems();
    EXPECT_EQ(loginWindow(), notAList);
    EXPECT_EQ(h.logLines(), (Lines {"ArvelAgentManagement error: Unable to find login item defaults.",
                                "ArvelAgentManagement error: Unable to find login item defaults.",
                                "ArvelAgentManagement error: The login items (\"AutoLaunchedApplicationDictionary\") are no list; they are "
                                "left as they are."}));

    // A file that is no dictionary is set aside, never overwritten.
    writePropertyListFile(hostPath(kLoginWindow), Value::array({item("/Applications/Mail.app")}));
    h.clearLog();
    addAgentToLoginItems();
    EXPECT_FALSE(std::filesystem::exists(hostPath(kLoginWindow)));
    EXPECT_EQ(readPropertyList(hostPath(std::string(kLoginWindow) + ".unreadable")).value, Value::array({item("/Applications/Mail.app")}));
    ASSERT_EQ(h.logLines().size(), 2u);
    EXPECT_EQ(h.logLines()[1], "ArvelAgentManagement error: Unable to find login item defaults.");
}

TEST_F(TheAgentsManagement, LaunchesTheAgentAsTheUserInHerSessionUnlessItRunsThere)
{
    launchAgent();
    EXPECT_EQ(h.logLines(), (Lines {"ArvelAgentManagement error: Unable to launch agent."}));
    EXPECT_TRUE(agents().empty());

    installAgent();
    // Bob's agent runs in his own session; it is not hers.
    h.machine().processes().launch({"ArvelSessionAgent", "", kAgentApp, "", h.loginSession("bob")});
    h.switchToSession(aliceSession);
    EXPECT_FALSE(agentIsRunning());
    h.clearLog();
    launchAgent();
    ASSERT_EQ(agents().size(), 2u);
    const machine::Process& hers = *agents()[1];
    EXPECT_EQ(hers.session, aliceSession);
    EXPECT_EQ(hers.uid, 501u);
    EXPECT_EQ(hers.bundlePath, kAgentApp);
    EXPECT_TRUE(agentIsRunning());
    launchAgent();
    EXPECT_EQ(agents().size(), 2u);
    EXPECT_EQ(h.logLines(), Lines {});
    EXPECT_EQ(machine::SystemLog::lineText(h.machine().systemLog().lines().back()),
        "arvel-machine[0] <Notice>: opened \"" + std::string(kAgentApp) + "\" as UID 501 in session 100001: ArvelSessionAgent (pid "
            + std::to_string(hers.pid) + ")");
}

} // namespace
