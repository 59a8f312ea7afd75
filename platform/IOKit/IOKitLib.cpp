#include "IOKit/IOKitLib.h"

#include "IOKit/IOKitInternal.h"

#include "MachineLink/MachineLink.h"
#include "RunLoop/RunLoop.h"

#include <cstdarg>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <vector>

using RegistryEntryID = std::uint64_t;

struct IONotificationPort {
    CFRunLoopSourceRef source;
    // One entry per change, in order: the iterator that heard it, or a
    // message for an interest callback (system power).
    struct Event {
        io_iterator_t iterator = 0;
        std::function<void()> message;
    };
    std::deque<Event> events;
};

namespace {

constexpr mach_port_t kTaskSelf = 0x103;

struct Object {
    enum class Kind { MasterPort, Service, Iterator, Connection, Opaque };
    explicit Object(Kind k) : kind(k) {}
    Kind kind;
    int references = 1;
    RegistryEntryID entry = 0;             // service, connection
    std::uint64_t machineConnection = 0;   // connection
    // Iterator of a matching notification.
    std::deque<RegistryEntryID> pending;
    // Every entry the iterator ever held: an entry id is never reused, so
    // none is told twice.
    std::set<RegistryEntryID> told;
    bool armed = false;
    std::uint64_t listener = 0;
    IOServiceMatchingCallback callback = nullptr;
    void* refCon = nullptr;
    IONotificationPortRef port = nullptr;
    // Opaque handles (power registrations) say what giving them back does.
    std::function<void()> onForget;
};

struct Table {
    std::map<mach_port_t, Object> objects;
    std::set<IONotificationPortRef> ports;
    // Names keep counting up across resets, so a stale handle never names a
    // new object.
    mach_port_t next = 0x1003;
};

Table& table()
{
    // Never destroyed: handles given back while the program exits still
    // find their table.
    static Table* t = new Table;
    return *t;
}

MachineLink& theMachine()
{
    return MachineLink::shared();
}

mach_port_t addObject(Object object)
{
    auto& t = table();
    mach_port_t name = t.next;
    t.next += 4;
    t.objects.emplace(name, std::move(object));
    return name;
}

Object* find(io_object_t name, Object::Kind kind)
{
    auto& t = table();
    auto it = t.objects.find(name);
    if (it == t.objects.end() || it->second.kind != kind)
        return nullptr;
    return &it->second;
}

bool isPort(IONotificationPortRef port)
{
    return port && table().ports.count(port);
}

void forget(io_object_t name)
{
    auto& t = table();
    auto it = t.objects.find(name);
    if (it == t.objects.end())
        return;
    Object object = std::move(it->second);
    t.objects.erase(it);
    switch (object.kind) {
    case Object::Kind::Iterator: theMachine().unsubscribe(ops::registryListener, object.listener); break;
    case Object::Kind::Connection: theMachine().call(ops::entryClose, object.entry, object.machineConnection); break;
    case Object::Kind::Opaque:
        if (object.onForget)
            object.onForget();
        break;
    default: break;
    }
}

// The notification port's run-loop source: each queued change calls its
// iterator's callback, if the iterator is armed and still holds services.
void deliver(IONotificationPortRef port)
{
    while (isPort(port) && !port->events.empty()) {
        IONotificationPort::Event event = std::move(port->events.front());
        port->events.pop_front();
        if (event.message) {
            event.message();
            continue;
        }
        io_iterator_t name = event.iterator;
        Object* iterator = find(name, Object::Kind::Iterator);
        if (!iterator || !iterator->armed || iterator->pending.empty() || !iterator->callback)
            continue;
        iterator->armed = false;
        IOServiceMatchingCallback callback = iterator->callback;
        void* refCon = iterator->refCon;
        callback(refCon, name);
    }
}

void heard(io_iterator_t name, RegistryEntryID entry)
{
    Object* iterator = find(name, Object::Kind::Iterator);
    if (!iterator || !iterator->told.insert(entry).second)
        return;
    iterator->pending.push_back(entry);
    IONotificationPortRef port = iterator->port;
    if (!isPort(port))
        return;
    port->events.push_back({name, {}});
    if (port->source)
        port->source->signal();
}

std::string matchingClass(const Value& matching)
{
    const std::string* name = matching[kIOProviderClassKey].string();
    return name ? *name : std::string();
}

} // namespace

