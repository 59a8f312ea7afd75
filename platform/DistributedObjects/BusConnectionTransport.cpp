#include "DistributedObjects/BusConnectionTransport.h"

#include "Bus/BusPeerCredentials.h"
#include "Bus/MessageBus.h"
#include "DistributedObjects/Connection.h"
#include "Foundation/PropertyList.h"
#include "Log/Log.h"
#include "RunLoop/RunLoop.h"

#include <sdbus-c++/sdbus-c++.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <vector>

const char* const kDistributedObjectsInterface = "org.arvel.DistributedObjects";

namespace {

const char* const kRefusedError = "org.arvel.DistributedObjects.Error.Refused";
const char* const kBadInvocationError = "org.arvel.DistributedObjects.Error.BadInvocation";
const char* const kNameHasNoOwnerError = "org.freedesktop.DBus.Error.NameHasNoOwner";

// A selector is what a protocol's table can hold: keywords of letters,
// digits and underscores, each ended by a colon when it takes an argument.
// Anything else is not a call, and is never echoed into a log line.
bool isWellFormedSelector(const std::string& selector)
{
    if (selector.empty() || selector.size() > kMaxSelectorBytes || selector.front() == ':')
        return false;
    return std::all_of(selector.begin(), selector.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == ':';
    });
}

} // namespace

std::optional<Value> decodeInvocation(const std::string& selector, std::string_view arguments, std::string& refusal)
{
    if (!isWellFormedSelector(selector)) {
        logError("Connection error: Refused a call with a malformed selector.\n");
        refusal = "The selector is malformed";
        return std::nullopt;
    }
    if (arguments.size() > kMaxInvocationBytes) {
        logError("Connection error: Refused %u bytes of arguments for \"%@\".\n", static_cast<unsigned>(arguments.size()), selector);
        refusal = "The arguments are too large";
        return std::nullopt;
    }
    std::optional<Value> decoded = propertyListFromData(arguments);
    if (!decoded || !decoded->isArray()) {
        logError("Connection error: Arguments for \"%@\" are not a property-list array.\n", selector);
        refusal = "The arguments are not a property-list array";
        return std::nullopt;
    }
    return Value::dictionary({{"selector", selector}, {"arguments", std::move(*decoded)}});
}

struct BusConnectionTransport::Served {
    std::weak_ptr<Connection> connection;
    std::unique_ptr<sdbus::IObject> object;
};

struct BusConnectionTransport::Client {
    std::string busName;
    std::string owner;
    std::weak_ptr<Connection> connection;
    std::unique_ptr<sdbus::IProxy> proxy;
};

BusConnectionTransport::BusConnectionTransport()
{
    // The transport lives as long as the program; so does the observer.
    MessageBus::addLossObserver([this] { busLost(); });
}
BusConnectionTransport::~BusConnectionTransport() = default;

