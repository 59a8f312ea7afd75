#include "SystemConfiguration/SCDynamicStore.h"

#include "RunLoop/RunLoop.h"
#include "MachineLink/MachineLink.h"

#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {
// The store key that names who sits at the console: {Name, UID, GID}.
const char* const kConsoleUserKey = "State:/Users/ConsoleUser";
} // namespace

class SCDynamicStore : public std::enable_shared_from_this<SCDynamicStore> {
public:
    SCDynamicStore(std::string name, SCDynamicStoreCallBack callout, void* info)
        : name_(std::move(name)), callout_(callout), info_(info)
    {
    }

    ~SCDynamicStore()
    {
        MachineLink::shared().unsubscribe(ops::storeWatcher, watch_);
        if (auto source = source_.lock())
            source->invalidate();
    }

    bool setNotificationKeys(const Value& keys, const Value& patterns)
    {
        std::vector<std::string> newKeys;
        std::vector<std::regex> newPatterns;
        if (!keys.isNil() && !keys.isArray())
            return false;
        if (!patterns.isNil() && !patterns.isArray())
            return false;
        for (const auto& key : keys.arrayValue() ? *keys.arrayValue() : Value::Array {}) {
            if (!key.string())
                return false;
            newKeys.push_back(*key.string());
        }
        for (const auto& pattern : patterns.arrayValue() ? *patterns.arrayValue() : Value::Array {}) {
            if (!pattern.string())
                return false;
            try {
                newPatterns.emplace_back(*pattern.string(), std::regex::extended);
            } catch (const std::regex_error&) {
                return false;
            }
        }
        keys_ = std::move(newKeys);
        patterns_ = std::move(newPatterns);
        consoleEntry_.reset();
        if (!watch_) {
            std::weak_ptr<SCDynamicStore> weak = weak_from_this();
            watch_ = MachineLink::shared().subscribe(ops::storeWatcher, [weak](const std::string& key) {
                if (auto self = weak.lock())
                    self->changed(key);
            });
        }
        return true;
    }

    // The console user's entry. A store that hears the key's changes keeps
    // it from one change to the next, so that a program that checks the
    // console user on every call (the daemon checks each caller) does not
    // ask the machine each time; the change's news comes before anything
    // that follows it.
    Value consoleUserEntry()
    {
        if (consoleEntry_)
            return *consoleEntry_;
        Value entry = MachineLink::shared().call(ops::storeValue, kConsoleUserKey);
        if (watch_ && watches(kConsoleUserKey))
            consoleEntry_ = entry;
        return entry;
    }

    CFRunLoopSourceRef runLoopSource(long order)
    {
        if (auto existing = source_.lock())
            return existing;
        std::weak_ptr<SCDynamicStore> weak = weak_from_this();
        auto source = RunLoopSource::create(
            [weak] {
                if (auto self = weak.lock())
                    self->deliver();
            },
            static_cast<int>(order));
        source_ = source;
        if (!changedKeys_.empty())
            source->signal();
        return source;
    }

private:
    bool watches(const std::string& key) const
    {
        for (const auto& k : keys_) {
            if (k == key)
                return true;
        }
        for (const auto& p : patterns_) {
            if (std::regex_search(key, p))
                return true;
        }
        return false;
    }

    void changed(const std::string& key)
    {
        if (key == kConsoleUserKey)
            consoleEntry_.reset();
        if (!watches(key))
            return;
        changedKeys_.insert(key);
        if (auto source = source_.lock())
            source->signal();
    }

    void deliver()
    {
        if (changedKeys_.empty())
            return;
        Value::Array keys;
        for (const auto& key : changedKeys_)
            keys.push_back(key);
        changedKeys_.clear();
        if (callout_)
            callout_(shared_from_this(), Value(std::move(keys)), info_);
    }

    std::string name_;
    SCDynamicStoreCallBack callout_;
    void* info_;
    std::uint64_t watch_ = 0;
    std::vector<std::string> keys_;
    std::vector<std::regex> patterns_;
    std::set<std::string> changedKeys_;
    std::optional<Value> consoleEntry_;
    // The caller owns the source; the session only finds it again.
    std::weak_ptr<RunLoopSource> source_;
};

SCDynamicStoreRef SCDynamicStoreCreate(CFAllocatorRef, const Value& name, SCDynamicStoreCallBack callout,
    SCDynamicStoreContext* context)
{
    if (!name.string() || MachineLink::shared().take("SCDynamicStoreCreate"))
        return nullptr;
    return std::make_shared<SCDynamicStore>(*name.string(), callout, context ? context->info : nullptr);
}

Value SCDynamicStoreKeyCreateConsoleUser(CFAllocatorRef)
{
    if (MachineLink::shared().take("SCDynamicStoreKeyCreateConsoleUser"))
        return {};
    return kConsoleUserKey;
}

bool SCDynamicStoreSetNotificationKeys(const SCDynamicStoreRef& store, const Value& keys, const Value& patterns)
{
    if (!store || MachineLink::shared().take("SCDynamicStoreSetNotificationKeys"))
        return false;
    return store->setNotificationKeys(keys, patterns);
}

CFRunLoopSourceRef SCDynamicStoreCreateRunLoopSource(CFAllocatorRef, const SCDynamicStoreRef& store, long order)
{
    if (!store || MachineLink::shared().take("SCDynamicStoreCreateRunLoopSource"))
        return nullptr;
    return store->runLoopSource(order);
}

Value SCDynamicStoreCopyConsoleUser(const SCDynamicStoreRef& store, uid_t* uid, gid_t* gid)
{
    // No session is fine: the call then asks the store on its own, as a
    // program that only wants the console user once does.
    if (MachineLink::shared().take("SCDynamicStoreCopyConsoleUser"))
        return {};
    Value entry = store ? store->consoleUserEntry() : MachineLink::shared().call(ops::storeValue, kConsoleUserKey);
    const std::string* name = entry["Name"].string();
    if (!name)
        return {};
    if (uid)
        *uid = static_cast<uid_t>(entry["UID"].integerOr(0));
    if (gid)
        *gid = static_cast<gid_t>(entry["GID"].integerOr(0));
    return *name;
}
