#include "MachineLink/LocalMachineLink.h"

#include "Notifications/DistributedNotificationCenter.h"

#include "IOKit/IOReturn.h"
#include "RunLoop/Clock.h"
#include "machine/Machine.h"

namespace {

MachineLink::Process processOf(const machine::Process& p)
{
    MachineLink::Process out;
    out.pid = p.pid;
    out.serialHigh = p.serial.high;
    out.serialLow = p.serial.low;
    out.application = p.application;
    out.enumerated = p.enumerated;
    out.name = p.name;
    out.bundleIdentifier = p.bundleIdentifier;
    out.bundlePath = p.bundlePath;
    out.creator = p.creator;
    out.session = p.session;
    return out;
}

std::optional<MachineLink::Process> processOf(const machine::Process* p)
{
    if (!p)
        return std::nullopt;
    return processOf(*p);
}

std::optional<MachineLink::User> userOf(const machine::User* u)
{
    if (!u)
        return std::nullopt;
    return MachineLink::User {u->name, u->uid, u->gid, u->home};
}

machine::ElementRef elementOf(const MachineLink::Element& e)
{
    return {e.pid, e.element};
}

} // namespace

LocalMachineLink::LocalMachineLink() : LocalMachineLink(machine::Machine::shared()) {}

LocalMachineLink::LocalMachineLink(machine::Machine& machine) : machine_(machine)
{
    // The system tells every session, each through its own queue.
    machine_.accessibility().setSwitchObserver([] {
        DistributedNotificationHub::shared().post(
            kNoLoginSession, Notification {"com.apple.accessibility.api", Value(), nullptr, Value()}, true);
    });
}

std::uint32_t LocalMachineLink::callerUserId() const
{
    return callerUid_ ? *callerUid_ : machine_.effectiveUserId();
}

int LocalMachineLink::take(const std::string& operation, const std::string& qualifier)
{
    return qualifier.empty() ? machine_.failures().take(operation) : machine_.failures().take(operation, qualifier);
}

// ---- the I/O registry

std::vector<std::uint64_t> LocalMachineLink::matchingServices(const std::string& className)
{
    return machine_.registry().matchingServices(className);
}

bool LocalMachineLink::isActive(std::uint64_t entry)
{
    return machine_.registry().isActive(entry);
}

std::string LocalMachineLink::className(std::uint64_t entry)
{
    return machine_.registry().className(entry);
}

std::uint64_t LocalMachineLink::addRegistryListener(const std::string& className, RegistryEvent event, RegistryListener listener)
{
    return machine_.registry().addListener(className,
        event == RegistryEvent::Terminated ? machine::IORegistry::Event::Terminated : machine::IORegistry::Event::Matched,
        std::move(listener));
}

void LocalMachineLink::removeRegistryListener(std::uint64_t listener)
{
    machine_.registry().removeListener(listener);
}

int LocalMachineLink::open(std::uint64_t entry, std::uint32_t type, std::uint64_t* connection)
{
    auto* model = machine_.registry().model(entry);
    return model ? model->open(type, connection, callerUserId()) : kIOReturnNoDevice;
}

int LocalMachineLink::close(std::uint64_t entry, std::uint64_t connection)
{
    auto* model = machine_.registry().model(entry);
    return model ? model->close(connection) : kIOReturnNoDevice;
}

int LocalMachineLink::callScalar(std::uint64_t entry, std::uint64_t connection, std::uint32_t index,
    const std::vector<std::int64_t>& inputs, std::vector<std::int64_t>& outputs)
{
    auto* model = machine_.registry().model(entry);
    return model ? model->callScalar(connection, index, inputs, outputs) : kIOReturnNoDevice;
}

int LocalMachineLink::callStructure(std::uint64_t entry, std::uint64_t connection, std::uint32_t index,
    const std::vector<std::int64_t>& inputs, std::vector<std::uint8_t>& structure)
{
    auto* model = machine_.registry().model(entry);
    return model ? model->callStructure(connection, index, inputs, structure) : kIOReturnNoDevice;
}

Value LocalMachineLink::property(std::uint64_t entry, const std::string& key)
{
    auto* model = machine_.registry().model(entry);
    return model ? model->property(key) : Value();
}

