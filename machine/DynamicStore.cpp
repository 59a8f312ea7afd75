#include "DynamicStore.h"

#include <vector>

namespace machine {

Value DynamicStore::value(std::string_view key) const
{
    auto it = values_.find(key);
    return it == values_.end() ? Value() : it->second;
}

void DynamicStore::setValue(const std::string& key, Value value)
{
    values_[key] = std::move(value);
    tell(key);
}

void DynamicStore::removeValue(const std::string& key)
{
    if (values_.erase(key))
        tell(key);
}

std::uint64_t DynamicStore::watch(Watcher watcher)
{
    std::uint64_t id = nextWatcher_++;
    watchers_[id] = std::move(watcher);
    return id;
}

void DynamicStore::unwatch(std::uint64_t id)
{
    watchers_.erase(id);
}

void DynamicStore::tell(const std::string& key)
{
    std::vector<std::uint64_t> ids;
    for (const auto& [id, watcher] : watchers_)
        ids.push_back(id);
    for (auto id : ids) {
        auto it = watchers_.find(id);
        if (it == watchers_.end())
            continue;
        Watcher watcher = it->second;
        watcher(key);
    }
}

void DynamicStore::reset()
{
    values_.clear();
    watchers_.clear();
}

} // namespace machine
