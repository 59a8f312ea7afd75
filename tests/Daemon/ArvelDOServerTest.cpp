#include "Daemon/ArvelDOServer.h"
#include "DistributedObjects/DOObject.h"
#include "DistributedObjects/Connection.h"
#include "DistributedObjects/DistantObject.h"
#include "DistributedObjects/PortNameServer.h"
#include "tests/Daemon/DaemonFixture.h"

namespace {

class Served final : public DOObject {
public:
    DispatchResult dispatchInvocation(const std::string& selector, const Value&) override
    {
        if (selector == "ping")
            return {DispatchStatus::Done, "pong"};
        return {DispatchStatus::NoSuchMethod, {}};
    }
    std::string className() const override { return "Served"; }
};

} // namespace

class AnObjectServer : public DaemonTest {
protected:
    std::shared_ptr<ArvelDOServer> server = ArvelDOServer::create();
    std::shared_ptr<Served> object = std::make_shared<Served>();

    void expectNothingServed()
    {
        EXPECT_TRUE(server->servedConnections().empty());
        EXPECT_TRUE(server->servedObjects().empty());
        EXPECT_TRUE(PortNameServer::systemDefaultPortNameServer().registeredNames().empty());
    }
};

TEST_F(AnObjectServer, PublishesAnObjectThatClientsReachByName)
{
    ASSERT_TRUE(server->publishObjectWithName(object, "com.example.Served"));
    EXPECT_TRUE(world.logLines().empty()) << "the publication line is verbose only";
    EXPECT_EQ(server->servedObjects().at("com.example.Served"), object);
    EXPECT_TRUE(server->servedConnections().at("com.example.Served")->isValid());

    auto proxy = Connection::rootProxyForConnectionWithRegisteredNameHost("com.example.Served");
    ASSERT_NE(proxy, nullptr);
    EXPECT_EQ(proxy->sendInvocation("ping", Value::array()), Value("pong"));

    // The connections go with the server, and the name is free again.
    server.reset();
    EXPECT_EQ(proxy->sendInvocation("ping", Value::array()), std::nullopt);
    EXPECT_TRUE(PortNameServer::systemDefaultPortNameServer().registeredNames().empty());
}

TEST_F(AnObjectServer, SaysWhatItPublishedWhenVerbose)
{
    setVerboseLoggingForTesting(true);
    ASSERT_TRUE(server->publishObjectWithName(object, "com.example.Served"));
    EXPECT_EQ(world.logEntries(),
        (Entries {notice("ArvelDOServer: Published \"" + object->description() + "\" as \"com.example.Served\"")}));
}

TEST_F(AnObjectServer, RefusesANilObjectOrANameThatIsNoStringWithoutTouchingItsTables)
{
    EXPECT_FALSE(server->publishObjectWithName(nullptr, "com.example.Served"));
    EXPECT_FALSE(server->publishObjectWithName(object, Value()));
    EXPECT_FALSE(server->publishObjectWithName(object, 5));
    EXPECT_EQ(world.logEntries(), (Entries(3, error("ArvelDOServer error: Bad publication request."))));
    expectNothingServed();
}

TEST_F(AnObjectServer, ReportsTheStepThatFailedAndKeepsNothing)
{
    struct Case {
        const char* operation;
        const char* line;
    };
    for (const Case& c : {
             Case {"Port::port", "ArvelDOServer error: Unable to obtain an NSPort for publication."},
             Case {"Connection::connectionWithReceivePortSendPort",
                 "ArvelDOServer error: Unable to obtain an NSConnection for publication."},
             Case {"Connection::registerName", "ArvelDOServer error: Unable to register name \"com.example.Served\"."},
         }) {
        SCOPED_TRACE(c.operation);
        world.clearLog();
        world.failNext(c.operation, 1);
        EXPECT_FALSE(server->publishObjectWithName(object, "com.example.Served"));
        EXPECT_EQ(world.logEntries(), (Entries {error(c.line)}));
        expectNothingServed();
    }
}

TEST_F(AnObjectServer, CannotTakeANameThatAnotherServerServes)
{
    auto other = ArvelDOServer::create();
    ASSERT_TRUE(other->publishObjectWithName(std::make_shared<Served>(), "com.example.Served"));
    EXPECT_FALSE(server->publishObjectWithName(object, "com.example.Served"));
    EXPECT_EQ(world.logEntries(), (Entries {error("ArvelDOServer error: Unable to register name \"com.example.Served\".")}));
    EXPECT_TRUE(server->servedObjects().empty());
    EXPECT_EQ(other->servedObjects().size(), 1u);
}

TEST_F(AnObjectServer, KeepsAnOperationThatHasNoRuleToRoot)
{
    ASSERT_TRUE(server->publishObjectWithName(object, "com.example.Served"));
    world.runAsUser(503);
    auto stranger = Connection::rootProxyForConnectionWithRegisteredNameHost("com.example.Served");
    world.runAsUser(0);
    auto root = Connection::rootProxyForConnectionWithRegisteredNameHost("com.example.Served");
    ASSERT_TRUE(stranger && root);

    EXPECT_EQ(stranger->sendInvocation("ping", Value::array()), std::nullopt);
    EXPECT_EQ(root->sendInvocation("ping", Value::array()), Value("pong"));
    EXPECT_EQ(world.logEntries(), (Entries {error("ArvelDOServer error: Refused \"ping\" from UID 503: only root may do this.")}));
}
