// ArvelDOServer: publishes the daemon's objects under registered names.
//
// Each publication is the root object of a connection of its own; the
// server keeps the connection and the object under the name for its whole
// life, which is what keeps them served. Nothing is ever unpublished; when
// the server goes, its connections go with it and clients hear of their
// death.
//
// Every call to a published object is first held against the daemon's
// rules of who may call what (ArvelCallerRules): a refused call never
// reaches the object and answers nothing, so the caller gets its neutral
// value.
#pragma once

#include "Foundation/Value.h"

#include <map>
#include <memory>
#include <string>

class Connection;
class DOObject;

class ArvelDOServer {
public:
    // The server (the daemon treats null as a failure to build one).
    static std::shared_ptr<ArvelDOServer> create();

    // YES when the object now serves the name; each failure is logged once.
    // The name must be a string; nil (or anything else) is a bad request.
    bool publishObjectWithName(std::shared_ptr<DOObject> object, const Value& name);

    const std::map<std::string, std::shared_ptr<Connection>>& servedConnections() const { return servedConnections_; }
    const std::map<std::string, std::shared_ptr<DOObject>>& servedObjects() const { return servedObjects_; }

private:
    ArvelDOServer() = default;
    std::map<std::string, std::shared_ptr<Connection>> servedConnections_;
    std::map<std::string, std::shared_ptr<DOObject>> servedObjects_;
};
