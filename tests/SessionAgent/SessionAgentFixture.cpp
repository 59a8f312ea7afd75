#include "SessionAgentFixture.h"

#include "RunLoop/Clock.h"

namespace {

bool isAgentLine(const std::string& line)
{
    for (const char* prefix : {"ArvelSessionAgent", "ArvelFrontApplication", "ArvelDefaultButton", "ArvelUserDefaults"}) {
        if (line.rfind(prefix, 0) == 0)
            return true;
    }
    return false;
}

} // namespace

SessionAgentTest::SessionAgentTest()
{
    world.addUser("alice", 501);
    world.addUser("bob", 502);
    world.createHomeFolder("alice");
    world.createHomeFolder("bob");
    loginWindow = world.startLoginWindow();
    aliceSession = world.loginSession("alice");
    agentProcess = world.launchApplication({"ArvelSessionAgent", "com.tessmoor.Arvel.SessionAgent",
        "/Library/PreferencePanes/Arvel.prefPane/Contents/Resources/ArvelSessionAgent.app", "????", aliceSession});
    world.login("alice");
    world.loadDriver();
    // The daemon runs as root, outside any login session: it opens the
    // driver, which only root may, before the test becomes alice's agent.
    driverAccess = ArvelDriverAccess::sharedInstance();
    world.runFor(0);
    daemonCentre = std::make_unique<DistributedNotificationCenter>(kNoLoginSession);
    pane = std::make_unique<DistributedNotificationCenter>(aliceSession);
    world.runAsUser(501);
    world.runAsProcess(agentProcess);
    setVerboseLoggingForTesting(true);
    world.clearLog();
    world.markTime();
}

SessionAgentTest::~SessionAgentTest()
{
    agent.reset();
    app.reset();
    daemon.reset();
    pane.reset();
    daemonCentre.reset();
}

void SessionAgentTest::startAgent()
{
    ArvelSessionAgentApp::load();
    app = std::make_unique<ArvelSessionAgentApp>();
    agent = std::make_unique<ArvelSessionAgent>();
    agent->awakeFromNib();
}

void SessionAgentTest::publishDaemon()
{
    // As root, as the daemon runs: the agent talks to root's daemon only.
    world.runAsUser(0);
    daemon = ArvelDOServer::create();
    bool published = daemon->publishObjectWithName(driverAccess, Value(kArvelDriverAccessName));
    world.runAsUser(501);
    ASSERT_TRUE(published);
}

void SessionAgentTest::saveSettings(Value domain)
{
    domain.set("PrefsVersion", 4);
    world.writeUserSettings("alice", domain);
}

int SessionAgentTest::launch(const std::string& name, const std::string& bundleID, const std::string& creator)
{
    return world.launchApplication({name, bundleID, "/Applications/" + name + ".app", creator, aliceSession});
}

SessionAgentTest::Lines SessionAgentTest::agentLines() const
{
    Lines out;
    for (const auto& line : world.logLines()) {
        if (isAgentLine(line))
            out.push_back(line);
    }
    return out;
}

SessionAgentTest::Lines SessionAgentTest::takeAgentLines()
{
    Lines out = agentLines();
    world.clearLog();
    return out;
}

SessionAgentTest::Lines SessionAgentTest::timedAgentLines() const
{
    Lines out;
    for (const auto& line : world.timedLogLines()) {
        auto space = line.find(' ');
        if (isAgentLine(line.substr(space + 1)))
            out.push_back(line);
    }
    return out;
}
