#include "Notifications/DistributedNotificationCenter.h"

#include "Bus/MessageBus.h"
#include "MachineLink/MachineLink.h"
#include "Notifications/BusNotificationCarrier.h"

#include <algorithm>

namespace {

std::unique_ptr<DistributedNotificationCenter>& defaultCentreSlot()
{
    static std::unique_ptr<DistributedNotificationCenter> centre;
    return centre;
}

} // namespace

// ---- hub

DistributedNotificationHub& DistributedNotificationHub::shared()
{
    // Never destroyed: centres that go while the program exits (the default
    // centre among them) still detach from it.
    static DistributedNotificationHub& hub = *new DistributedNotificationHub;
    // Between real processes the bus carries the posts: decided once.
    static const bool carried = [] {
        MessageBus* bus = MessageBus::isConfigured() ? MessageBus::shared() : nullptr;
        return bus && BusNotificationCarrier::attach(hub, *bus);
    }();
    (void)carried;
    return hub;
}

void DistributedNotificationHub::attach(DistributedNotificationCenter* centre)
{
    centres_.push_back(centre);
}

void DistributedNotificationHub::detach(DistributedNotificationCenter* centre)
{
    std::erase(centres_, centre);
}

void DistributedNotificationHub::post(std::uint32_t fromSession, const Notification& notification, bool deliverToAllSessions)
{
    deliverLocally(fromSession, notification, deliverToAllSessions);
    if (forwarder_)
        forwarder_(fromSession, notification, deliverToAllSessions);
}

void DistributedNotificationHub::deliverLocally(std::uint32_t fromSession, const Notification& notification, bool deliverToAllSessions)
{
    auto centres = centres_;
    for (auto* centre : centres) {
        if (deliverToAllSessions || centre->session() == fromSession)
            centre->enqueue(notification);
    }
}

void DistributedNotificationHub::setInterestWatcher(InterestWatcher watcher)
{
    interestWatcher_ = std::move(watcher);
    if (!interestWatcher_)
        return;
    for (const auto& [name, count] : interest_)
        interestWatcher_(name, true);
}

void DistributedNotificationHub::observe(const std::string& name)
{
    if (++interest_[name] == 1 && interestWatcher_)
        interestWatcher_(name, true);
}

void DistributedNotificationHub::unobserve(const std::string& name)
{
    auto it = interest_.find(name);
    if (it == interest_.end())
        return;
    if (--it->second > 0)
        return;
    interest_.erase(it);
    if (interestWatcher_)
        interestWatcher_(name, false);
}

// ---- centre

DistributedNotificationCenter& DistributedNotificationCenter::defaultCenter()
{
    auto& slot = defaultCentreSlot();
    if (!slot)
        slot = std::make_unique<DistributedNotificationCenter>(MachineLink::shared().programSession());
    return *slot;
}

void DistributedNotificationCenter::resetForTesting()
{
    defaultCentreSlot().reset();
}

DistributedNotificationCenter::DistributedNotificationCenter(std::uint32_t session, RunLoop& runLoop)
    : session_(session)
    , runLoop_(&runLoop)
{
    source_ = RunLoopSource::create([this] { deliverQueued(); });
    // Delivered in every common mode, as a modal panel must not hold up
    // notifications from other processes.
    runLoop_->addSource(source_, kCommonRunLoopModes);
    DistributedNotificationHub::shared().attach(this);
}

DistributedNotificationCenter::~DistributedNotificationCenter()
{
    auto& hub = DistributedNotificationHub::shared();
    for (const Registration& r : registrations_)
        hub.unobserve(r.name);
    hub.detach(this);
    source_->invalidate();
}

void DistributedNotificationCenter::addObserver(const void* observer, Callback callback, std::string_view name, Value object)
{
    if (!observer || !callback)
        return;
    registrations_.push_back({nextId_++, observer, std::string(name), std::move(object), std::move(callback)});
    DistributedNotificationHub::shared().observe(registrations_.back().name);
}

void DistributedNotificationCenter::removeObserver(const void* observer)
{
    auto& hub = DistributedNotificationHub::shared();
    std::erase_if(registrations_, [&](const Registration& r) {
        if (r.observer != observer)
            return false;
        hub.unobserve(r.name);
        return true;
    });
}

void DistributedNotificationCenter::postNotificationName(const std::string& name, Value object, Value userInfo, bool deliverToAllSessions)
{
    // Only strings travel as objects between processes.
    if (!object.isString())
        object = Value();
    if (!userInfo.isDictionary())
        userInfo = Value();
    DistributedNotificationHub::shared().post(session_, Notification {name, std::move(object), nullptr, std::move(userInfo)}, deliverToAllSessions);
}

void DistributedNotificationCenter::enqueue(const Notification& notification)
{
    queue_.push_back(notification);
    source_->signal();
}

void DistributedNotificationCenter::deliverQueued()
{
    while (!queue_.empty()) {
        Notification n = std::move(queue_.front());
        queue_.pop_front();
        std::vector<std::uint64_t> matching;
        for (const auto& r : registrations_) {
            if ((r.name.empty() || r.name == n.name) && (r.object.isNil() || r.object == n.object))
                matching.push_back(r.id);
        }
        for (auto id : matching) {
            auto it = std::find_if(registrations_.begin(), registrations_.end(), [&](const Registration& r) { return r.id == id; });
            if (it == registrations_.end())
                continue;
            Callback callback = it->callback;
            callback(n);
        }
    }
}
