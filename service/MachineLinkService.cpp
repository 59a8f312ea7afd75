#include "service/MachineLinkService.h"

#include "Accessibility/AXError.h"
#include "Bus/BusPeerCredentials.h"
#include "Foundation/PropertyList.h"
#include "IOKit/IOReturn.h"
#include "Log/Log.h"
#include "MachineLink/LocalMachineLink.h"
#include "MachineLink/MachineLinkCoding.h"
#include "MachineLink/MachineLinkProtocol.h"
#include "machine/Machine.h"

#include <sdbus-c++/sdbus-c++.h>

#include <fstream>
#include <functional>
#include <limits>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::uint8_t> bytesOf(const std::string& data)
{
    return std::vector<std::uint8_t>(data.begin(), data.end());
}

std::string_view viewOf(const std::vector<std::uint8_t>& bytes)
{
    return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

Value answer(Value result)
{
    Value out = Value::dictionary();
    if (!result.isNil())
        out.set("result", std::move(result));
    return out;
}

template <class T>
Value answerOptional(const std::optional<T>& item)
{
    return item ? answer(machineLinkValue(*item)) : Value::dictionary();
}

// The parent of a host process, 0 when it cannot be read.
int hostParentPid(int pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // "pid (command) state ppid ...": the command may hold anything.
    std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 1));
    std::string state;
    int parent = 0;
    return fields >> state >> parent ? parent : 0;
}

} // namespace

// Reads a call's argument entries; the first missing entry or entry of the
// wrong kind spoils the call, which then gets an error reply.
class MachineLinkService::Arguments {
public:
    Arguments(const std::string& caller, std::optional<std::uint32_t> uid, int hostPid, const Value& values)
        : caller_(caller), uid_(uid), hostPid_(hostPid), values_(values)
    {
    }
    // The unique bus name of the program that called, its user id (as the
    // machine takes it) and its host process, as the bus knows them.
    const std::string& caller() const { return caller_; }
    std::optional<std::uint32_t> callerUid() const { return uid_; }
    int callerHostPid() const { return hostPid_; }
    bool ok() const { return ok_; }

