#include "MachineLink/BusMachineLink.h"

#include "Bus/MessageBus.h"
#include "Accessibility/AXError.h"
#include "Foundation/PropertyList.h"
#include "IOKit/IOReturn.h"
#include "Log/Log.h"
#include "MachineLink/MachineLinkCoding.h"
#include "MachineLink/MachineLinkProtocol.h"
#include "RunLoop/RunLoop.h"

#include <sdbus-c++/sdbus-c++.h>

#include <cstdlib>
#include <unistd.h>

namespace {

std::vector<std::uint8_t> bytesOf(const std::string& data)
{
    return std::vector<std::uint8_t>(data.begin(), data.end());
}

std::string_view viewOf(const std::vector<std::uint8_t>& bytes)
{
    return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

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

Value integers(const std::vector<std::int64_t>& values)
{
    Value::Array out;
    out.reserve(values.size());
    for (std::int64_t v : values)
        out.emplace_back(static_cast<long long>(v));
    return Value(std::move(out));
}

Value elementArguments(const MachineLink::Element& element)
{
    return Value::dictionary({{"pid", element.pid}, {"element", element.element}});
}

} // namespace

BusMachineLink::BusMachineLink(std::string serviceName) : service_(std::move(serviceName))
{
    realUid_ = static_cast<std::uint32_t>(::getuid());
    effectiveUid_ = static_cast<std::uint32_t>(::geteuid());
    programPid_ = static_cast<int>(numberFromEnvironment(kMachinePidVariable).value_or(0));
    newsSource_ = RunLoopSource::create([this] { deliverNews(); });
    RunLoop::current().addSource(newsSource_, kCommonRunLoopModes);
    // Who the program is comes from the service, which asks the bus; what
    // the environment says is anybody's to write. Asked on a connection of
    // its own: the program's bus connection is made at its first use, which
    // must come after a daemon has detached.
    std::optional<Value> identity = callOnOwnConnection("program.identity", Value::dictionary());
    if (std::optional<std::int64_t> uid = identity ? integerEntry(*identity, "result") : std::nullopt) {
        realUid_ = static_cast<std::uint32_t>(*uid);
        effectiveUid_ = realUid_;
    }
}

BusMachineLink::~BusMachineLink()
{
    newsSource_->invalidate();
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
        proxy->uponSignal("Event").onInterface(kMachineLinkInterface).call(
            [this](const std::string& kind, const std::vector<std::uint8_t>& payload) { heard(kind, payload); });
        proxy->finishRegistration();
        proxy_ = std::move(proxy);
    } catch (const sdbus::Error& error) {
        logError("MachineLink error: Unable to reach the machine \"%s\": %s\n", service_, error.getMessage());
    }
    newsSource_->signal();
    return proxy_.get();
}

std::optional<Value> BusMachineLink::call(const std::string& operation, const Value& arguments)
{
    sdbus::IProxy* machine = proxy();
    if (!machine)
        return std::nullopt;
    std::optional<std::string> data = binaryPropertyListData(arguments);
    if (!data) {
        logError("MachineLink error: The arguments of \"%s\" cannot travel.\n", operation);
        return std::nullopt;
    }
    std::optional<Value> answer;
    try {
        auto message = machine->createMethodCall(kMachineLinkInterface, "Call");
        message << operation << bytesOf(*data);
        auto reply = machine->callMethod(message, timeoutMicroseconds());
        std::vector<std::uint8_t> result;
        reply >> result;
        std::optional<Value> decoded = propertyListFromData(viewOf(result));
        if (decoded && decoded->isDictionary())
            answer = std::move(decoded);
        else
            logError("MachineLink error: The answer to \"%s\" is not a property list.\n", operation);
    } catch (const sdbus::Error& error) {
        logError("MachineLink error: No answer to \"%s\" from \"%s\": %s\n", operation, service_, error.getMessage());
    }
    // What arrived while the call waited is served from the run loop.
    newsSource_->signal();
    return answer;
}

