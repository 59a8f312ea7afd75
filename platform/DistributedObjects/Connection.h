// Connection: one end of a distributed-objects link.
//
// The serving end is made from a port, given a root object and registered
// under a name. A client asks for the root proxy of a registered name and
// gets a DistantObject on a new client connection of its own. A call is
// synchronous: the invocation (selector and arguments) travels as one
// marshalled Value, the serving end runs it on its root object, and the
// result travels back as a Value; no pointer ever crosses.
//
// Names and calls travel through the program's ConnectionTransport: in
// process, or over the message bus between real processes.
//
// Who calls is what carried the call says, never what the caller claims:
// over the bus, the unix user the bus daemon knows the sender's connection
// by; in process, the effective user id (the machine's notion) at the
// moment the client connection was made, as a socket's peer credentials
// are taken when it connects. A serving end may be given a caller check,
// asked before its root object runs each call: a call it refuses answers
// nothing (the client's neutral value) and never reaches the object. A
// client that must talk to root only asks for ServedBy::Root, and a name
// served by anyone else gets it one line and no proxy.
//
// When the serving end goes away (invalidated or destroyed, or the bus that
// carried the link is lost), each client connection learns of it through a run-loop source of the thread that
// made it (in the common modes, so modal loops hear it too): when that
// source is served the client connection invalidates itself and posts
// "NSConnectionDidDieNotification" on the local notification centre with
// itself as the sender. A call made meanwhile answers nothing at once and
// never crashes; the notice still follows from the run loop, never from
// inside the call. invalidate() posts the same notice for its own
// connection.
#pragma once

#include "Foundation/Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class DistantObject;
class DOObject;
class Port;
class RunLoopSource;

extern const char* const kConnectionDidDieNotification; // "NSConnectionDidDieNotification"

class Connection : public std::enable_shared_from_this<Connection> {
public:
    // A caller the carrier could not name: no user has this id.
    static constexpr std::uint32_t kUnknownUserId = 0xFFFFFFFF;
    // Whether the call may reach the root object; refusing is the check's
    // own business to say (one line).
    using CallerCheck = std::function<bool(const std::string& selector, std::uint32_t callerUid)>;
    enum class ServedBy { Anyone, Root };

    // Null when either port is missing (or on the machine failure
    // "Connection::connectionWithReceivePortSendPort").
    static std::shared_ptr<Connection> connectionWithReceivePortSendPort(std::shared_ptr<Port> receivePort,
        std::shared_ptr<Port> sendPort);
    // The root object served under the name, through a new client
    // connection; null when nothing valid serves it. An empty host is this
    // machine, the only one reachable. With ServedBy::Root, a name served
    // by any other user answers null after one line.
    static std::shared_ptr<DistantObject> rootProxyForConnectionWithRegisteredNameHost(const std::string& name,
        const std::string& host = {}, ServedBy servedBy = ServedBy::Anyone);

    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void setRootObject(std::shared_ptr<DOObject> object) { rootObject_ = std::move(object); }
    const std::shared_ptr<DOObject>& rootObject() const { return rootObject_; }
    // Serving end: asked before every call reaches the root object.
    void setCallerCheck(CallerCheck check) { callerCheck_ = std::move(check); }
    // Registers with the port name server; false when a valid connection
    // holds the name (or on the machine failure "Connection::registerName").
    bool registerName(const std::string& name);
    const std::string& registeredName() const { return registeredName_; }

    bool isValid() const { return valid_; }
    void invalidate();

    // Client end: one call to the root object at the other end. Nothing when
    // this connection or its other end is gone, or the other end refused
    // the call.
    std::optional<Value> sendInvocation(const std::string& selector, const Value& arguments);
    // The client connections served by this end that are still valid.
    std::size_t clientCount() const;

    // Serving end: the one crossing between the ends, where a transport
    // hands over a call that arrived: {"selector", "arguments"} in, the
    // result out; nothing when the call was refused. The caller is whom the
    // transport knows the call came from.
    std::optional<Value> receiveInvocation(const Value& invocation, std::uint32_t callerUid);

private:
    friend class InProcessConnectionTransport;
    friend class BusConnectionTransport;
    Connection(std::shared_ptr<Port> receivePort, std::shared_ptr<Port> sendPort);
    // The same for a client of this same program: for the length of the
    // call the program is the serving end, with the ids it registered its
    // name with, as it would be in a process of its own.
    std::optional<Value> receiveLocalInvocation(const Value& invocation, const Connection& client);
    void peerDied();
    void tearDown();

    std::shared_ptr<Port> receivePort_;
    std::shared_ptr<Port> sendPort_;
    std::shared_ptr<DOObject> rootObject_;
    std::string registeredName_;
    bool valid_ = true;
    // The effective user when this end was made (a client) or registered
    // its name (a server), as the machine knows it.
    std::uint32_t userId_ = kUnknownUserId;
    std::uint32_t realUserId_ = kUnknownUserId;
    // Client end: the user that serves the other end, as the carrier knows it.
    std::uint32_t serverUserId_ = kUnknownUserId;
    CallerCheck callerCheck_;
    // Serving end.
    std::vector<std::weak_ptr<Connection>> clients_;
    // Client end.
    std::weak_ptr<Connection> server_;
    bool peerGone_ = false;
    std::shared_ptr<RunLoopSource> deathSource_;
};
