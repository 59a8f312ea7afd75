// The simulated configuration store: keys ("State:/Users/ConsoleUser")
// holding property-list values. Every change of a key (set, even to the same
// value, or removed) is told to the watchers with the key's name; the
// platform's store sessions pick the keys they watch and signal their
// run-loop source.
#pragma once

#include "Foundation/Value.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace machine {

inline constexpr const char* kConsoleUserKey = "State:/Users/ConsoleUser";

class DynamicStore {
public:
    using Watcher = std::function<void(const std::string& changedKey)>;

    Value value(std::string_view key) const;
    void setValue(const std::string& key, Value value);
    void removeValue(const std::string& key);

    std::uint64_t watch(Watcher watcher);
    void unwatch(std::uint64_t id);
    std::size_t watcherCount() const { return watchers_.size(); }

    void reset();

private:
    void tell(const std::string& key);
    std::map<std::string, Value, std::less<>> values_;
    std::map<std::uint64_t, Watcher> watchers_;
    std::uint64_t nextWatcher_ = 1;
};

} // namespace machine