std::uint64_t BusMachineLink::registered(const std::string& operation, const Value& arguments)
{
    std::optional<Value> answer = call(operation, arguments);
    return answer ? static_cast<std::uint64_t>(integerEntry(*answer, "result").value_or(0)) : 0;
}

int BusMachineLink::resultCode(const std::optional<Value>& answer, int neutral)
{
    if (!answer)
        return neutral;
    return static_cast<int>(integerEntry(*answer, "result").value_or(neutral));
}

void BusMachineLink::heard(const std::string& kind, const std::vector<std::uint8_t>& payload)
{
    if (payload.size() > kMachineLinkMaxArgumentBytes)
        return;
    std::optional<Value> news = propertyListFromData(viewOf(payload));
    if (!news || !news->isDictionary())
        return;
    news_.emplace_back(kind, std::move(*news));
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
        // Each listener is copied out before it runs: it may end its own
        // registration.
        if (kind == kMachineEventRegistry) {
            auto listener = integerEntry(news, "listener");
            auto entry = integerEntry(news, "entry");
            auto it = listener ? registryListeners_.find(static_cast<std::uint64_t>(*listener)) : registryListeners_.end();
            if (it != registryListeners_.end() && entry) {
                auto callback = it->second;
                callback(static_cast<std::uint64_t>(*entry));
            }
        } else if (kind == kMachineEventStore) {
            auto watcher = integerEntry(news, "watcher");
            const std::string* key = stringEntry(news, "key");
            auto it = watcher ? storeWatchers_.find(static_cast<std::uint64_t>(*watcher)) : storeWatchers_.end();
            if (it != storeWatchers_.end() && key) {
                auto callback = it->second;
                callback(*key);
            }
        } else if (kind == kMachineEventPower) {
            auto client = integerEntry(news, "client");
            auto type = integerEntry(news, "type");
            auto argument = integerEntry(news, "argument");
            auto it = client ? powerClients_.find(static_cast<std::uint64_t>(*client)) : powerClients_.end();
            if (it != powerClients_.end() && type && argument) {
                auto callback = it->second;
                callback(static_cast<std::uint32_t>(*type), static_cast<std::intptr_t>(*argument));
            }
        } else if (kind == kMachineEventApplication) {
            auto listener = integerEntry(news, "listener");
            auto event = integerEntry(news, "kind");
            auto high = integerEntry(news, "high");
            auto low = integerEntry(news, "low");
            auto it = listener ? applicationListeners_.find(static_cast<std::uint64_t>(*listener)) : applicationListeners_.end();
            if (it != applicationListeners_.end() && event && *event >= 0 && *event <= 2 && high && low) {
                auto callback = it->second;
                callback(static_cast<ApplicationEventKind>(*event), static_cast<std::uint32_t>(*high), static_cast<std::uint32_t>(*low));
            }
        } else if (kind == kMachineEventAccessibility) {
            auto observer = integerEntry(news, "observer");
            auto pid = integerEntry(news, "pid");
            auto element = integerEntry(news, "element");
            const std::string* notification = stringEntry(news, "notification");
            auto it = observer ? observers_.find(static_cast<int>(*observer)) : observers_.end();
            if (it != observers_.end() && pid && element && notification) {
                auto callback = it->second;
                callback({static_cast<int>(*pid), static_cast<std::uint64_t>(*element)}, *notification);
            }
        } else if (kind == kMachineEventSession) {
            auto listener = integerEntry(news, "listener");
            auto resigned = integerEntry(news, "resigned");
            auto activated = integerEntry(news, "activated");
            auto it = listener ? sessionListeners_.find(static_cast<std::uint64_t>(*listener)) : sessionListeners_.end();
            if (it != sessionListeners_.end() && resigned && activated) {
                auto callback = it->second;
                callback(static_cast<std::uint32_t>(*resigned), static_cast<std::uint32_t>(*activated));
            }
        }
    }
}

int BusMachineLink::take(const std::string&, const std::string&)
{
    return 0;
}

// ---- the I/O registry

