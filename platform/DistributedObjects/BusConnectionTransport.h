// BusConnectionTransport: connections between real processes over the
// message bus (Bus/MessageBus.h).
//
// A registered name is a bus name requested without queueing, so a second
// program asking for a name that a live one holds is refused at once. The
// serving end publishes one object under the name with one method,
// Invoke(s selector, ay arguments) -> ay result: arguments and result are
// binary property lists (the result wrapped as {"result": value}, so that
// nil travels too), and anything that is not such a call (a selector that
// no protocol could have, data that is not a property-list array, too much
// of it) gets an error reply and one line, and reaches no object.
//
// Who calls is the unix user the bus daemon knows the sender by (Bus/
// BusPeerCredentials.h), and who serves a name is its owner's; the
// connections take it from here (Connection.h).
//
// A client is bound to the name's owner at the moment it attached (its
// unique bus name): when that owner leaves the bus, or the name passes to
// another program, the client connection's death source is signalled and
// the death notice follows from the run loop. Calls are synchronous with a
// time-out, so a hung or dead server answers nothing instead of holding the
// caller.
//
// Losing the bus itself is every connection's death at once: each client
// attached over the bus and each connection serving a name on it is
// invalidated from the run loop, with its death notice, exactly as when a
// peer leaves; from then on names are neither registered nor found and
// calls answer nothing at once. A connection that serves a name to clients
// of this same program only is served in process and goes too, since its
// name went with the bus.
#pragma once

#include "Bus/MessageBus.h"
#include "DistributedObjects/ConnectionTransport.h"

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace sdbus {
class IObject;
class IProxy;
} // namespace sdbus
class BusPeerCredentials;
class RunLoopSource;

extern const char* const kDistributedObjectsInterface; // "org.arvel.DistributedObjects"
inline constexpr double kInvocationTimeoutSeconds = kBusCallTimeoutSeconds;
// Larger argument data is refused before it is parsed.
inline constexpr std::size_t kMaxInvocationBytes = 4 * 1024 * 1024;
// No selector of a protocol comes near this.
inline constexpr std::size_t kMaxSelectorBytes = 256;

// What a served call carries, checked and decoded: the invocation
// {"selector", "arguments"} for the serving connection, or nothing, with the
// error reply's message in `refusal` (and one logged line where the call
// deserves one).
std::optional<Value> decodeInvocation(const std::string& selector, std::string_view arguments, std::string& refusal);

class BusConnectionTransport final : public ConnectionTransport {
public:
    BusConnectionTransport();
    ~BusConnectionTransport() override;

    bool registerName(const std::string& name, const std::shared_ptr<Connection>& server) override;
    void removeName(const std::string& name, const Connection* server) override;
    bool attachClient(const std::string& name, const std::shared_ptr<Connection>& client) override;
    void detachClient(const Connection* client) override;
    std::optional<Value> sendInvocation(Connection& client, const Value& invocation) override;

private:
    struct Served;
    struct Client;
    void ownerChanged(const std::string& busName, const std::string& oldOwner, const std::string& newOwner);
    void busLost();
    void invalidateServedConnections();
    // The unix user of a program on the bus, Connection::kUnknownUserId
    // when the bus cannot tell.
    std::uint32_t callerUserId(const std::string& busName);

    std::shared_ptr<RunLoopSource> lossSource_;
    std::unique_ptr<BusPeerCredentials> credentials_;

    std::map<std::string, std::unique_ptr<Served>> served_; // by bus name
    std::map<const Connection*, std::unique_ptr<Client>> clients_;
    std::map<std::string, std::shared_ptr<void>> ownerWatches_; // by bus name
};