    std::int64_t integer(std::string_view key, std::int64_t low, std::int64_t high)
    {
        auto v = integerEntry(values_, key);
        if (!v || *v < low || *v > high) {
            ok_ = false;
            return 0;
        }
        return *v;
    }
    std::uint64_t id(std::string_view key)
    {
        return static_cast<std::uint64_t>(integer(key, 0, std::numeric_limits<std::int64_t>::max()));
    }
    std::uint32_t u32(std::string_view key)
    {
        return static_cast<std::uint32_t>(integer(key, 0, std::numeric_limits<std::uint32_t>::max()));
    }
    int i32(std::string_view key)
    {
        return static_cast<int>(integer(key, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
    }
    double real(std::string_view key)
    {
        auto v = realEntry(values_, key);
        if (!v) {
            ok_ = false;
            return 0;
        }
        return *v;
    }
    std::string string(std::string_view key)
    {
        const std::string* s = stringEntry(values_, key);
        if (!s) {
            ok_ = false;
            return {};
        }
        return *s;
    }
    std::vector<std::int64_t> integers(std::string_view key)
    {
        std::vector<std::int64_t> out;
        const Value::Array* items = values_[key].arrayValue();
        if (!items || items->size() > kMachineLinkMaxScalarOutputs) {
            ok_ = false;
            return out;
        }
        for (const Value& item : *items) {
            if (!item.isInteger()) {
                ok_ = false;
                return {};
            }
            out.push_back(*item.integer());
        }
        return out;
    }
    // Any value, nil when absent.
    const Value& value(std::string_view key) const { return values_[key]; }

private:
    const std::string& caller_;
    std::optional<std::uint32_t> uid_;
    int hostPid_;
    const Value& values_;
    bool ok_ = true;
};

MachineLinkService::MachineLinkService(sdbus::IConnection& connection)
    : MachineLinkService(connection, machine::Machine::shared())
{
}

MachineLinkService::MachineLinkService(sdbus::IConnection& connection, machine::Machine& machine)
    : connection_(connection), link_(std::make_unique<LocalMachineLink>(machine))
{
    makeHandlers();
    credentials_ = std::make_unique<BusPeerCredentials>(connection_);
    object_ = sdbus::createObject(connection_, kMachineLinkObjectPath);
    object_->registerMethod(kMachineLinkInterface, "Call", "say", "ay", [this](sdbus::MethodCall call) {
        std::string operation;
        std::vector<std::uint8_t> data;
        try {
            call >> operation >> data;
        } catch (const sdbus::Error&) {
            call.createErrorReply(sdbus::Error(kMachineLinkBadArgumentsError, "Call takes an operation and property-list data")).send();
            return;
        }
        if (data.size() > kMachineLinkMaxArgumentBytes) {
            call.createErrorReply(sdbus::Error(kMachineLinkBadArgumentsError, "The arguments are too large")).send();
            return;
        }
        std::optional<Value> arguments = propertyListFromData(viewOf(data));
        if (!arguments || !arguments->isDictionary()) {
            call.createErrorReply(sdbus::Error(kMachineLinkBadArgumentsError, "The arguments are not a property-list dictionary")).send();
            return;
        }
        bool known = false;
        std::optional<Value> result = dispatch(call.getSender(), operation, *arguments, &known);
        if (!known) {
            call.createErrorReply(sdbus::Error(kMachineLinkUnknownOperationError, "No such operation: " + operation)).send();
            return;
        }
        if (!result) {
            call.createErrorReply(sdbus::Error(kMachineLinkBadArgumentsError, "Wrong or missing arguments for " + operation)).send();
            return;
        }
        std::optional<std::string> encoded = binaryPropertyListData(*result);
        if (!encoded) {
            call.createErrorReply(sdbus::Error(kMachineLinkBadArgumentsError, "The result cannot travel")).send();
            return;
        }
        if (call.doesntExpectReply())
            return;
        auto reply = call.createReply();
        reply << bytesOf(*encoded);
        reply.send();
    });
    object_->registerSignal(kMachineLinkInterface, "Event", "say");
    object_->finishRegistration();

    std::string rule = "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',member='NameOwnerChanged'";
    auto slot = connection_.addMatch(rule, [this](sdbus::Message& message) {
        std::string name, oldOwner, newOwner;
        try {
            message >> name >> oldOwner >> newOwner;
        } catch (const sdbus::Error&) {
            return;
        }
        if (!name.empty() && name[0] == ':' && newOwner.empty())
            callerLeft(name);
    });
    ownerWatch_ = std::shared_ptr<void>(std::move(slot));
}

MachineLinkService::~MachineLinkService()
{
    ownerWatch_.reset();
    std::vector<std::string> callers;
    for (const auto& [caller, owned] : owned_)
        callers.push_back(caller);
    for (const auto& caller : callers)
        callerLeft(caller);
}

std::size_t MachineLinkService::registrationCount() const
{
    std::size_t count = 0;
    for (const auto& [caller, owned] : owned_)
        count += owned.registrations.size() + owned.connections.size();
    return count;
}

void MachineLinkService::emit(const char* kind, const Value& payload)
{
    std::optional<std::string> data = binaryPropertyListData(payload);
    if (!data || !object_)
        return;
    try {
        object_->emitSignal("Event").onInterface(kMachineLinkInterface).withArguments(std::string(kind), bytesOf(*data));
    } catch (const sdbus::Error& error) {
        logError("MachineLinkService error: Unable to send \"%s\" news: %s\n", kind, error.getMessage());
    }
}

void MachineLinkService::own(const std::string& caller, Kind kind, std::uint64_t id)
{
    if (id)
        owned_[caller].registrations.insert({kind, id});
}

bool MachineLinkService::owns(const std::string& caller, Kind kind, std::uint64_t id) const
{
    auto it = owned_.find(caller);
    return it != owned_.end() && it->second.registrations.count({kind, id});
}

void MachineLinkService::disown(const std::string& caller, Kind kind, std::uint64_t id)
{
    auto it = owned_.find(caller);
    if (it == owned_.end())
        return;
    it->second.registrations.erase({kind, id});
    if (it->second.registrations.empty() && it->second.connections.empty())
        owned_.erase(it);
}

void MachineLinkService::end(Kind kind, std::uint64_t id)
{
    switch (kind) {
    case Kind::Registry: link_->removeRegistryListener(id); break;
    case Kind::Store: link_->removeStoreWatcher(id); break;
    case Kind::Power: link_->removePowerClient(id); break;
    case Kind::Application: link_->removeApplicationListener(id); break;
    case Kind::Session: link_->removeSessionListener(id); break;
    case Kind::Observer: link_->destroyObserver(static_cast<int>(id)); break;
    case Kind::DriverConnection: break;
    }
}

void MachineLinkService::callerLeft(const std::string& caller)
{
    auto it = owned_.find(caller);
    if (it == owned_.end())
        return;
    Owned owned = std::move(it->second);
    owned_.erase(it);
    for (const auto& [kind, id] : owned.registrations)
        end(kind, id);
    for (const auto& [entry, connection] : owned.connections)
        link_->close(entry, connection);
}

MachineLinkService::Handler MachineLinkService::removal(Kind kind, const char* key)
{
    // Only the caller that made a registration can end it; anyone else's
    // attempt is answered the same and changes nothing.
    return [this, kind, key](Arguments& a) -> std::optional<Value> {
        std::uint64_t id = a.id(key);
        if (!a.ok())
            return std::nullopt;
        if (owns(a.caller(), kind, id)) {
            disown(a.caller(), kind, id);
            end(kind, id);
        }
        return Value::dictionary();
    };
}

void MachineLinkService::makeHandlers()
{
    // Each handler reads every entry first and acts only when all are good.
    handlers_ = {
        {"registry.matching",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                std::string className = a.string("class");
                if (!a.ok())
                    return std::nullopt;
                Value::Array entries;
                for (std::uint64_t entry : m.matchingServices(className))
                    entries.emplace_back(entry);
                return answer(Value(std::move(entries)));
            }},
        {"registry.isActive",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                std::uint64_t entry = a.id("entry");
                return a.ok() ? std::optional(answer(m.isActive(entry))) : std::nullopt;
            }},
        {"registry.className",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                std::uint64_t entry = a.id("entry");
                return a.ok() ? std::optional(answer(m.className(entry))) : std::nullopt;
            }},
        {"registry.addListener",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                std::string className = a.string("class");
                std::string event = a.string("event");
                if (!a.ok() || (event != "matched" && event != "terminated"))
                    return std::nullopt;
                auto id = std::make_shared<std::uint64_t>(0);
                *id = m.addRegistryListener(className,
                    event == "terminated" ? MachineLink::RegistryEvent::Terminated : MachineLink::RegistryEvent::Matched,
                    [this, id](std::uint64_t entry) { emit(kMachineEventRegistry, Value::dictionary({{"listener", *id}, {"entry", entry}})); });
                own(a.caller(), Kind::Registry, *id);
                return answer(*id);
            }},
        {"registry.removeListener", removal(Kind::Registry, "listener")},
        {"entry.open",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                std::uint64_t entry = a.id("entry");
                std::uint32_t type = a.u32("type");
                if (!a.ok())
                    return std::nullopt;
                std::uint64_t connection = 0;
                int r = m.open(entry, type, &connection);
                Value out = answer(r);
                if (r == kIOReturnSuccess) {
                    out.set("connection", connection);
                    owned_[a.caller()].connections.insert({entry, connection});
                }
                return out;
            }},
        {"entry.close",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                std::uint64_t entry = a.id("entry");
                std::uint64_t connection = a.id("connection");
                if (!a.ok())
                    return std::nullopt;
                int r = m.close(entry, connection);
                if (auto it = owned_.find(a.caller()); it != owned_.end()) {
                    it->second.connections.erase({entry, connection});
                    if (it->second.registrations.empty() && it->second.connections.empty())
                        owned_.erase(it);
                }
                return answer(r);
            }},
        {"entry.callScalar",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                std::uint64_t entry = a.id("entry");
                std::uint64_t connection = a.id("connection");
                std::uint32_t index = a.u32("index");
                std::vector<std::int64_t> inputs = a.integers("inputs");
                auto count = static_cast<std::size_t>(a.integer("outputCount", 0, kMachineLinkMaxScalarOutputs));
                if (!a.ok())
                    return std::nullopt;
                std::vector<std::int64_t> outputs(count, 0);
                int r = m.callScalar(entry, connection, index, inputs, outputs);
                Value::Array list;
                for (std::int64_t v : outputs)
                    list.emplace_back(static_cast<long long>(v));
                Value out = answer(r);
                out.set("outputs", Value(std::move(list)));
                return out;
            }},
        {"entry.callStructure",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                std::uint64_t entry = a.id("entry");
                std::uint64_t connection = a.id("connection");
                std::uint32_t index = a.u32("index");
                std::vector<std::int64_t> inputs = a.integers("inputs");
                auto size = static_cast<std::size_t>(a.integer("size", 0, kMachineLinkMaxStructureBytes));
                if (!a.ok())
                    return std::nullopt;
                std::vector<std::uint8_t> structure(size, 0);
                int r = m.callStructure(entry, connection, index, inputs, structure);
                Value out = answer(r);
                out.set("structure", Value::data(r == kIOReturnSuccess ? structure : Value::Bytes {}));
                return out;
            }},
        {"entry.property",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                std::uint64_t entry = a.id("entry");
                std::string key = a.string("key");
                return a.ok() ? std::optional(answer(m.property(entry, key))) : std::nullopt;
            }},
        {"entry.setProperties",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                std::uint64_t entry = a.id("entry");
                return a.ok() ? std::optional(answer(m.setProperties(entry, a.value("properties")))) : std::nullopt;
            }},
        {"entry.setProperty",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                std::uint64_t entry = a.id("entry");
                std::string key = a.string("key");
                return a.ok() ? std::optional(answer(m.setProperty(entry, key, a.value("value")))) : std::nullopt;
            }},
        {"hid.setAcceleration",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                std::uint64_t entry = a.id("entry");
                std::uint64_t connection = a.id("connection");
                std::string key = a.string("key");
                double value = a.real("value");
                return a.ok() ? std::optional(answer(m.setAcceleration(entry, connection, key, value))) : std::nullopt;
            }},
        {"store.value",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                std::string key = a.string("key");
                return a.ok() ? std::optional(answer(m.storeValue(key))) : std::nullopt;
            }},
        {"store.addWatcher",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                auto id = std::make_shared<std::uint64_t>(0);
                *id = m.addStoreWatcher([this, id](const std::string& key) {
                    emit(kMachineEventStore, Value::dictionary({{"watcher", *id}, {"key", key}}));
                });
                own(a.caller(), Kind::Store, *id);
                return answer(*id);
            }},
        {"store.removeWatcher", removal(Kind::Store, "watcher")},
        {"power.addClient",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                auto id = std::make_shared<std::uint64_t>(0);
                *id = m.addPowerClient([this, id](std::uint32_t type, std::intptr_t argument) {
                    emit(kMachineEventPower,
                        Value::dictionary({{"client", *id}, {"type", type}, {"argument", static_cast<long long>(argument)}}));
                });
                own(a.caller(), Kind::Power, *id);
                return answer(*id);
            }},
        {"power.removeClient", removal(Kind::Power, "client")},
        {"power.acknowledge",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                auto argument = a.integer("argument", std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max());
                return a.ok() ? std::optional(answer(m.acknowledgePower(static_cast<std::intptr_t>(argument)))) : std::nullopt;
            }},
        {"processes.withPid",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                int pid = a.i32("pid");
                return a.ok() ? std::optional(answerOptional(m.processWithPid(pid))) : std::nullopt;
            }},
        {"processes.withSerial",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                std::uint32_t high = a.u32("high");
                std::uint32_t low = a.u32("low");
                return a.ok() ? std::optional(answerOptional(m.processWithSerial(high, low))) : std::nullopt;
            }},
        {"processes.front", [&m = *link_](Arguments&) -> std::optional<Value> { return answerOptional(m.frontProcess()); }},
        {"processes.applications",
            [&m = *link_](Arguments&) -> std::optional<Value> {
                Value::Array list;
                for (const auto& p : m.applications())
                    list.push_back(machineLinkValue(p));
                return answer(Value(std::move(list)));
            }},
        {"processes.listing", [&m = *link_](Arguments&) -> std::optional<Value> { return answer(m.processListing()); }},
        {"processes.addListener",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                auto id = std::make_shared<std::uint64_t>(0);
                *id = m.addApplicationListener(
                    [this, id](MachineLink::ApplicationEventKind kind, std::uint32_t high, std::uint32_t low) {
                        emit(kMachineEventApplication,
                            Value::dictionary({{"listener", *id}, {"kind", static_cast<int>(kind)}, {"high", high}, {"low", low}}));
                    });
                own(a.caller(), Kind::Application, *id);
                return answer(*id);
            }},
        {"processes.removeListener", removal(Kind::Application, "listener")},
        {"processes.setHostPid",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                int pid = a.i32("pid");
                int hostPid = a.i32("hostPid");
                if (!a.ok())
                    return std::nullopt;
                // Anyone else could point the machine's quit, and its
                // trust in the programs it started, at a process of their
                // choosing.
                const machine::Process* process = m.machine().processes().processWithPid(pid);
                bool fromItsNewProcess = process && process->hostPid > 0 && hostPid > 0 && a.callerHostPid() == hostPid
                    && hostParentPid(hostPid) == process->hostPid;
                return answer(fromItsNewProcess && m.setHostPid(pid, hostPid));
            }},
        {"ax.enabled", [&m = *link_](Arguments&) -> std::optional<Value> { return answer(m.accessibilityEnabled()); }},
        {"ax.exists",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                MachineLink::Element element {a.i32("pid"), a.id("element")};
                return a.ok() ? std::optional(answer(m.elementExists(element))) : std::nullopt;
            }},
        {"ax.copyAttribute",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                MachineLink::Element element {a.i32("pid"), a.id("element")};
                std::string name = a.string("name");
                if (!a.ok())
                    return std::nullopt;
                MachineLink::Attribute value;
                int r = m.copyAttribute(element, name, value);
                Value out = answer(r);
                if (r == kAXErrorSuccess)
                    out.set("value", machineLinkValue(value));
                return out;
            }},
        {"ax.createObserver",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                int pid = a.i32("pid");
                if (!a.ok())
                    return std::nullopt;
                auto id = std::make_shared<int>(0);
                *id = m.createObserver(pid, [this, id](const MachineLink::Element& element, const std::string& notification) {
                    emit(kMachineEventAccessibility, Value::dictionary({{"observer", *id}, {"pid", element.pid},
                                                         {"element", element.element}, {"notification", notification}}));
                });
                own(a.caller(), Kind::Observer, static_cast<std::uint64_t>(*id));
                return answer(*id);
            }},
        {"ax.destroyObserver", removal(Kind::Observer, "observer")},
        {"ax.addNotification",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                int observer = a.i32("observer");
                MachineLink::Element element {a.i32("pid"), a.id("element")};
                std::string notification = a.string("notification");
                if (!a.ok())
                    return std::nullopt;
                if (observer <= 0 || !owns(a.caller(), Kind::Observer, static_cast<std::uint64_t>(observer)))
                    return answer(kAXErrorInvalidUIElementObserver);
                return answer(m.addNotification(observer, element, notification));
            }},
        {"ax.removeNotification",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                int observer = a.i32("observer");
                MachineLink::Element element {a.i32("pid"), a.id("element")};
                std::string notification = a.string("notification");
                if (!a.ok())
                    return std::nullopt;
                if (observer <= 0 || !owns(a.caller(), Kind::Observer, static_cast<std::uint64_t>(observer)))
                    return answer(kAXErrorInvalidUIElementObserver);
                return answer(m.removeNotification(observer, element, notification));
            }},
        {"pointer.buttonState", [&m = *link_](Arguments&) -> std::optional<Value> { return answer(m.buttonState()); }},
        {"pointer.warp",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                double x = a.real("x");
                double y = a.real("y");
                if (!a.ok())
                    return std::nullopt;
                m.warp(x, y);
                return Value::dictionary();
            }},
        {"pointer.setSuppressionInterval",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                double seconds = a.real("seconds");
                if (!a.ok() || !(seconds >= 0))
                    return std::nullopt;
                m.setLocalEventsSuppressionInterval(seconds);
                return Value::dictionary();
            }},
        {"sessions.session",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                std::uint32_t id = a.u32("id");
                return a.ok() ? std::optional(answerOptional(m.session(id))) : std::nullopt;
            }},
        {"sessions.addListener",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                auto id = std::make_shared<std::uint64_t>(0);
                *id = m.addSessionListener([this, id](std::uint32_t resigned, std::uint32_t activated) {
                    emit(kMachineEventSession, Value::dictionary({{"listener", *id}, {"resigned", resigned}, {"activated", activated}}));
                });
                own(a.caller(), Kind::Session, *id);
                return answer(*id);
            }},
        {"sessions.removeListener", removal(Kind::Session, "listener")},
        {"users.named",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                std::string name = a.string("name");
                return a.ok() ? std::optional(answerOptional(m.userNamed(name))) : std::nullopt;
            }},
        {"users.withId",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                std::uint32_t uid = a.u32("uid");
                return a.ok() ? std::optional(answerOptional(m.userWithId(uid))) : std::nullopt;
            }},
        {"host.identifier", [&m = *link_](Arguments&) -> std::optional<Value> { return answer(m.hostIdentifier()); }},
        {"system.version", [&m = *link_](Arguments&) -> std::optional<Value> { return answer(m.systemVersion()); }},
        {"program.identity",
            [](Arguments& a) -> std::optional<Value> {
                return a.callerUid() ? std::optional(answer(*a.callerUid())) : std::nullopt;
            }},
        {"log.append",
            [this, &m = *link_](Arguments& a) -> std::optional<Value> {
                std::string program = a.string("program");
                int pid = a.i32("pid");
                int priority = static_cast<int>(a.integer("priority", 0, 7));
                std::string message = a.string("message");
                if (!a.ok())
                    return std::nullopt;
                m.appendSystemLog(program, pid, priority, message);
                return Value::dictionary();
            }},
    };
}

std::optional<Value> MachineLinkService::dispatch(
    const std::string& caller, const std::string& operation, const Value& values, bool* known)
{
    auto it = handlers_.find(operation);
    *known = it != handlers_.end();
    if (!*known)
        return std::nullopt;
    std::optional<BusPeerCredentials::Peer> peer = credentials_->peer(caller);
    std::optional<std::uint32_t> uid;
    if (peer)
        uid = userIdOf(peer->pid, peer->uid);
    Arguments arguments(caller, uid, peer ? peer->pid : 0, values);
    // A caller the bus cannot name is nobody: no user has this id.
    link_->setCallerUserId(uid.value_or(0xFFFFFFFF));
    std::optional<Value> result = it->second(arguments);
    link_->setCallerUserId(std::nullopt);
    return result;
}

std::uint32_t MachineLinkService::userIdOf(int hostPid, std::uint32_t busUid) const
{
    // A program running with the service's own user may be one the service
    // started without being able to switch to its user: that one is who the
    // service meant it to be. Every other program is who the bus says.
    if (busUid == static_cast<std::uint32_t>(::geteuid())) {
        if (const machine::Process* process = link_->machine().processes().processWithHostPid(hostPid))
            return process->uid;
    }
    return busUid;
}