std::vector<std::uint64_t> BusMachineLink::matchingServices(const std::string& className)
{
    std::vector<std::uint64_t> out;
    std::optional<Value> answer = call("registry.matching", Value::dictionary({{"class", className}}));
    if (const Value::Array* entries = answer ? (*answer)["result"].arrayValue() : nullptr) {
        for (const Value& entry : *entries) {
            if (entry.isInteger())
                out.push_back(static_cast<std::uint64_t>(*entry.integer()));
        }
    }
    return out;
}

bool BusMachineLink::isActive(std::uint64_t entry)
{
    std::optional<Value> answer = call("registry.isActive", Value::dictionary({{"entry", entry}}));
    return answer && booleanEntry(*answer, "result").value_or(false);
}

std::string BusMachineLink::className(std::uint64_t entry)
{
    std::optional<Value> answer = call("registry.className", Value::dictionary({{"entry", entry}}));
    return answer ? (*answer)["result"].stringOr({}) : std::string();
}

std::uint64_t BusMachineLink::addRegistryListener(const std::string& className, RegistryEvent event, RegistryListener listener)
{
    std::uint64_t id = registered("registry.addListener",
        Value::dictionary({{"class", className}, {"event", event == RegistryEvent::Terminated ? "terminated" : "matched"}}));
    if (id)
        registryListeners_[id] = std::move(listener);
    return id;
}

void BusMachineLink::removeRegistryListener(std::uint64_t listener)
{
    if (registryListeners_.erase(listener))
        call("registry.removeListener", Value::dictionary({{"listener", listener}}));
}

int BusMachineLink::open(std::uint64_t entry, std::uint32_t type, std::uint64_t* connection)
{
    std::optional<Value> answer = call("entry.open", Value::dictionary({{"entry", entry}, {"type", type}}));
    int r = resultCode(answer, kIOReturnNoDevice);
    if (r == kIOReturnSuccess && connection)
        *connection = static_cast<std::uint64_t>(integerEntry(*answer, "connection").value_or(0));
    return r;
}

int BusMachineLink::close(std::uint64_t entry, std::uint64_t connection)
{
    return resultCode(call("entry.close", Value::dictionary({{"entry", entry}, {"connection", connection}})), kIOReturnNoDevice);
}

int BusMachineLink::callScalar(std::uint64_t entry, std::uint64_t connection, std::uint32_t index,
    const std::vector<std::int64_t>& inputs, std::vector<std::int64_t>& outputs)
{
    std::optional<Value> answer = call("entry.callScalar",
        Value::dictionary({{"entry", entry}, {"connection", connection}, {"index", index}, {"inputs", integers(inputs)},
            {"outputCount", static_cast<unsigned long>(outputs.size())}}));
    int r = resultCode(answer, kIOReturnNoDevice);
    if (r == kIOReturnSuccess) {
        const Value::Array* values = (*answer)["outputs"].arrayValue();
        for (std::size_t i = 0; values && i < outputs.size() && i < values->size(); ++i)
            outputs[i] = (*values)[i].integerOr(0);
    }
    return r;
}

int BusMachineLink::callStructure(std::uint64_t entry, std::uint64_t connection, std::uint32_t index,
    const std::vector<std::int64_t>& inputs, std::vector<std::uint8_t>& structure)
{
    std::optional<Value> answer = call("entry.callStructure",
        Value::dictionary({{"entry", entry}, {"connection", connection}, {"index", index}, {"inputs", integers(inputs)},
            {"size", static_cast<unsigned long>(structure.size())}}));
    int r = resultCode(answer, kIOReturnNoDevice);
    if (r == kIOReturnSuccess) {
        const Value::Bytes* bytes = (*answer)["structure"].bytes();
        std::size_t room = structure.size();
        structure = bytes ? *bytes : Value::Bytes {};
        if (structure.size() > room)
            structure.resize(room);
    }
    return r;
}

