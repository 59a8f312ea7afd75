#include "Defaults/NSUserDefaults.h"

#include "Defaults/PreferenceDomainFile.h"
#include "Log/Log.h"
#include "MachineLink/MachineLink.h"

namespace {

std::shared_ptr<NSUserDefaults>& standardObject()
{
    static std::shared_ptr<NSUserDefaults> object;
    return object;
}

// The domain as the file holds it now, with this object's change applied:
// the keys whose value differs from what it last saw are set, the keys it
// saw that are gone from its domain are removed. Nil when nothing is left.
Value mergedDomain(const Value& current, const Value& lastSeen, const Value& wanted)
{
    Value merged = current.isDictionary() ? current : Value::dictionary();
    if (const auto* seen = lastSeen.dictionaryValue()) {
        for (const auto& [key, value] : *seen)
            if (!wanted.contains(key))
                merged.remove(key);
    }
    if (const auto* entries = wanted.dictionaryValue()) {
        for (const auto& [key, value] : *entries)
            if (!lastSeen.contains(key) || lastSeen[key] != value)
                merged.set(key, value);
    }
    if (wanted.isNil() && merged.count() == 0)
        return Value();
    return merged;
}

} // namespace

NSUserDefaults::NSUserDefaults(std::uint32_t userId, std::string home)
    : userId_(userId)
    , home_(std::move(home))
{
}

std::shared_ptr<NSUserDefaults> NSUserDefaults::standardUserDefaults()
{
    auto& object = standardObject();
    if (!object) {
        auto& m = MachineLink::shared();
        object.reset(new NSUserDefaults(m.program().effectiveUid, m.effectiveUserHome()));
    }
    return object;
}

void NSUserDefaults::resetStandardUserDefaults()
{
    auto& object = standardObject();
    if (object)
        object->synchronize();
    object.reset();
}

std::string NSUserDefaults::pathForDomain(std::string_view domainName) const
{
    if (home_.empty())
        return {};
    return preferenceDomainPath(home_, domainName, false, {});
}

bool NSUserDefaults::synchronize()
{
    bool ok = true;
    for (auto it = pending_.begin(); it != pending_.end();) {
        std::string path = pathForDomain(it->first);
        bool written = false;
        if (path.empty()) {
            logError("NSUserDefaults error: Unable to write domain \"%s\": user id %u has no home folder.\n", it->first,
                userId_);
        } else {
            Value seen = lastSeen(it->first);
            Value result;
            written = updatePreferenceDomain(path, [&](const Value& current) {
                result = mergedDomain(current, seen, it->second);
                return result;
            });
            if (written)
                lastSeen_.insert_or_assign(it->first, std::move(result));
        }
        if (written) {
            it = pending_.erase(it);
        } else {
            ok = false;
            ++it;
        }
    }
    return ok;
}

Value NSUserDefaults::persistentDomainForName(std::string_view domainName) const
{
    if (auto it = pending_.find(domainName); it != pending_.end())
        return it->second;
    std::string path = pathForDomain(domainName);
    if (path.empty())
        return Value();
    Value domain = loadPreferenceDomain(path);
    lastSeen_.insert_or_assign(std::string(domainName), domain);
    return domain;
}

Value NSUserDefaults::lastSeen(std::string_view domainName) const
{
    auto it = lastSeen_.find(domainName);
    return it == lastSeen_.end() ? Value() : it->second;
}

void NSUserDefaults::setPersistentDomainForName(const Value& domain, std::string_view domainName)
{
    if (!isValidPreferenceDomainName(domainName)) {
        logError("NSUserDefaults error: \"%s\" is not a valid domain name.\n", domainName);
        return;
    }
    if (!domain.isDictionary() || !isStorablePreferenceValue(domain)) {
        logError("NSUserDefaults error: A persistent domain is a dictionary of property-list values; domain \"%s\" "
                 "unchanged.\n",
            domainName);
        return;
    }
    pending_.insert_or_assign(std::string(domainName), domain);
}

void NSUserDefaults::removePersistentDomainForName(std::string_view domainName)
{
    // No file can exist for a name that cannot be a file name.
    if (!isValidPreferenceDomainName(domainName))
        return;
    pending_.insert_or_assign(std::string(domainName), Value());
}