mach_port_t mach_task_self()
{
    return kTaskSelf;
}

kern_return_t mach_port_deallocate(mach_port_t, mach_port_t name)
{
    if (!table().objects.count(name))
        return KERN_INVALID_ARGUMENT;
    forget(name);
    return KERN_SUCCESS;
}

kern_return_t IOMasterPort(mach_port_t, mach_port_t* masterPort)
{
    if (!masterPort)
        return kIOReturnBadArgument;
    *masterPort = MACH_PORT_NULL;
    if (int r = theMachine().take("IOMasterPort"))
        return r;
    *masterPort = addObject(Object(Object::Kind::MasterPort));
    return KERN_SUCCESS;
}

IONotificationPortRef IONotificationPortCreate(mach_port_t masterPort)
{
    if (!find(masterPort, Object::Kind::MasterPort) || theMachine().take("IONotificationPortCreate"))
        return nullptr;
    auto* port = new IONotificationPort;
    table().ports.insert(port);
    return port;
}

void IONotificationPortDestroy(IONotificationPortRef notifyPort)
{
    auto& t = table();
    if (!isPort(notifyPort))
        return;
    if (notifyPort->source)
        notifyPort->source->invalidate();
    for (auto& [name, object] : t.objects) {
        if (object.kind == Object::Kind::Iterator && object.port == notifyPort)
            object.port = nullptr;
    }
    t.ports.erase(notifyPort);
    delete notifyPort;
}

CFRunLoopSourceRef IONotificationPortGetRunLoopSource(IONotificationPortRef notifyPort)
{
    if (!isPort(notifyPort) || theMachine().take("IONotificationPortGetRunLoopSource"))
        return nullptr;
    if (!notifyPort->source) {
        notifyPort->source = RunLoopSource::create([notifyPort] { deliver(notifyPort); });
        if (!notifyPort->events.empty())
            notifyPort->source->signal();
    }
    return notifyPort->source;
}

Value IOServiceMatching(const char* name)
{
    if (!name || theMachine().take("IOServiceMatching"))
        return {};
    return Value::dictionary({{kIOProviderClassKey, name}});
}

kern_return_t IOServiceAddMatchingNotification(IONotificationPortRef notifyPort, const char* notificationType,
    const Value& matching, IOServiceMatchingCallback callback, void* refCon, io_iterator_t* notification)
{
    if (notification)
        *notification = 0;
    if (!isPort(notifyPort) || !notificationType || !notification)
        return kIOReturnBadArgument;
    std::string type = notificationType;
    if (int r = theMachine().take("IOServiceAddMatchingNotification", type))
        return r;
    std::string className = matchingClass(matching);
    bool terminated = type == kIOTerminatedNotification;
    bool matched = type == kIOMatchedNotification || type == kIOFirstMatchNotification || type == kIOPublishNotification
        || type == kIOFirstPublishNotification;
    if (className.empty() || (!terminated && !matched))
        return kIOReturnBadArgument;

    MachineLink& link = theMachine();
    Object iterator(Object::Kind::Iterator);
    iterator.callback = callback;
    iterator.refCon = refCon;
    iterator.port = notifyPort;
    io_iterator_t name = addObject(std::move(iterator));
    // Listen first, then take what already matches: over the bus a service
    // registered in between is then heard of (twice, and kept once) rather
    // than missed.
    find(name, Object::Kind::Iterator)->listener = link.subscribe(ops::registryListener,
        [name](RegistryEntryID entry) { heard(name, entry); }, className,
        terminated ? machine::RegistryEvent::Terminated : machine::RegistryEvent::Matched);
    if (matched) {
        Object* created = find(name, Object::Kind::Iterator);
        for (RegistryEntryID entry : link.call(ops::registryMatching, className)) {
            if (created->told.insert(entry).second)
                created->pending.push_back(entry);
        }
    }
    *notification = name;
    return kIOReturnSuccess;
}