Value BusMachineLink::property(std::uint64_t entry, const std::string& key)
{
    std::optional<Value> answer = call("entry.property", Value::dictionary({{"entry", entry}, {"key", key}}));
    return answer ? (*answer)["result"] : Value();
}

int BusMachineLink::setProperties(std::uint64_t entry, const Value& properties)
{
    Value arguments = Value::dictionary({{"entry", entry}});
    if (!properties.isNil())
        arguments.set("properties", properties);
    return resultCode(call("entry.setProperties", arguments), kIOReturnNoDevice);
}

int BusMachineLink::setProperty(std::uint64_t entry, const std::string& key, const Value& value)
{
    Value arguments = Value::dictionary({{"entry", entry}, {"key", key}});
    if (!value.isNil())
        arguments.set("value", value);
    return resultCode(call("entry.setProperty", arguments), kIOReturnNoDevice);
}

int BusMachineLink::setAcceleration(std::uint64_t entry, std::uint64_t connection, const std::string& key, double value)
{
    return resultCode(call("hid.setAcceleration",
                          Value::dictionary({{"entry", entry}, {"connection", connection}, {"key", key}, {"value", value}})),
        kIOReturnNoDevice);
}

// ---- the configuration store

Value BusMachineLink::storeValue(const std::string& key)
{
    std::optional<Value> answer = call("store.value", Value::dictionary({{"key", key}}));
    return answer ? (*answer)["result"] : Value();
}

std::uint64_t BusMachineLink::addStoreWatcher(StoreWatcher watcher)
{
    std::uint64_t id = registered("store.addWatcher", Value::dictionary());
    if (id)
        storeWatchers_[id] = std::move(watcher);
    return id;
}

void BusMachineLink::removeStoreWatcher(std::uint64_t watcher)
{
    if (storeWatchers_.erase(watcher))
        call("store.removeWatcher", Value::dictionary({{"watcher", watcher}}));
}

// ---- system power

std::uint64_t BusMachineLink::addPowerClient(PowerClient client)
{
    std::uint64_t id = registered("power.addClient", Value::dictionary());
    if (id)
        powerClients_[id] = std::move(client);
    return id;
}

void BusMachineLink::removePowerClient(std::uint64_t client)
{
    if (powerClients_.erase(client))
        call("power.removeClient", Value::dictionary({{"client", client}}));
}

bool BusMachineLink::acknowledgePower(std::intptr_t argument)
{
    std::optional<Value> answer = call("power.acknowledge", Value::dictionary({{"argument", static_cast<long long>(argument)}}));
    return answer && booleanEntry(*answer, "result").value_or(false);
}

// ---- processes

std::optional<MachineLink::Process> BusMachineLink::processWithPid(int pid)
{
    std::optional<Value> answer = call("processes.withPid", Value::dictionary({{"pid", pid}}));
    return answer ? machineLinkProcess((*answer)["result"]) : std::nullopt;
}

std::optional<MachineLink::Process> BusMachineLink::processWithSerial(std::uint32_t high, std::uint32_t low)
{
    std::optional<Value> answer = call("processes.withSerial", Value::dictionary({{"high", high}, {"low", low}}));
    return answer ? machineLinkProcess((*answer)["result"]) : std::nullopt;
}

std::optional<MachineLink::Process> BusMachineLink::frontProcess()
{
    std::optional<Value> answer = call("processes.front", Value::dictionary());
    return answer ? machineLinkProcess((*answer)["result"]) : std::nullopt;
}

std::vector<MachineLink::Process> BusMachineLink::applications()
{
    std::vector<Process> out;
    std::optional<Value> answer = call("processes.applications", Value::dictionary());
    if (const Value::Array* list = answer ? (*answer)["result"].arrayValue() : nullptr) {
        for (const Value& item : *list) {
            if (auto p = machineLinkProcess(item))
                out.push_back(std::move(*p));
        }
    }
    return out;
}

std::string BusMachineLink::processListing()
{
    std::optional<Value> answer = call("processes.listing", Value::dictionary());
    return answer ? (*answer)["result"].stringOr({}) : std::string();
}

