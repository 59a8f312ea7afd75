// PortNameServer: the machine-wide table of registered names that clients
// look connections up by. A name belongs to one live connection at a time:
// registering a name that a valid connection holds fails, and a name is free
// again as soon as its connection is invalidated or destroyed.
//
// This is the in-process backend: both ends live in one program and the
// table holds the serving connections themselves. Between real processes
// the message bus takes its place.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

class Connection;

class PortNameServer {
public:
    static PortNameServer& systemDefaultPortNameServer();

    bool registerName(const std::string& name, const std::shared_ptr<Connection>& connection);
    // The valid connection serving the name, or null.
    std::shared_ptr<Connection> connectionForName(const std::string& name);
    // Frees the name if this connection holds it.
    void removeName(const std::string& name, const Connection* connection);
    // Names held by valid connections, sorted.
    std::vector<std::string> registeredNames();

    void resetForTesting() { names_.clear(); }

private:
    std::map<std::string, std::weak_ptr<Connection>> names_;
};
