// ConnectionTransport: what carries a connection's registered name and its
// invocations. Two backends, chosen once per program from the environment:
//   - in process (InProcessConnectionTransport): the port name server's
//     table, and calls that go straight to the serving connection; what the
//     tests use;
//   - the message bus (BusConnectionTransport), when the environment names
//     one: a registered name is a bus name owned without queueing, calls
//     are synchronous bus calls with a time-out, the owner leaving the bus
//     is the serving end's death, and losing the bus is every connection's.
// Connections behave the same over either; only this seam differs.
#pragma once

#include "Foundation/Value.h"

#include <memory>
#include <optional>
#include <string>

class Connection;

class ConnectionTransport {
public:
    // The bus backend when a bus is configured, else the in-process one.
    static ConnectionTransport& shared();
    virtual ~ConnectionTransport() = default;

    // False when the name is held by another live end.
    virtual bool registerName(const std::string& name, const std::shared_ptr<Connection>& server) = 0;
    // Frees the name if this connection holds it.
    virtual void removeName(const std::string& name, const Connection* server) = 0;
    // Links a new client connection to what serves the name; false when
    // nothing does.
    virtual bool attachClient(const std::string& name, const std::shared_ptr<Connection>& client) = 0;
    virtual void detachClient(const Connection* client) = 0;
    // {"selector", "arguments"} to the serving end; its result, or nothing
    // when it is gone, hung or refused the call.
    virtual std::optional<Value> sendInvocation(Connection& client, const Value& invocation) = 0;
};
