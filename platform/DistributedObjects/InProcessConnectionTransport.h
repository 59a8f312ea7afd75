// InProcessConnectionTransport: both ends in one program. Names live in the
// port name server; a call runs on the serving connection at once.
#pragma once

#include "DistributedObjects/ConnectionTransport.h"

class InProcessConnectionTransport final : public ConnectionTransport {
public:
    bool registerName(const std::string& name, const std::shared_ptr<Connection>& server) override;
    void removeName(const std::string& name, const Connection* server) override;
    bool attachClient(const std::string& name, const std::shared_ptr<Connection>& client) override;
    void detachClient(const Connection* client) override;
    std::optional<Value> sendInvocation(Connection& client, const Value& invocation) override;
};
