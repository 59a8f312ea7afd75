#include "DistributedObjects/InProcessConnectionTransport.h"

#include "Bus/MessageBus.h"
#include "DistributedObjects/BusConnectionTransport.h"
#include "DistributedObjects/Connection.h"
#include "DistributedObjects/PortNameServer.h"

ConnectionTransport& ConnectionTransport::shared()
{
    static ConnectionTransport* transport = MessageBus::isConfigured()
        ? static_cast<ConnectionTransport*>(new BusConnectionTransport)
        : static_cast<ConnectionTransport*>(new InProcessConnectionTransport);
    return *transport;
}

bool InProcessConnectionTransport::registerName(const std::string& name, const std::shared_ptr<Connection>& server)
{
    return PortNameServer::systemDefaultPortNameServer().registerName(name, server);
}

void InProcessConnectionTransport::removeName(const std::string& name, const Connection* server)
{
    PortNameServer::systemDefaultPortNameServer().removeName(name, server);
}

bool InProcessConnectionTransport::attachClient(const std::string& name, const std::shared_ptr<Connection>& client)
{
    auto server = PortNameServer::systemDefaultPortNameServer().connectionForName(name);
    if (!server || !server->rootObject_)
        return false;
    client->server_ = server;
    client->serverUserId_ = server->userId_;
    server->clients_.push_back(client);
    return true;
}

void InProcessConnectionTransport::detachClient(const Connection*)
{
    // The serving end holds its clients weakly; nothing to undo.
}

std::optional<Value> InProcessConnectionTransport::sendInvocation(Connection& client, const Value& invocation)
{
    auto server = client.server_.lock();
    if (!server || !server->valid_) {
        client.peerDied();
        return std::nullopt;
    }
    return server->receiveLocalInvocation(invocation, client);
}
