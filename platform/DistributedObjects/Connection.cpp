#include "DistributedObjects/Connection.h"

#include "DistributedObjects/DOObject.h"
#include "DistributedObjects/DistantObject.h"
#include "DistributedObjects/Port.h"
#include "DistributedObjects/ConnectionTransport.h"
#include "Log/Log.h"
#include "Notifications/NotificationCenter.h"
#include "RunLoop/RunLoop.h"
#include "MachineLink/MachineLink.h"

#include <algorithm>
#include <exception>

const char* const kConnectionDidDieNotification = "NSConnectionDidDieNotification";

namespace {

bool injectedFailure(const char* operation)
{
    return MachineLink::shared().take(operation) != 0;
}

} // namespace

Connection::Connection(std::shared_ptr<Port> receivePort, std::shared_ptr<Port> sendPort)
    : receivePort_(std::move(receivePort)), sendPort_(std::move(sendPort))
{
}

Connection::~Connection()
{
    if (valid_)
        tearDown();
}

std::shared_ptr<Connection> Connection::connectionWithReceivePortSendPort(std::shared_ptr<Port> receivePort,
    std::shared_ptr<Port> sendPort)
{
    if (!receivePort || !sendPort || injectedFailure("Connection::connectionWithReceivePortSendPort"))
        return nullptr;
    return std::shared_ptr<Connection>(new Connection(std::move(receivePort), std::move(sendPort)));
}

std::shared_ptr<DistantObject> Connection::rootProxyForConnectionWithRegisteredNameHost(const std::string& name,
    const std::string& host, ServedBy servedBy)
{
    if (!host.empty() || injectedFailure("Connection::rootProxyForConnectionWithRegisteredNameHost"))
        return nullptr;
    auto port = Port::port();
    if (!port)
        return nullptr;
    auto client = std::shared_ptr<Connection>(new Connection(port, port));
    client->userId_ = MachineLink::shared().program().effectiveUid;
    if (!ConnectionTransport::shared().attachClient(name, client)) {
        client->valid_ = false;
        return nullptr;
    }
    if (servedBy == ServedBy::Root && client->serverUserId_ != 0) {
        // Whoever took the name first would otherwise hear everything the
        // system says to root, and answer it.
        if (client->serverUserId_ == kUnknownUserId)
            logError("Connection error: Unable to tell who serves \"%@\"; not using it.\n", name);
        else
            logError("Connection error: \"%@\" is owned by UID %u, not root; not using it.\n", name, client->serverUserId_);
        ConnectionTransport::shared().detachClient(client.get());
        client->valid_ = false;
        return nullptr;
    }
    std::weak_ptr<Connection> weak = client;
    client->deathSource_ = RunLoopSource::create([weak] {
        if (auto self = weak.lock())
            self->invalidate();
    });
    RunLoop::current().addSource(client->deathSource_, kCommonRunLoopModes);
    return std::make_shared<DistantObject>(client);
}

bool Connection::registerName(const std::string& name)
{
    if (!valid_ || name.empty() || injectedFailure("Connection::registerName"))
        return false;
    // Clients take the name's server to be whoever registered it.
    const std::uint32_t previous = userId_, previousReal = realUserId_;
    userId_ = MachineLink::shared().program().effectiveUid;
    realUserId_ = MachineLink::shared().program().realUid;
    if (!ConnectionTransport::shared().registerName(name, shared_from_this())) {
        userId_ = previous;
        realUserId_ = previousReal;
        return false;
    }
    if (!registeredName_.empty() && registeredName_ != name)
        ConnectionTransport::shared().removeName(registeredName_, this);
    registeredName_ = name;
    return true;
}

void Connection::invalidate()
{
    if (!valid_)
        return;
    // Observers of the notice may let go of this connection.
    auto self = weak_from_this().lock();
    tearDown();
    NotificationCenter::defaultCenter().postNotificationName(kConnectionDidDieNotification, Value(), Value(), this);
}

void Connection::tearDown()
{
    valid_ = false;
    if (!registeredName_.empty())
        ConnectionTransport::shared().removeName(registeredName_, this);
    if (deathSource_)
        ConnectionTransport::shared().detachClient(this);
    auto clients = std::move(clients_);
    clients_.clear();
    for (auto& weak : clients) {
        if (auto client = weak.lock())
            client->peerDied();
    }
    if (deathSource_)
        deathSource_->invalidate();
    rootObject_.reset();
}

void Connection::peerDied()
{
    if (peerGone_)
        return;
    peerGone_ = true;
    if (deathSource_)
        deathSource_->signal();
}

std::size_t Connection::clientCount() const
{
    return static_cast<std::size_t>(std::count_if(clients_.begin(), clients_.end(), [](const auto& weak) {
        auto client = weak.lock();
        return client && client->isValid();
    }));
}

std::optional<Value> Connection::sendInvocation(const std::string& selector, const Value& arguments)
{
    if (!valid_)
        return std::nullopt;
    Value invocation = Value::dictionary({{"selector", selector}, {"arguments", arguments}});
    return ConnectionTransport::shared().sendInvocation(*this, invocation);
}

std::optional<Value> Connection::receiveLocalInvocation(const Value& invocation, const Connection& client)
{
    machine::ProgramIdentity& program = MachineLink::shared().program();
    const std::uint32_t real = program.realUid;
    const std::uint32_t effective = program.effectiveUid;
    if (realUserId_ != kUnknownUserId) {
        program.realUid = realUserId_;
        program.effectiveUid = userId_;
    }
    std::optional<Value> result = receiveInvocation(invocation, client.userId_);
    program.realUid = real;
    program.effectiveUid = effective;
    return result;
}

std::optional<Value> Connection::receiveInvocation(const Value& invocation, std::uint32_t callerUid)
{
    // The object stays alive for the call even if the call lets go of it.
    auto object = rootObject_;
    const std::string* selector = invocation["selector"].string();
    if (!object || !selector)
        return std::nullopt;
    if (callerCheck_ && !callerCheck_(*selector, callerUid))
        return std::nullopt;
    // An object that throws costs the one call, never the caller or the
    // transport that carried it.
    DOObject::DispatchResult result;
    try {
        result = object->dispatchInvocation(*selector, invocation["arguments"]);
    } catch (const std::exception& error) {
        logError("Connection error: %@ failed to answer \"%@\": %s\n", object->description(), *selector, error.what());
        return std::nullopt;
    } catch (...) {
        logError("Connection error: %@ failed to answer \"%@\".\n", object->description(), *selector);
        return std::nullopt;
    }
    switch (result.status) {
    case DOObject::DispatchStatus::Done: return result.value;
    case DOObject::DispatchStatus::NoSuchMethod:
        logError("Connection error: %@ does not respond to \"%@\".\n", object->description(), *selector);
        return std::nullopt;
    case DOObject::DispatchStatus::BadArguments:
        logError("Connection error: Arguments for \"%@\" sent to %@ are of the wrong kind.\n", *selector, object->description());
        return std::nullopt;
    }
    return std::nullopt;
}
