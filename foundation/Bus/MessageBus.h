// MessageBus: this program's one connection to the message bus that carries
// published objects and distributed notifications between real processes.
//
// The bus is the one the environment names (ARVEL_BUS_ADDRESS, a D-Bus
// address); a program without it keeps everything in process. The
// connection is made on first use and never on a thread of its own: its
// file descriptor is a source of the run loop of the thread that first
// asks, in the common modes, and the bus's own time-out is honoured with a
// timer, so messages that arrived while a synchronous call waited are served
// at the next pass. A connection that cannot be made is one logged line and
// no bus; the program then answers as if nothing served any name. No
// synchronous call waits longer than kBusCallTimeoutSeconds, the bus
// daemon's own answers included, so a hung bus never holds a program for
// longer than a hung peer would.
//
// A bus that goes away later (the bus daemon ends, or the connection
// breaks) is one logged line; the descriptor is no longer watched, shared()
// answers null from then on, and everything that rode on the bus hears of
// it through the loss observers, called once, from inside the pass that
// found the loss (an observer only signals run-loop sources; the work
// follows from the run loop). The program does not connect again: what it
// published and what it attached to went with the bus.
#pragma once

#include "Environment/Environment.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace sdbus {
class IConnection;
class Message;
}
class FileDescriptorSource;
class Timer;

// No synchronous call on the bus, to the bus daemon or to a peer, waits
// longer than this.
inline constexpr double kBusCallTimeoutSeconds = 5.0;

class MessageBus {
public:
    // Whether the environment names a bus; decided once per program.
    static bool isConfigured();
    // The connection, or null when no bus is configured, it is unreachable
    // or it was lost.
    static MessageBus* shared();
    // Called once when the bus is lost, in the order added.
    static void addLossObserver(std::function<void()> observer);

    ~MessageBus();
    MessageBus(const MessageBus&) = delete;
    MessageBus& operator=(const MessageBus&) = delete;

    sdbus::IConnection& connection() { return *connection_; }
    const std::string& uniqueName() const { return uniqueName_; }
    // Serves what the bus holds and re-arms the run-loop sources; called
    // after every message this program sends or waits for.
    void service();
    bool isLost() const { return lost_; }

private:
    explicit MessageBus(std::unique_ptr<sdbus::IConnection> connection);
    void rearm();
    void lost(const std::string& reason);

    std::unique_ptr<sdbus::IConnection> connection_;
    std::string uniqueName_;
    std::shared_ptr<FileDescriptorSource> fdSource_;
    int fdEvents_ = 0;
    std::shared_ptr<Timer> timeoutTimer_;
    bool servicing_ = false;
    bool lost_ = false;
};

// Names on the bus for the system's names: a registered name that is already
// a valid bus name is used as it stands, anything else is escaped under
// "org.arvel.Name.". Object paths come from bus names, dots become slashes.
std::string busNameForRegisteredName(const std::string& name);
std::string objectPathForBusName(const std::string& busName);

// Byte arrays ("ay") into and out of a message in one piece. The bus
// library's own operators go element by element, which a client's 64 MiB
// argument would turn into seconds of the receiving program's only thread
// before its size could even be checked. The view read points into the
// message and lives as long as it; nothing when the next argument is not a
// byte array. Appending throws sdbus::Error, as the library's operators do.
std::optional<std::string_view> readByteArray(sdbus::Message& message);
void appendByteArray(sdbus::Message& message, std::string_view bytes);
// A string, then a byte array ("say"): nothing when the message holds
// anything else.
std::optional<std::pair<std::string, std::string_view>> readNameAndBytes(sdbus::Message& message);
