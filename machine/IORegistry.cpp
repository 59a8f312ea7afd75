#include "IORegistry.h"

#include "IOKit/IOReturn.h"

namespace machine {

int IOServiceModel::open(std::uint32_t, std::uint64_t*, std::uint32_t)
{
    return kIOReturnUnsupported;
}

int IOServiceModel::close(std::uint64_t)
{
    return kIOReturnUnsupported;
}

int IOServiceModel::callScalar(std::uint64_t, std::uint32_t, const std::vector<std::int64_t>&, std::vector<std::int64_t>&)
{
    return kIOReturnUnsupported;
}

int IOServiceModel::callStructure(std::uint64_t, std::uint32_t, const std::vector<std::int64_t>&, std::vector<std::uint8_t>&)
{
    return kIOReturnUnsupported;
}

Value IOServiceModel::property(std::string_view) const
{
    return {};
}

int IOServiceModel::setProperties(const Value&, std::uint32_t)
{
    return kIOReturnUnsupported;
}

int IOServiceModel::setProperty(const std::string&, const Value&, std::uint32_t)
{
    return kIOReturnUnsupported;
}

RegistryEntryID IORegistry::registerService(std::string className, IOServiceModel* model)
{
    RegistryEntryID id = nextEntry_++;
    entries_[id] = Entry {className, model, true};
    tell(className, Event::Matched, id);
    return id;
}

void IORegistry::terminateService(RegistryEntryID entry)
{
    auto it = entries_.find(entry);
    if (it == entries_.end() || !it->second.active)
        return;
    it->second.active = false;
    it->second.model = nullptr;
    tell(it->second.className, Event::Terminated, entry);
}

void IORegistry::tell(const std::string& className, Event event, RegistryEntryID entry)
{
    // A listener may add or remove listeners; tell those registered now.
    std::vector<std::uint64_t> ids;
    for (const auto& [id, registration] : listeners_) {
        if (registration.className == className && registration.event == event)
            ids.push_back(id);
    }
    for (auto id : ids) {
        auto it = listeners_.find(id);
        if (it == listeners_.end())
            continue;
        Listener listener = it->second.listener;
        listener(entry);
    }
}

std::vector<RegistryEntryID> IORegistry::matchingServices(std::string_view className) const
{
    std::vector<RegistryEntryID> out;
    for (const auto& [id, entry] : entries_) {
        if (entry.active && entry.className == className)
            out.push_back(id);
    }
    return out;
}

bool IORegistry::isActive(RegistryEntryID entry) const
{
    auto it = entries_.find(entry);
    return it != entries_.end() && it->second.active;
}

std::string IORegistry::className(RegistryEntryID entry) const
{
    auto it = entries_.find(entry);
    return it == entries_.end() ? std::string() : it->second.className;
}

IOServiceModel* IORegistry::model(RegistryEntryID entry) const
{
    auto it = entries_.find(entry);
    return it == entries_.end() || !it->second.active ? nullptr : it->second.model;
}

std::uint64_t IORegistry::addListener(std::string className, Event event, Listener listener)
{
    std::uint64_t id = nextListener_++;
    listeners_[id] = Registration {std::move(className), event, std::move(listener)};
    return id;
}

void IORegistry::removeListener(std::uint64_t listener)
{
    listeners_.erase(listener);
}

void IORegistry::reset()
{
    entries_.clear();
    listeners_.clear();
}

} // namespace machine
