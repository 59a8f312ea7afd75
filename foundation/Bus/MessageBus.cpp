#include "Bus/MessageBus.h"

#include "Environment/Environment.h"
#include "Log/Log.h"
#include "RunLoop/RunLoop.h"

#include <sdbus-c++/sdbus-c++.h>
#include <systemd/sd-bus.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <vector>

namespace {

std::vector<std::function<void()>>& lossObservers()
{
    static std::vector<std::function<void()>> observers;
    return observers;
}

} // namespace

bool MessageBus::isConfigured()
{
    static const bool configured = environmentValue(kBusAddressVariable).has_value();
    return configured;
}

MessageBus* MessageBus::shared()
{
    // Kept for the life of the program; a failed attempt is tried again at
    // the next call, as shared instances are.
    // A lost bus stays lost: the program does not connect again.
    static MessageBus* bus = nullptr;
    if (bus)
        return bus->lost_ ? nullptr : bus;
    if (!isConfigured())
        return nullptr;
    const std::string address = environmentValue(kBusAddressVariable).value_or("");
    try {
        auto connection = sdbus::createSessionBusConnectionWithAddress(address);
        // The library would wait 25 s for a bus that hangs.
        connection->setMethodCallTimeout(static_cast<std::uint64_t>(kBusCallTimeoutSeconds * 1e6));
        bus = new MessageBus(std::move(connection));
    } catch (const sdbus::Error& error) {
        logError("MessageBus error: Unable to connect to the bus at \"%s\": %s\n", address, error.getMessage());
    }
    return bus;
}

MessageBus::MessageBus(std::unique_ptr<sdbus::IConnection> connection) : connection_(std::move(connection))
{
    uniqueName_ = connection_->getUniqueName();
    rearm();
}

MessageBus::~MessageBus()
{
    if (fdSource_)
        RunLoop::current().removeFileDescriptorSource(fdSource_);
    if (timeoutTimer_)
        timeoutTimer_->invalidate();
}

void MessageBus::service()
{
    // A handler that sends (and so services) must not re-enter the loop below.
    if (servicing_ || lost_)
        return;
    servicing_ = true;
    try {
        while (connection_->processPendingRequest()) {
        }
    } catch (const sdbus::Error& error) {
        lost(error.getMessage());
    } catch (const std::exception& error) {
        lost(error.what());
    }
    servicing_ = false;
    if (!lost_)
        rearm();
}

void MessageBus::addLossObserver(std::function<void()> observer)
{
    lossObservers().push_back(std::move(observer));
}

void MessageBus::lost(const std::string& reason)
{
    // A bus that went away leaves its descriptor readable for ever: stop
    // watching it rather than spin, and say so once.
    if (lost_)
        return;
    logError("MessageBus error: Lost the bus: %s\n", reason);
    lost_ = true;
    if (fdSource_)
        RunLoop::current().removeFileDescriptorSource(fdSource_);
    fdSource_.reset();
    if (timeoutTimer_)
        timeoutTimer_->invalidate();
    timeoutTimer_.reset();
    auto observers = lossObservers();
    for (auto& observer : observers)
        observer();
}

void MessageBus::rearm()
{
    sdbus::IConnection::PollData poll;
    try {
        poll = connection_->getEventLoopPollData();
    } catch (const sdbus::Error& error) {
        // Only a connection that is no longer open has nothing to poll.
        lost(error.getMessage());
        return;
    }
    int events = FileDescriptorSource::Readable | ((poll.events & POLLOUT) ? FileDescriptorSource::Writable : 0);
    if (!fdSource_ || fdSource_->fileDescriptor() != poll.fd || events != fdEvents_) {
        if (fdSource_)
            RunLoop::current().removeFileDescriptorSource(fdSource_);
        fdEvents_ = events;
        fdSource_ = FileDescriptorSource::create(poll.fd, events, [this](int, int) { service(); });
        RunLoop::current().addFileDescriptorSource(fdSource_, kCommonRunLoopModes);
    }
    if (timeoutTimer_)
        timeoutTimer_->invalidate();
    timeoutTimer_.reset();
    if (auto relative = poll.getRelativeTimeout()) {
        double seconds = static_cast<double>(relative->count()) / 1e6;
        timeoutTimer_ = Timer::create(seconds, false, [this](Timer&) { service(); });
        RunLoop::current().addTimer(timeoutTimer_, kCommonRunLoopModes);
    }
}

namespace {

bool isBusNameElementCharacter(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-';
}

bool isValidBusName(const std::string& name)
{
    if (name.empty() || name.size() > 255 || name.front() == '.' || name.back() == '.')
        return false;
    bool sawDot = false;
    bool elementStart = true;
    for (char c : name) {
        if (c == '.') {
            if (elementStart)
                return false;
            sawDot = true;
            elementStart = true;
            continue;
        }
        if (!isBusNameElementCharacter(c) || (elementStart && std::isdigit(static_cast<unsigned char>(c))))
            return false;
        elementStart = false;
    }
    return sawDot;
}

} // namespace

std::string busNameForRegisteredName(const std::string& name)
{
    if (isValidBusName(name))
        return name;
    std::string escaped = "org.arvel.Name.N";
    for (char c : name) {
        if (std::isalnum(static_cast<unsigned char>(c)))
            escaped += c;
        else
            escaped += "_" + std::to_string(static_cast<unsigned char>(c)) + "_";
    }
    return escaped.substr(0, 255);
}

std::string objectPathForBusName(const std::string& busName)
{
    std::string path = "/";
    for (char c : busName)
        path += (c == '.') ? '/' : (c == '-' ? '_' : c);
    return path;
}

namespace {

// The library keeps a message's own handle to itself; a pointer to that
// member, formed where it is accessible, reaches it on any message.
struct MessageHandle : sdbus::Message {
    static void* get(sdbus::Message& message)
    {
        constexpr void* sdbus::Message::*handle = &MessageHandle::msg_;
        return message.*handle;
    }
};

} // namespace

std::optional<std::string_view> readByteArray(sdbus::Message& message)
{
    auto* raw = static_cast<sd_bus_message*>(MessageHandle::get(message));
    const void* data = nullptr;
    size_t size = 0;
    if (!raw || sd_bus_message_read_array(raw, 'y', &data, &size) <= 0)
        return std::nullopt;
    return std::string_view(static_cast<const char*>(data), size);
}

std::optional<std::pair<std::string, std::string_view>> readNameAndBytes(sdbus::Message& message)
{
    std::string name;
    try {
        message >> name;
    } catch (const sdbus::Error&) {
        return std::nullopt;
    }
    std::optional<std::string_view> bytes = readByteArray(message);
    if (!bytes)
        return std::nullopt;
    return std::pair(std::move(name), *bytes);
}

void appendByteArray(sdbus::Message& message, std::string_view bytes)
{
    auto* raw = static_cast<sd_bus_message*>(MessageHandle::get(message));
    int result = raw ? sd_bus_message_append_array(raw, 'y', bytes.data(), bytes.size()) : -EINVAL;
    if (result < 0)
        throw sdbus::Error("org.freedesktop.DBus.Error.InvalidArgs", "Unable to append a byte array");
}