int LocalMachineLink::setProperties(std::uint64_t entry, const Value& properties)
{
    auto* model = machine_.registry().model(entry);
    return model ? model->setProperties(properties, callerUserId()) : kIOReturnNoDevice;
}

int LocalMachineLink::setProperty(std::uint64_t entry, const std::string& key, const Value& value)
{
    auto* model = machine_.registry().model(entry);
    return model ? model->setProperty(key, value, callerUserId()) : kIOReturnNoDevice;
}

int LocalMachineLink::setAcceleration(std::uint64_t entry, std::uint64_t connection, const std::string& key, double value)
{
    auto* hid = dynamic_cast<machine::HIDSystem*>(machine_.registry().model(entry));
    return hid ? hid->setAcceleration(connection, key, value) : kIOReturnBadArgument;
}

// ---- the configuration store

Value LocalMachineLink::storeValue(const std::string& key)
{
    return machine_.dynamicStore().value(key);
}

std::uint64_t LocalMachineLink::addStoreWatcher(StoreWatcher watcher)
{
    return machine_.dynamicStore().watch(std::move(watcher));
}

void LocalMachineLink::removeStoreWatcher(std::uint64_t watcher)
{
    machine_.dynamicStore().unwatch(watcher);
}

// ---- system power

std::uint64_t LocalMachineLink::addPowerClient(PowerClient client)
{
    return machine_.power().addClient(std::move(client));
}

void LocalMachineLink::removePowerClient(std::uint64_t client)
{
    machine_.power().removeClient(client);
}

bool LocalMachineLink::acknowledgePower(std::intptr_t argument)
{
    return machine_.power().acknowledge(argument);
}

// ---- processes

std::optional<MachineLink::Process> LocalMachineLink::processWithPid(int pid)
{
    return processOf(machine_.processes().processWithPid(pid));
}

std::optional<MachineLink::Process> LocalMachineLink::processWithSerial(std::uint32_t high, std::uint32_t low)
{
    return processOf(machine_.processes().processWithSerial({high, low}));
}

std::optional<MachineLink::Process> LocalMachineLink::frontProcess()
{
    return processOf(machine_.processes().frontProcess());
}

std::vector<MachineLink::Process> LocalMachineLink::applications()
{
    std::vector<Process> out;
    for (const machine::Process* p : machine_.processes().applications())
        out.push_back(processOf(*p));
    return out;
}

std::string LocalMachineLink::processListing()
{
    return machine_.processes().processListing();
}

std::uint64_t LocalMachineLink::addApplicationListener(ApplicationListener listener)
{
    int id = machine_.processes().addListener([listener = std::move(listener)](const machine::ApplicationEvent& e) {
        ApplicationEventKind kind = e.kind == machine::ApplicationEventKind::Launched ? ApplicationEventKind::Launched
            : e.kind == machine::ApplicationEventKind::Terminated                     ? ApplicationEventKind::Terminated
                                                                                      : ApplicationEventKind::FrontSwitched;
        listener(kind, e.serial.high, e.serial.low);
    });
    return static_cast<std::uint64_t>(id);
}

void LocalMachineLink::removeApplicationListener(std::uint64_t listener)
{
    machine_.processes().removeListener(static_cast<int>(listener));
}

bool LocalMachineLink::setHostPid(int pid, int hostPid)
{
    return machine_.processes().setHostPid(pid, hostPid);
}

// ---- accessibility

bool LocalMachineLink::accessibilityEnabled()
{
    return machine_.accessibility().enabled();
}

bool LocalMachineLink::elementExists(const Element& element)
{
    return machine_.accessibility().exists(elementOf(element));
}

int LocalMachineLink::copyAttribute(const Element& element, const std::string& name, Attribute& value)
{
    machine::Attribute read;
    int r = machine_.accessibility().copyAttribute(elementOf(element), name, read);
    if (r != 0)
        return r;
    if (auto* v = std::get_if<Value>(&read))
        value = *v;
    else if (auto* e = std::get_if<machine::ElementRef>(&read))
        value = Element {e->pid, e->element};
    else if (auto* p = std::get_if<machine::ScreenPoint>(&read))
        value = Point {p->x, p->y};
    else {
        const auto& s = std::get<machine::ScreenSize>(read);
        value = Size {s.width, s.height};
    }
    return r;
}

