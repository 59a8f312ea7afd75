#include "Defaults/CFPreferences.h"

#include "Defaults/PreferenceDomainFile.h"
#include "MachineLink/MachineLink.h"

#include <map>
#include <optional>

namespace {

// Unwritten changes by domain file: a value, or nullopt for a removed key.
using PendingChanges = std::map<std::string, std::optional<Value>, std::less<>>;

std::map<std::string, PendingChanges>& pendingByPath()
{
    static std::map<std::string, PendingChanges> pending;
    return pending;
}

struct Domain {
    std::string path; // empty: the domain cannot be addressed
    bool anyUser = false;
};

// The file in the home folder (empty: the machine's own folder); empty
// when the host selector is not one.
std::string pathInHome(std::string_view applicationID, std::string_view home, std::string_view hostName)
{
    bool byHost;
    if (hostName == kCFPreferencesCurrentHost)
        byHost = true;
    else if (hostName == kCFPreferencesAnyHost)
        byHost = false;
    else
        return {};
    std::string_view name = applicationID == kCFPreferencesAnyApplication ? ".GlobalPreferences" : applicationID;
    return preferenceDomainPath(home, name, byHost, MachineLink::shared().hostIdentifier());
}

Domain domainFor(std::string_view applicationID, std::string_view userName, std::string_view hostName)
{
    Domain domain;
    std::string home;
    if (userName == kCFPreferencesAnyUser) {
        domain.anyUser = true;
    } else if (userName == kCFPreferencesCurrentUser) {
        home = MachineLink::shared().effectiveUserHome();
        if (home.empty())
            return domain;
    } else {
        return domain;
    }
    domain.path = pathInHome(applicationID, home, hostName);
    return domain;
}

bool mayWrite(const Domain& domain)
{
    return !domain.anyUser || MachineLink::shared().program().effectiveUid == 0;
}

Value read(const Domain& domain, bool* wasUnreadable = nullptr)
{
    Value values = loadPreferenceDomain(domain.path, mayWrite(domain), wasUnreadable);
    if (!values.isDictionary())
        values = Value::dictionary();
    auto& pending = pendingByPath();
    if (auto it = pending.find(domain.path); it != pending.end()) {
        for (const auto& [key, change] : it->second) {
            if (change)
                values.set(key, *change);
            else
                values.remove(key);
        }
    }
    return values;
}

// Writes the domain's pending changes over what is on disk at the time of
// the write, under the domain's lock: the keys other processes changed
// meanwhile stay as they left them.
bool flush(const Domain& domain)
{
    auto& pending = pendingByPath();
    auto it = pending.find(domain.path);
    if (it == pending.end())
        return true;
    if (!mayWrite(domain))
        return false;
    const PendingChanges& changes = it->second;
    bool written = updatePreferenceDomain(domain.path, [&](Value values) {
        if (!values.isDictionary())
            values = Value::dictionary();
        for (const auto& [key, change] : changes) {
            if (change)
                values.set(key, *change);
            else
                values.remove(key);
        }
        return values;
    });
    if (!written)
        return false;
    pending.erase(it);
    return true;
}

void change(const Domain& domain, std::string_view key, std::optional<Value> value)
{
    pendingByPath()[domain.path].insert_or_assign(std::string(key), std::move(value));
}

} // namespace

Value CFPreferencesCopyAppValue(std::string_view key, std::string_view applicationID)
{
    Domain domain = domainFor(applicationID, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    if (domain.path.empty())
        return {};
    return read(domain)[key];
}

void CFPreferencesSetAppValue(std::string_view key, const Value& value, std::string_view applicationID)
{
    CFPreferencesSetMultiple(Value::dictionary({{std::string(key), value}}), Value(), applicationID,
        kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
}

bool CFPreferencesAppSynchronize(std::string_view applicationID)
{
    return CFPreferencesSynchronize(applicationID, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
}

bool CFPreferencesSynchronize(std::string_view applicationID, std::string_view userName, std::string_view hostName)
{
    Domain domain = domainFor(applicationID, userName, hostName);
    return !domain.path.empty() && flush(domain);
}

Value CFPreferencesCopyMultiple(
    const Value& keysToFetch, std::string_view applicationID, std::string_view userName, std::string_view hostName)
{
    Domain domain = domainFor(applicationID, userName, hostName);
    if (domain.path.empty())
        return {};
    bool unreadable = false;
    Value values = read(domain, &unreadable);
    if (unreadable)
        return {};
    const Value::Array* keys = keysToFetch.arrayValue();
    if (!keys)
        return values;
    Value found = Value::dictionary();
    for (const Value& key : *keys) {
        if (const std::string* name = key.string(); name && values.contains(*name))
            found.set(*name, values[*name]);
    }
    return found;
}

void CFPreferencesSetMultiple(const Value& keysToSet, const Value& keysToRemove, std::string_view applicationID,
    std::string_view userName, std::string_view hostName)
{
    Domain domain = domainFor(applicationID, userName, hostName);
    if (domain.path.empty())
        return;
    bool changed = false;
    if (const Value::Dictionary* entries = keysToSet.dictionaryValue()) {
        for (const auto& [key, value] : *entries) {
            // What no file can hold is not kept; a nil entry removes its key.
            if (!value.isNil() && !isStorablePreferenceValue(value))
                continue;
            change(domain, key, value.isNil() ? std::nullopt : std::optional<Value>(value));
            changed = true;
        }
    }
    if (const Value::Array* keys = keysToRemove.arrayValue()) {
        for (const Value& key : *keys) {
            if (const std::string* name = key.string()) {
                change(domain, *name, std::nullopt);
                changed = true;
            }
        }
    }
    if (changed)
        flush(domain);
}

Value CFPreferencesCopyKeyList(std::string_view applicationID, std::string_view userName, std::string_view hostName)
{
    Domain domain = domainFor(applicationID, userName, hostName);
    if (domain.path.empty())
        return {};
    Value values = read(domain);
    if (values.count() == 0)
        return {};
    Value keys = Value::array();
    for (const auto& entry : *values.dictionaryValue())
        keys.arrayValue()->push_back(entry.first);
    return keys;
}

std::string CFPreferencesDomainPath(
    std::string_view applicationID, std::string_view userName, std::string_view hostName)
{
    return domainFor(applicationID, userName, hostName).path;
}

std::string CFPreferencesDomainPathInHome(std::string_view applicationID, std::string_view home, std::string_view hostName)
{
    return pathInHome(applicationID, home, hostName);
}

void CFPreferencesDiscardPendingChangesForTesting()
{
    pendingByPath().clear();
}