io_service_t IOServiceGetMatchingService(mach_port_t, const Value& matching)
{
    auto services = theMachine().call(ops::registryMatching, matchingClass(matching));
    if (services.empty())
        return 0;
    Object service(Object::Kind::Service);
    service.entry = services.front();
    return addObject(std::move(service));
}

io_object_t IOIteratorNext(io_iterator_t iterator)
{
    Object* it = find(iterator, Object::Kind::Iterator);
    if (!it)
        return 0;
    if (it->pending.empty()) {
        // Reaching the end is what arms the notification.
        it->armed = true;
        return 0;
    }
    RegistryEntryID entry = it->pending.front();
    it->pending.pop_front();
    Object service(Object::Kind::Service);
    service.entry = entry;
    return addObject(std::move(service));
}

kern_return_t IOObjectRetain(io_object_t object)
{
    auto& t = table();
    auto it = t.objects.find(object);
    if (it == t.objects.end())
        return kIOReturnBadArgument;
    ++it->second.references;
    return kIOReturnSuccess;
}

kern_return_t IOObjectRelease(io_object_t object)
{
    auto& t = table();
    auto it = t.objects.find(object);
    if (it == t.objects.end())
        return kIOReturnBadArgument;
    if (--it->second.references <= 0)
        forget(object);
    return kIOReturnSuccess;
}

kern_return_t IOServiceOpen(io_service_t service, task_port_t, std::uint32_t type, io_connect_t* connect)
{
    if (connect)
        *connect = 0;
    Object* object = find(service, Object::Kind::Service);
    if (!object || !connect)
        return kIOReturnBadArgument;
    RegistryEntryID entry = object->entry;
    auto [r, machineConnection] = theMachine().call(ops::entryOpen, entry, type);
    if (r != kIOReturnSuccess)
        return r;
    Object connection(Object::Kind::Connection);
    connection.entry = entry;
    connection.machineConnection = machineConnection;
    *connect = addObject(std::move(connection));
    return kIOReturnSuccess;
}

kern_return_t IOServiceClose(io_connect_t connect)
{
    Object* object = find(connect, Object::Kind::Connection);
    if (!object)
        return kIOReturnBadArgument;
    forget(connect);
    return kIOReturnSuccess;
}

kern_return_t IOConnectMethodScalarIScalarO(io_connect_t connect, std::uint32_t index, IOItemCount scalarInputCount,
    IOItemCount scalarOutputCount, ...)
{
    std::vector<std::int64_t> inputs;
    std::vector<int*> outputAddresses;
    va_list arguments;
    va_start(arguments, scalarOutputCount);
    for (IOItemCount i = 0; i < scalarInputCount; ++i)
        inputs.push_back(va_arg(arguments, int));
    for (IOItemCount i = 0; i < scalarOutputCount; ++i)
        outputAddresses.push_back(va_arg(arguments, int*));
    va_end(arguments);

    Object* object = find(connect, Object::Kind::Connection);
    if (!object)
        return kIOReturnBadArgument;
    auto [r, outputs] = theMachine().call(ops::entryCallScalar, object->entry, object->machineConnection, index, inputs, scalarOutputCount);
    if (r == kIOReturnSuccess) {
        // An output the machine did not give stays as the caller had it.
        for (std::size_t i = 0; i < outputAddresses.size() && i < outputs.size(); ++i) {
            if (outputAddresses[i])
                *outputAddresses[i] = static_cast<int>(outputs[i]);
        }
    }
    return r;
}