int LocalMachineLink::createObserver(int pid, AXDelivery delivery)
{
    return machine_.accessibility().createObserver(
        pid, [delivery = std::move(delivery)](const machine::ElementRef& element, const std::string& notification) {
            delivery({element.pid, element.element}, notification);
        });
}

void LocalMachineLink::destroyObserver(int observer)
{
    machine_.accessibility().destroyObserver(observer);
}

int LocalMachineLink::addNotification(int observer, const Element& element, const std::string& notification)
{
    return machine_.accessibility().addNotification(observer, elementOf(element), notification);
}

int LocalMachineLink::removeNotification(int observer, const Element& element, const std::string& notification)
{
    return machine_.accessibility().removeNotification(observer, elementOf(element), notification);
}

// ---- the pointer

std::uint32_t LocalMachineLink::buttonState()
{
    return machine_.pointer().buttonState();
}

void LocalMachineLink::warp(double x, double y)
{
    machine_.pointer().warp({x, y});
}

void LocalMachineLink::setLocalEventsSuppressionInterval(double seconds)
{
    machine_.pointer().setLocalEventsSuppressionInterval(seconds);
}

// ---- login sessions

std::optional<MachineLink::Session> LocalMachineLink::session(std::uint32_t id)
{
    const machine::LoginSession* s = machine_.loginSessions().session(id);
    if (!s)
        return std::nullopt;
    return Session {s->id, s->userName, s->uid, s->onConsole};
}

std::uint64_t LocalMachineLink::addSessionListener(SessionListener listener)
{
    return static_cast<std::uint64_t>(machine_.loginSessions().addListener(std::move(listener)));
}

void LocalMachineLink::removeSessionListener(std::uint64_t listener)
{
    machine_.loginSessions().removeListener(static_cast<int>(listener));
}

// ---- users

std::optional<MachineLink::User> LocalMachineLink::userNamed(const std::string& name)
{
    return userOf(machine_.users().userNamed(name));
}

std::optional<MachineLink::User> LocalMachineLink::userWithId(std::uint32_t uid)
{
    return userOf(machine_.users().userWithId(uid));
}

std::string LocalMachineLink::expandTilde(const std::string& path)
{
    return machine_.expandTilde(path);
}

std::string LocalMachineLink::effectiveUserHome()
{
    return machine_.effectiveUserHome();
}

// ---- the machine itself

std::string LocalMachineLink::hostIdentifier()
{
    return machine_.hostIdentifier();
}

std::uint32_t LocalMachineLink::systemVersion()
{
    return machine_.systemVersion();
}

void LocalMachineLink::appendSystemLog(const std::string& program, int pid, int priority, const std::string& message)
{
    machine_.systemLog().append({currentDate(), program, pid, priority, message});
}

// ---- the running program

int LocalMachineLink::programPid()
{
    return machine_.programPid();
}

std::uint32_t LocalMachineLink::programSession()
{
    return machine_.programSession();
}

std::uint32_t LocalMachineLink::realUserId()
{
    return machine_.realUserId();
}

std::uint32_t LocalMachineLink::effectiveUserId()
{
    return machine_.effectiveUserId();
}

void LocalMachineLink::setRealUserId(std::uint32_t uid)
{
    machine_.setRealUserId(uid);
}

void LocalMachineLink::setEffectiveUserId(std::uint32_t uid)
{
    machine_.setEffectiveUserId(uid);
}

std::uint32_t LocalMachineLink::effectiveGroupId()
{
    return machine_.effectiveGroupId();
}

void LocalMachineLink::setEffectiveGroupId(std::uint32_t gid)
{
    machine_.setEffectiveGroupId(gid);
}

std::vector<std::uint32_t> LocalMachineLink::groups()
{
    return machine_.groups();
}

void LocalMachineLink::setGroups(const std::vector<std::uint32_t>& groups)
{
    machine_.setGroups(groups);
}

bool LocalMachineLink::isHostProcess()
{
    return machine_.isHostProcess();
}

void LocalMachineLink::setHostProcess(bool host)
{
    machine_.setHostProcess(host);
}

bool LocalMachineLink::programDetached()
{
    return machine_.programDetached();
}

void LocalMachineLink::setProgramDetached(bool detached)
{
    machine_.setProgramDetached(detached);
}