std::uint64_t BusMachineLink::addApplicationListener(ApplicationListener listener)
{
    std::uint64_t id = registered("processes.addListener", Value::dictionary());
    if (id)
        applicationListeners_[id] = std::move(listener);
    return id;
}

void BusMachineLink::removeApplicationListener(std::uint64_t listener)
{
    if (applicationListeners_.erase(listener))
        call("processes.removeListener", Value::dictionary({{"listener", listener}}));
}

bool BusMachineLink::setHostPid(int pid, int hostPid)
{
    std::optional<Value> answer = callOnOwnConnection("processes.setHostPid", Value::dictionary({{"pid", pid}, {"hostPid", hostPid}}));
    return answer && booleanEntry(*answer, "result").value_or(false);
}

std::optional<Value> BusMachineLink::callOnOwnConnection(const std::string& operation, const Value& arguments)
{
    std::optional<std::string> address = environmentValue(kBusAddressVariable);
    std::optional<std::string> data = binaryPropertyListData(arguments);
    if (!address || !data)
        return std::nullopt;
    try {
        auto connection = sdbus::createSessionBusConnectionWithAddress(*address);
        auto machine = sdbus::createProxy(*connection, service_, kMachineLinkObjectPath);
        auto message = machine->createMethodCall(kMachineLinkInterface, "Call");
        message << operation << bytesOf(*data);
        auto reply = machine->callMethod(message, timeoutMicroseconds());
        std::vector<std::uint8_t> result;
        reply >> result;
        std::optional<Value> decoded = propertyListFromData(viewOf(result));
        if (decoded && decoded->isDictionary())
            return decoded;
        logError("MachineLink error: The answer to \"%s\" is not a property list.\n", operation);
    } catch (const sdbus::Error& error) {
        logError("MachineLink error: No answer to \"%s\" from \"%s\": %s\n", operation, service_, error.getMessage());
    }
    return std::nullopt;
}

// ---- accessibility

bool BusMachineLink::accessibilityEnabled()
{
    std::optional<Value> answer = call("ax.enabled", Value::dictionary());
    return answer && booleanEntry(*answer, "result").value_or(false);
}

bool BusMachineLink::elementExists(const Element& element)
{
    std::optional<Value> answer = call("ax.exists", elementArguments(element));
    return answer && booleanEntry(*answer, "result").value_or(false);
}

int BusMachineLink::copyAttribute(const Element& element, const std::string& name, Attribute& value)
{
    Value arguments = elementArguments(element);
    arguments.set("name", name);
    std::optional<Value> answer = call("ax.copyAttribute", arguments);
    int r = resultCode(answer, kAXErrorCannotComplete);
    if (r != kAXErrorSuccess)
        return r;
    std::optional<Attribute> read = machineLinkAttribute((*answer)["value"]);
    if (!read)
        return kAXErrorCannotComplete;
    value = std::move(*read);
    return r;
}

int BusMachineLink::createObserver(int pid, AXDelivery delivery)
{
    std::optional<Value> answer = call("ax.createObserver", Value::dictionary({{"pid", pid}}));
    int id = answer ? static_cast<int>(integerEntry(*answer, "result").value_or(0)) : 0;
    if (id)
        observers_[id] = std::move(delivery);
    return id;
}

void BusMachineLink::destroyObserver(int observer)
{
    if (observers_.erase(observer))
        call("ax.destroyObserver", Value::dictionary({{"observer", observer}}));
}

int BusMachineLink::addNotification(int observer, const Element& element, const std::string& notification)
{
    Value arguments = elementArguments(element);
    arguments.set("observer", observer);
    arguments.set("notification", notification);
    return resultCode(call("ax.addNotification", arguments), kAXErrorCannotComplete);
}

int BusMachineLink::removeNotification(int observer, const Element& element, const std::string& notification)
{
    Value arguments = elementArguments(element);
    arguments.set("observer", observer);
    arguments.set("notification", notification);
    return resultCode(call("ax.removeNotification", arguments), kAXErrorCannotComplete);
}