bool BusConnectionTransport::registerName(const std::string& name, const std::shared_ptr<Connection>& server)
{
    MessageBus* bus = MessageBus::shared();
    if (!bus || !server)
        return false;
    const std::string busName = busNameForRegisteredName(name);
    if (auto it = served_.find(busName); it != served_.end()) {
        auto holder = it->second->connection.lock();
        if (holder && holder->isValid())
            return holder == server;
        served_.erase(it);
    }
    try {
        bus->connection().requestName(busName);
    } catch (const sdbus::Error&) {
        // Held by another program: the caller reports the refusal.
        bus->service();
        return false;
    }

    auto served = std::make_unique<Served>();
    served->connection = server;
    try {
        served->object = sdbus::createObject(bus->connection(), objectPathForBusName(busName));
        std::weak_ptr<Connection> weak = server;
        served->object->registerMethod(kDistributedObjectsInterface, "Invoke", "say", "ay", [this, weak](sdbus::MethodCall call) {
            auto connection = weak.lock();
            std::string selector;
            std::optional<std::string_view> arguments;
            try {
                call >> selector;
                arguments = readByteArray(call);
            } catch (const sdbus::Error&) {
            }
            if (!arguments) {
                call.createErrorReply(sdbus::Error(kBadInvocationError, "Invoke takes a selector and property-list data")).send();
                return;
            }
            std::string refusal;
            std::optional<Value> invocation = decodeInvocation(selector, *arguments, refusal);
            if (!invocation) {
                call.createErrorReply(sdbus::Error(kBadInvocationError, refusal)).send();
                return;
            }
            std::optional<Value> result;
            if (connection && connection->isValid())
                result = connection->receiveInvocation(*invocation, callerUserId(call.getSender()));
            if (!result) {
                call.createErrorReply(sdbus::Error(kRefusedError, "The call was refused")).send();
                return;
            }
            Value wrapped = result->isNil() ? Value::dictionary({}) : Value::dictionary({{"result", *result}});
            std::optional<std::string> data = binaryPropertyListData(wrapped);
            if (!data) {
                call.createErrorReply(sdbus::Error(kRefusedError, "The result cannot travel")).send();
                return;
            }
            auto reply = call.createReply();
            appendByteArray(reply, *data);
            reply.send();
        });
        served->object->finishRegistration();
    } catch (const sdbus::Error& error) {
        logError("Connection error: Unable to publish \"%@\" on the bus: %s\n", name, error.getMessage());
        try {
            bus->connection().releaseName(busName);
        } catch (const sdbus::Error&) {
        }
        return false;
    }
    served_[busName] = std::move(served);
    bus->service();
    return true;
}

void BusConnectionTransport::removeName(const std::string& name, const Connection* server)
{
    const std::string busName = busNameForRegisteredName(name);
    auto it = served_.find(busName);
    if (it == served_.end())
        return;
    auto holder = it->second->connection.lock();
    if (holder && holder.get() != server)
        return;
    served_.erase(it);
    if (MessageBus* bus = MessageBus::shared()) {
        try {
            bus->connection().releaseName(busName);
        } catch (const sdbus::Error&) {
        }
        bus->service();
    }
}

