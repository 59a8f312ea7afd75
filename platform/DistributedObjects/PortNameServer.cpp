#include "DistributedObjects/PortNameServer.h"

#include "DistributedObjects/Connection.h"

PortNameServer& PortNameServer::systemDefaultPortNameServer()
{
    // Never destroyed: connections that go while the program exits still
    // give their names back.
    static PortNameServer* server = new PortNameServer;
    return *server;
}

bool PortNameServer::registerName(const std::string& name, const std::shared_ptr<Connection>& connection)
{
    if (name.empty() || !connection)
        return false;
    auto existing = connectionForName(name);
    if (existing && existing != connection)
        return false;
    names_[name] = connection;
    return true;
}

std::shared_ptr<Connection> PortNameServer::connectionForName(const std::string& name)
{
    auto it = names_.find(name);
    if (it == names_.end())
        return nullptr;
    auto connection = it->second.lock();
    if (!connection || !connection->isValid()) {
        names_.erase(it);
        return nullptr;
    }
    return connection;
}

void PortNameServer::removeName(const std::string& name, const Connection* connection)
{
    auto it = names_.find(name);
    if (it == names_.end())
        return;
    auto holder = it->second.lock();
    // An expired entry may belong to the connection being destroyed now.
    if (!holder || holder.get() == connection)
        names_.erase(it);
}

std::vector<std::string> PortNameServer::registeredNames()
{
    std::vector<std::string> out;
    for (auto it = names_.begin(); it != names_.end();) {
        auto connection = it->second.lock();
        if (!connection || !connection->isValid()) {
            it = names_.erase(it);
            continue;
        }
        out.push_back(it->first);
        ++it;
    }
    return out;
}