kern_return_t IOConnectMethodScalarIStructureO(io_connect_t connect, std::uint32_t index, IOItemCount scalarInputCount,
    IOByteCount* structureSize, ...)
{
    std::vector<std::int64_t> inputs;
    va_list arguments;
    va_start(arguments, structureSize);
    for (IOItemCount i = 0; i < scalarInputCount; ++i)
        inputs.push_back(va_arg(arguments, int));
    void* structure = va_arg(arguments, void*);
    va_end(arguments);

    Object* object = find(connect, Object::Kind::Connection);
    if (!object || !structureSize || (*structureSize && !structure))
        return kIOReturnBadArgument;
    auto [r, bytes] = theMachine().call(ops::entryCallStructure, object->entry, object->machineConnection, index, inputs, *structureSize);
    if (r == kIOReturnSuccess) {
        std::size_t written = std::min<std::size_t>(bytes.size(), *structureSize);
        if (written)
            std::memcpy(structure, bytes.data(), written);
        *structureSize = static_cast<IOByteCount>(written);
    }
    return r;
}

namespace {

// The registry entry a service handle names, or 0 (with the result to
// answer) when the handle is no service.
RegistryEntryID entryOf(io_registry_entry_t entry, IOReturn* result)
{
    Object* object = find(entry, Object::Kind::Service);
    *result = object ? kIOReturnSuccess : kIOReturnBadArgument;
    return object ? object->entry : 0;
}

} // namespace

kern_return_t IORegistryEntrySetCFProperties(io_registry_entry_t entry, const Value& properties)
{
    IOReturn r;
    RegistryEntryID id = entryOf(entry, &r);
    return id ? IOReturn(theMachine().call(ops::entrySetProperties, id, properties)) : r;
}

kern_return_t IORegistryEntrySetCFProperty(io_registry_entry_t entry, const std::string& propertyName, const Value& property)
{
    IOReturn r;
    RegistryEntryID id = entryOf(entry, &r);
    return id ? IOReturn(theMachine().call(ops::entrySetProperty, id, propertyName, property)) : r;
}

Value IORegistryEntryCreateCFProperty(io_registry_entry_t entry, const std::string& key, CFAllocatorRef, IOOptionBits)
{
    IOReturn r;
    RegistryEntryID id = entryOf(entry, &r);
    if (!id || !theMachine().call(ops::registryIsActive, id) || theMachine().take("IORegistryEntryCreateCFProperty"))
        return {};
    return theMachine().call(ops::entryProperty, id, key);
}

// ---- for the other I/O Kit shims

void iokitPostMessage(IONotificationPortRef port, std::function<void()> message)
{
    if (!isPort(port) || !message)
        return;
    port->events.push_back({0, std::move(message)});
    if (port->source)
        port->source->signal();
}

mach_port_t iokitAddOpaqueHandle(std::function<void()> onForget)
{
    Object object(Object::Kind::Opaque);
    object.onForget = std::move(onForget);
    return addObject(std::move(object));
}

bool iokitIsOpaqueHandle(mach_port_t name)
{
    return find(name, Object::Kind::Opaque) != nullptr;
}

bool iokitConnection(io_connect_t connect, std::uint64_t* entry, std::uint64_t* machineConnection)
{
    Object* object = find(connect, Object::Kind::Connection);
    if (!object)
        return false;
    *entry = object->entry;
    *machineConnection = object->machineConnection;
    return true;
}

std::size_t IOKitObjectCountForTesting()
{
    return table().objects.size() + table().ports.size();
}

void IOKitResetForTesting()
{
    auto& t = table();
    for (auto& [name, object] : t.objects) {
        if (object.kind == Object::Kind::Iterator)
            theMachine().unsubscribe(ops::registryListener, object.listener);
    }
    for (auto& [name, object] : t.objects) {
        if (object.kind == Object::Kind::Opaque && object.onForget)
            object.onForget();
    }
    t.objects.clear();
    for (auto* port : t.ports) {
        if (port->source)
            port->source->invalidate();
        delete port;
    }
    t.ports.clear();
}