bool BusConnectionTransport::attachClient(const std::string& name, const std::shared_ptr<Connection>& client)
{
    const std::string busName = busNameForRegisteredName(name);
    // A name this program serves itself is called in process: a bus call to
    // ourselves would wait for an answer that only we could give.
    if (auto it = served_.find(busName); it != served_.end()) {
        auto server = it->second->connection.lock();
        if (!server || !server->isValid() || !server->rootObject_)
            return false;
        client->server_ = server;
        client->serverUserId_ = server->userId_;
        server->clients_.push_back(client);
        return true;
    }

    MessageBus* bus = MessageBus::shared();
    if (!bus)
        return false;
    auto& connection = bus->connection();
    try {
        // Watch before asking, so that an owner leaving in between is heard.
        if (!ownerWatches_.count(busName)) {
            std::string rule = "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
                               "member='NameOwnerChanged',arg0='" + busName + "'";
            auto slot = connection.addMatch(rule, [this](sdbus::Message& message) {
                std::string changed, oldOwner, newOwner;
                try {
                    message >> changed >> oldOwner >> newOwner;
                } catch (const sdbus::Error&) {
                    return;
                }
                ownerChanged(changed, oldOwner, newOwner);
            });
            ownerWatches_[busName] = std::shared_ptr<void>(std::move(slot));
        }
        auto daemon = sdbus::createProxy(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
        std::string owner;
        daemon->callMethod("GetNameOwner").onInterface("org.freedesktop.DBus").withArguments(busName).storeResultsTo(owner);
        auto record = std::make_unique<Client>();
        record->busName = busName;
        record->owner = owner;
        client->serverUserId_ = callerUserId(owner);
        record->connection = client;
        record->proxy = sdbus::createProxy(connection, owner, objectPathForBusName(busName));
        clients_[client.get()] = std::move(record);
    } catch (const sdbus::Error& error) {
        // Nothing owning the name is the ordinary answer; a bus that does
        // not answer is worth a line.
        if (error.getName() != kNameHasNoOwnerError)
            logError("Connection error: No answer from the bus about \"%@\": %s\n", name, error.getMessage());
        bus->service();
        return false;
    }
    bus->service();
    return true;
}

std::uint32_t BusConnectionTransport::callerUserId(const std::string& busName)
{
    MessageBus* bus = MessageBus::shared();
    if (!bus)
        return Connection::kUnknownUserId;
    try {
        if (!credentials_)
            credentials_ = std::make_unique<BusPeerCredentials>(bus->connection());
    } catch (const sdbus::Error& error) {
        logError("Connection error: Unable to learn who is on the bus: %s\n", error.getMessage());
        return Connection::kUnknownUserId;
    }
    std::optional<BusPeerCredentials::Peer> peer = credentials_->peer(busName);
    return peer ? peer->uid : Connection::kUnknownUserId;
}

void BusConnectionTransport::detachClient(const Connection* client)
{
    clients_.erase(client);
}

void BusConnectionTransport::ownerChanged(const std::string& busName, const std::string& oldOwner, const std::string& newOwner)
{
    if (oldOwner.empty() || oldOwner == newOwner)
        return;
    std::vector<std::shared_ptr<Connection>> dying;
    for (auto& [key, record] : clients_) {
        if (record->busName == busName && record->owner == oldOwner) {
            if (auto connection = record->connection.lock())
                dying.push_back(connection);
        }
    }
    for (auto& connection : dying)
        connection->peerDied();
}

void BusConnectionTransport::busLost()
{
    // Heard inside whatever pass found the loss, a call among them: signal
    // only, and let the run loop deliver the notices.
    for (auto& [key, record] : clients_) {
        if (auto connection = record->connection.lock())
            connection->peerDied();
    }
    if (served_.empty())
        return;
    lossSource_ = RunLoopSource::create([this] { invalidateServedConnections(); });
    RunLoop::current().addSource(lossSource_, kCommonRunLoopModes);
    lossSource_->signal();
}

void BusConnectionTransport::invalidateServedConnections()
{
    if (lossSource_)
        lossSource_->invalidate();
    std::vector<std::shared_ptr<Connection>> serving;
    for (auto& [busName, served] : served_) {
        if (auto connection = served->connection.lock())
            serving.push_back(connection);
    }
    // Invalidating removes each from served_.
    for (auto& connection : serving)
        connection->invalidate();
    served_.clear();
}

std::optional<Value> BusConnectionTransport::sendInvocation(Connection& client, const Value& invocation)
{
    if (auto server = client.server_.lock()) {
        if (!server->valid_) {
            client.peerDied();
            return std::nullopt;
        }
        return server->receiveLocalInvocation(invocation, client);
    }
    if (client.peerGone_)
        return std::nullopt;
    auto it = clients_.find(&client);
    MessageBus* bus = MessageBus::shared();
    if (it == clients_.end() || !bus) {
        client.peerDied();
        return std::nullopt;
    }
    const std::string* selector = invocation["selector"].string();
    std::optional<std::string> arguments = binaryPropertyListData(invocation["arguments"]);
    if (!selector || !arguments) {
        logError("Connection error: An invocation that cannot travel was not sent.\n");
        return std::nullopt;
    }

    std::optional<Value> answer;
    try {
        auto call = it->second->proxy->createMethodCall(kDistributedObjectsInterface, "Invoke");
        call << *selector;
        appendByteArray(call, *arguments);
        auto reply = it->second->proxy->callMethod(call, static_cast<std::uint64_t>(kInvocationTimeoutSeconds * 1e6));
        std::optional<std::string_view> data = readByteArray(reply);
        std::optional<Value> wrapped = data ? propertyListFromData(*data) : std::nullopt;
        if (wrapped && wrapped->isDictionary())
            answer = (*wrapped)["result"];
        else
            logError("Connection error: The answer to \"%@\" is not a property list.\n", *selector);
    } catch (const sdbus::Error& error) {
        // A refusal was logged where it happened; a gone or hung server is
        // worth a line here.
        if (error.getName() != kRefusedError)
            logError("Connection error: No answer to \"%@\" from \"%@\": %s\n", *selector, it->second->busName, error.getMessage());
    }
    bus->service();
    return answer;
}
