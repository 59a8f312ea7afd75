// The fixture of the agent's tests: alice logged in (session 100001, on the
// console) with the login window and the agent's own process running, the
// daemon's driver access object made with the driver loaded but not yet
// published, and verbose logging on. startAgent() starts the agent as its
// program does; the verbs publish and kill the daemon, save alice's
// settings as the pane does, and post what the pane and the daemon post.
#pragma once

#include "Common/ArvelUserDefaults.h"
#include "Daemon/ArvelConsoleUser.h"
#include "Common/ArvelNotifications.h"
#include "Daemon/ArvelDOServer.h"
#include "Daemon/ArvelDriverAccess.h"
#include "Foundation/SharedInstance.h"
#include "Notifications/DistributedNotificationCenter.h"
#include "SessionAgent/ArvelDefaultButton.h"
#include "SessionAgent/ArvelFrontApplication.h"
#include "SessionAgent/ArvelSessionAgent.h"
#include "SessionAgent/ArvelSessionAgentApp.h"
#include "support/MachineHarness.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

class SessionAgentTest : public ::testing::Test {
protected:
    using Lines = std::vector<std::string>;

    MachineHarness world;
    std::uint32_t aliceSession = 0;
    int loginWindow = 0;
    int agentProcess = 0;
    std::shared_ptr<ArvelDriverAccess> driverAccess;
    std::shared_ptr<ArvelDOServer> daemon;
    std::unique_ptr<ArvelSessionAgentApp> app;
    std::unique_ptr<ArvelSessionAgent> agent;
    // Another process of alice's session (the pane) and the daemon's centre.
    std::unique_ptr<DistributedNotificationCenter> pane;
    std::unique_ptr<DistributedNotificationCenter> daemonCentre;

    SessionAgentTest();
    ~SessionAgentTest() override;

    void startAgent();
    void publishDaemon();
    // The daemon's process ends: its connections die.
    void killDaemon() { daemon.reset(); }

    // Writes alice's settings as the pane saves them (PrefsVersion 4 added),
    // without telling anyone.
    void saveSettings(Value domain);
    void postPrefChange() { pane->postNotificationName(kArvelPrefChangeNotification); }
    void postDriverStateChange() { daemonCentre->postNotificationName(kArvelDriverStateChangeNotification, {}, {}, true); }

    int launch(const std::string& name, const std::string& bundleID, const std::string& creator);

    // The agent's own lines (the daemon's, in the same test process, left out).
    Lines agentLines() const;
    Lines takeAgentLines();
    Lines timedAgentLines() const;

    const Value& lastSent() { return world.driver().lastApplicationProperties(); }
    std::size_t sendCount() { return world.driver().applicationPropertiesWrites(); }

    static Value corner(int action) { return Value::dictionary({{"Action", action}}); }
    static Value corner(int action, int data) { return Value::dictionary({{"Action", action}, {"Data", data}}); }
    static Value applicationSet(Value nw, Value ne, Value sw, Value se)
    {
        return Value::dictionary({{"ApplicationSet",
            Value::dictionary({{"NWCorner", std::move(nw)}, {"NECorner", std::move(ne)}, {"SWCorner", std::move(sw)}, {"SECorner", std::move(se)}})}});
    }
    static Value emptyForm() { return Value::dictionary({{"ApplicationSet", Value::dictionary()}}); }
};
