#include "MachineLink/BusMachineLink.h"

#include "Bus/MessageBus.h"
#include "Foundation/PropertyList.h"
#include "Log/Log.h"
#include "MachineLink/MachineLinkProtocol.h"
#include "RunLoop/RunLoop.h"

#include <sdbus-c++/sdbus-c++.h>

#include <cstdlib>
#include <unistd.h>

namespace {

std::optional<std::uint32_t> numberFromEnvironment(const char* variable)
{
    std::optional<std::string> text = environmentValue(variable);
    if (!text)
        return std::nullopt;
    char* end = nullptr;
    unsigned long value = std::strtoul(text->c_str(), &end, 10);
    if (*end != '\0')
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

constexpr std::uint64_t timeoutMicroseconds()
{
    return static_cast<std::uint64_t>(kMachineLinkTimeoutSeconds * 1e6);
}

sdbus::MethodCall callMessage(sdbus::IProxy& machine, const machine::OperationBase& operation, const std::string& arguments)
{
    auto message = machine.createMethodCall(kMachineLinkInterface, "Call");
    message << std::string(operation.name());
    appendByteArray(message, arguments);
    return message;
}

// The answer to one call on the service's object: a property-list
// dictionary, or nothing, logged.
std::optional<Value> answerOf(sdbus::IProxy& machine, const machine::OperationBase& operation, const std::string& arguments,
    const std::string& service)
{
    try {
        auto message = callMessage(machine, operation, arguments);
        auto reply = machine.callMethod(message, timeoutMicroseconds());
        std::optional<std::string_view> data = readByteArray(reply);
        std::optional<Value> answer = data ? propertyListFromData(*data) : std::nullopt;
        if (answer && answer->isDictionary())
            return answer;
        logError("MachineLink error: The answer to \"%s\" is not a property list.\n", operation.name());
    } catch (const sdbus::Error& error) {
        logError("MachineLink error: No answer to \"%s\" from \"%s\": %s\n", operation.name(), service, error.getMessage());
    }
    return std::nullopt;
}

} // namespace

BusMachineLink::BusMachineLink(std::string serviceName) : service_(std::move(serviceName))
{
    program_.realUid = static_cast<std::uint32_t>(::getuid());
    program_.effectiveUid = static_cast<std::uint32_t>(::geteuid());
    program_.pid = static_cast<int>(numberFromEnvironment(kMachinePidVariable).value_or(0));
    // No machine hands out groups: until the program takes its host
    // process's, it has none.
    program_.groups.clear();
    newsSource_ = RunLoopSource::create([this] { deliverNews(); });
    RunLoop::current().addSource(newsSource_, kCommonRunLoopModes);
    // Who the program is comes from the service, which asks the bus; what
    // the environment says is anybody's to write. Asked on a connection of
    // its own: the program's bus connection is made at its first use, which
    // must come after a daemon has detached.
    if (std::optional<std::uint32_t> uid = call(ops::programIdentity)) {
        program_.realUid = *uid;
        program_.effectiveUid = *uid;
    }
}

BusMachineLink::~BusMachineLink()
{
    newsSource_->invalidate();
}

int BusMachineLink::take(const std::string&, const std::string&)
{
    return 0;
}

sdbus::IProxy* BusMachineLink::proxy()
{
    if (proxy_)
        return proxy_.get();
    MessageBus* bus = MessageBus::shared();
    if (!bus)
        return nullptr;
    try {
        auto proxy = sdbus::createProxy(bus->connection(), service_, kMachineLinkObjectPath);
        proxy->registerSignalHandler(kMachineLinkInterface, "Event", [this](sdbus::Signal& signal) { heard(signal); });
        proxy->finishRegistration();
        proxy_ = std::move(proxy);
    } catch (const sdbus::Error& error) {
        logError("MachineLink error: Unable to reach the machine \"%s\": %s\n", service_, error.getMessage());
    }
    newsSource_->signal();
    return proxy_.get();
}

void BusMachineLink::invoke(const machine::OperationBase& operation, const void* arguments, void* result)
{
    Value encoded = operation.encodeArguments(arguments);
    if (operation.travel() == machine::Travel::WithoutAnswer) {
        send(operation, encoded);
        return;
    }
    std::optional<Value> answer = ask(operation, encoded);
    if (answer && !operation.decodeAnswer(*answer, result))
        logError("MachineLink error: The answer to \"%s\" is of the wrong kind.\n", operation.name());
}

std::optional<Value> BusMachineLink::ask(const machine::OperationBase& operation, const Value& arguments)
{
    std::optional<std::string> data = binaryPropertyListData(arguments);
    if (!data) {
        logError("MachineLink error: The arguments of \"%s\" cannot travel.\n", operation.name());
        return std::nullopt;
    }
    if (operation.travel() == machine::Travel::OnItsOwnConnection) {
        std::optional<std::string> address = environmentValue(kBusAddressVariable);
        if (!address)
            return std::nullopt;
        try {
            auto connection = sdbus::createSessionBusConnectionWithAddress(*address);
            auto machine = sdbus::createProxy(*connection, service_, kMachineLinkObjectPath);
            return answerOf(*machine, operation, *data, service_);
        } catch (const sdbus::Error& error) {
            logError("MachineLink error: No answer to \"%s\" from \"%s\": %s\n", operation.name(), service_, error.getMessage());
            return std::nullopt;
        }
    }
    sdbus::IProxy* machine = proxy();
    if (!machine)
        return std::nullopt;
    std::optional<Value> answer = answerOf(*machine, operation, *data, service_);
    // What arrived while the call waited is served from the run loop.
    newsSource_->signal();
    return answer;
}

void BusMachineLink::send(const machine::OperationBase& operation, const Value& arguments)
{
    sdbus::IProxy* machine = proxy();
    std::optional<std::string> data = binaryPropertyListData(arguments);
    if (!machine || !data)
        return;
    try {
        auto message = callMessage(*machine, operation, *data);
        message.dontExpectReply();
        machine->callMethod(message);
    } catch (const sdbus::Error&) {
        // Nowhere to say so: what goes without an answer is the system
        // log's, and saying it would be another line for it.
    }
    newsSource_->signal();
}

std::uint64_t BusMachineLink::start(const machine::SubscriptionBase& subscription, const void* arguments, std::shared_ptr<const void> listener)
{
    std::uint64_t registration = 0;
    invoke(subscription.start(), arguments, &registration);
    if (registration)
        registered_[{subscription.news(), registration}] = {&subscription, std::move(listener)};
    return registration;
}

void BusMachineLink::stop(const machine::SubscriptionBase& subscription, std::uint64_t registration)
{
    if (!registered_.erase({subscription.news(), registration}))
        return;
    auto arguments = std::tuple<std::uint64_t>(registration);
    invoke(subscription.end(), &arguments, nullptr);
}

void BusMachineLink::heard(sdbus::Signal& signal)
{
    auto event = readNameAndBytes(signal);
    if (!event || event->second.size() > kMachineLinkMaxArgumentBytes)
        return;
    std::optional<Value> news = propertyListFromData(event->second);
    if (!news || !news->isDictionary())
        return;
    news_.emplace_back(std::move(event->first), std::move(*news));
    newsSource_->signal();
}

void BusMachineLink::deliverNews()
{
    // The bus is served here, from the run loop, rather than after each
    // call: what a call's wait left queued (news, and requests to this
    // program) never runs in the middle of the code that made the call.
    if (MessageBus* bus = proxy_ ? MessageBus::shared() : nullptr)
        bus->service();
    while (!news_.empty()) {
        auto [kind, news] = std::move(news_.front());
        news_.pop_front();
        std::optional<std::uint64_t> registration = machine::LinkCodec<std::uint64_t>::decode(news["registration"]);
        auto it = registration ? registered_.find(std::pair(kind, *registration)) : registered_.end();
        if (it == registered_.end())
            continue;
        // Copied out before it runs: the listener may end its own registration.
        Registered heard = it->second;
        heard.subscription->deliver(news["news"], heard.listener.get());
    }
}
