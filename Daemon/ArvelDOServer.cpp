#include "ArvelDOServer.h"

#include "ArvelCallerRules.h"
#include "DistributedObjects/Connection.h"
#include "DistributedObjects/DOObject.h"
#include "DistributedObjects/Port.h"
#include "Log/Log.h"

std::shared_ptr<ArvelDOServer> ArvelDOServer::create()
{
    return std::shared_ptr<ArvelDOServer>(new ArvelDOServer);
}

bool ArvelDOServer::publishObjectWithName(std::shared_ptr<DOObject> object, const Value& name)
{
    if (!object || !name.string()) {
        logError("ArvelDOServer error: Bad publication request.\n");
        return false;
    }
    const std::string& registeredName = *name.string();

    auto port = Port::port();
    if (!port) {
        logError("ArvelDOServer error: Unable to obtain an NSPort for publication.\n");
        return false;
    }
    auto connection = Connection::connectionWithReceivePortSendPort(port, port);
    if (!connection) {
        logError("ArvelDOServer error: Unable to obtain an NSConnection for publication.\n");
        return false;
    }
    connection->setRootObject(object);
    // Every call is held against the rules before the object sees it.
    connection->setCallerCheck(&ArvelCallerRules::allows);
    if (!connection->registerName(registeredName)) {
        logError("ArvelDOServer error: Unable to register name \"%@\".\n", registeredName);
        return false;
    }

    servedConnections_[registeredName] = connection;
    servedObjects_[registeredName] = object;
    verboseNotice("ArvelDOServer: Published \"%@\" as \"%@\"\n", object->description(), registeredName);
    return true;
}