// ---- the pointer

std::uint32_t BusMachineLink::buttonState()
{
    std::optional<Value> answer = call("pointer.buttonState", Value::dictionary());
    return answer ? static_cast<std::uint32_t>(integerEntry(*answer, "result").value_or(0)) : 0;
}

void BusMachineLink::warp(double x, double y)
{
    call("pointer.warp", Value::dictionary({{"x", x}, {"y", y}}));
}

void BusMachineLink::setLocalEventsSuppressionInterval(double seconds)
{
    call("pointer.setSuppressionInterval", Value::dictionary({{"seconds", seconds}}));
}

// ---- login sessions

std::optional<MachineLink::Session> BusMachineLink::session(std::uint32_t id)
{
    std::optional<Value> answer = call("sessions.session", Value::dictionary({{"id", id}}));
    return answer ? machineLinkSession((*answer)["result"]) : std::nullopt;
}

std::uint64_t BusMachineLink::addSessionListener(SessionListener listener)
{
    std::uint64_t id = registered("sessions.addListener", Value::dictionary());
    if (id)
        sessionListeners_[id] = std::move(listener);
    return id;
}

void BusMachineLink::removeSessionListener(std::uint64_t listener)
{
    if (sessionListeners_.erase(listener))
        call("sessions.removeListener", Value::dictionary({{"listener", listener}}));
}

// ---- users

std::optional<MachineLink::User> BusMachineLink::userNamed(const std::string& name)
{
    std::optional<Value> answer = call("users.named", Value::dictionary({{"name", name}}));
    return answer ? machineLinkUser((*answer)["result"]) : std::nullopt;
}

std::optional<MachineLink::User> BusMachineLink::userWithId(std::uint32_t uid)
{
    std::optional<Value> answer = call("users.withId", Value::dictionary({{"uid", uid}}));
    return answer ? machineLinkUser((*answer)["result"]) : std::nullopt;
}

std::string BusMachineLink::expandTilde(const std::string& path)
{
    // The service does not know who this program is: the effective id is
    // ours, the user table the machine's.
    if (path.empty() || path[0] != '~')
        return path;
    std::size_t slash = path.find('/');
    std::string name = path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
    std::string rest = slash == std::string::npos ? std::string() : path.substr(slash);
    std::optional<User> user = name.empty() ? userWithId(effectiveUid_) : userNamed(name);
    return user ? user->home + rest : path;
}

std::string BusMachineLink::effectiveUserHome()
{
    std::optional<User> user = userWithId(effectiveUid_);
    return user ? user->home : std::string();
}

// ---- the machine itself

std::string BusMachineLink::hostIdentifier()
{
    std::optional<Value> answer = call("host.identifier", Value::dictionary());
    return answer ? (*answer)["result"].stringOr({}) : std::string();
}

std::uint32_t BusMachineLink::systemVersion()
{
    std::optional<Value> answer = call("system.version", Value::dictionary());
    return answer ? static_cast<std::uint32_t>(integerEntry(*answer, "result").value_or(0)) : 0;
}

void BusMachineLink::appendSystemLog(const std::string& program, int pid, int priority, const std::string& message)
{
    sdbus::IProxy* machine = proxy();
    std::optional<std::string> data = binaryPropertyListData(
        Value::dictionary({{"program", program}, {"pid", pid}, {"priority", priority}, {"message", message}}));
    if (!machine || !data)
        return;
    try {
        auto call = machine->createMethodCall(kMachineLinkInterface, "Call");
        call << std::string("log.append") << bytesOf(*data);
        call.dontExpectReply();
        machine->callMethod(call);
    } catch (const sdbus::Error&) {
        // Nowhere to say so: saying it would be another syslog line.
    }
    newsSource_->signal();
}

// ---- the running program

std::uint32_t BusMachineLink::programSession()
{
    if (!programPid_)
        return 0;
    std::optional<Process> self = processWithPid(programPid_);
    return self ? self->session : 0;
}
