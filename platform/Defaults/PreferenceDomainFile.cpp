#include "Defaults/PreferenceDomainFile.h"

#include "Foundation/PropertyList.h"
#include "Log/Log.h"
#include "Paths/DiskRoot.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>

namespace {

// Enough copies for any history of accidents; past this the file stays.
constexpr int kMaximumSetAsideCopies = 1000;

std::string setAsideName(const std::string& systemPath, int copy)
{
    return copy == 0 ? systemPath + ".unreadable" : systemPath + ".unreadable." + std::to_string(copy);
}

// Renames without ever replacing an existing file, so an older copy is
// never overwritten even by a process racing us.
int renameWithoutReplacing(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    // A file system without the no-replace rename: check, then rename.
    std::error_code ec;
    if (std::filesystem::exists(to, ec)) {
        errno = EEXIST;
        return -1;
    }
    return ::rename(from.c_str(), to.c_str());
}

// Moves the file aside; the system path of the copy, or nullopt with the
// reason in `why`.
std::optional<std::string> setAside(const std::string& systemPath, std::string& why)
{
    std::string from = hostPath(systemPath);
    for (int copy = 0; copy < kMaximumSetAsideCopies; ++copy) {
        std::string to = setAsideName(systemPath, copy);
        if (renameWithoutReplacing(from, hostPath(to)) == 0)
            return to;
        if (errno != EEXIST) {
            why = std::strerror(errno);
            return std::nullopt;
        }
    }
    why = "too many older copies";
    return std::nullopt;
}

// Reads the file; when it exists but cannot be read and `repair` is set,
// moves it aside. Answers whether the domain's path is now free of a file
// that would be lost by a write.
bool readOrSetAside(const std::string& systemPath, bool repair, Value* domain, bool* wasUnreadable = nullptr)
{
    auto result = readPropertyList(hostPath(systemPath), Value::Type::Dictionary);
    if (result.ok()) {
        if (domain)
            *domain = std::move(result.value);
        return true;
    }
    if (result.status == PropertyListStatus::Missing)
        return true;
    if (wasUnreadable)
        *wasUnreadable = true;
    if (!repair) {
        logError("Preferences error: \"%s\" cannot be read (%s).\n", systemPath, result.reason);
        return false;
    }
    std::string why;
    if (auto copy = setAside(systemPath, why)) {
        logError("Preferences error: \"%s\" cannot be read (%s); moved it aside to \"%s\".\n", systemPath,
            result.reason, *copy);
        return true;
    }
    logError("Preferences error: \"%s\" cannot be read (%s) and cannot be moved aside (%s); leaving it in place.\n",
        systemPath, result.reason, why);
    return false;
}

} // namespace

bool isValidPreferenceDomainName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos
        && name.find('\0') == std::string_view::npos;
}

bool isStorablePreferenceValue(const Value& value)
{
    if (value.isNil())
        return false;
    if (const auto* items = value.arrayValue()) {
        for (const auto& item : *items)
            if (!isStorablePreferenceValue(item))
                return false;
    }
    if (const auto* entries = value.dictionaryValue()) {
        for (const auto& entry : *entries)
            if (!isStorablePreferenceValue(entry.second))
                return false;
    }
    return true;
}

std::string preferenceDomainPath(
    std::string_view home, std::string_view name, bool byHost, std::string_view hostIdentifier)
{
    if (!isValidPreferenceDomainName(name) || (byHost && !isValidPreferenceDomainName(hostIdentifier)))
        return {};
    std::string path(home);
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    path += "/Library/Preferences/";
    if (byHost) {
        path += "ByHost/";
        path += name;
        path += '.';
        path += hostIdentifier;
    } else {
        path += name;
    }
    return path + ".plist";
}

Value loadPreferenceDomain(const std::string& systemPath, bool setAsideUnreadable, bool* wasUnreadable)
{
    Value domain;
    if (wasUnreadable)
        *wasUnreadable = false;
    readOrSetAside(systemPath, setAsideUnreadable, &domain, wasUnreadable);
    return domain;
}

bool storePreferenceDomain(const std::string& systemPath, const Value& domain)
{
    if (!domain.isDictionary() || !isStorablePreferenceValue(domain)) {
        logError("Preferences error: Unable to write \"%s\": not a dictionary of property-list values.\n", systemPath);
        return false;
    }
    if (!readOrSetAside(systemPath, true, nullptr))
        return false;
    std::string error;
    if (!writePropertyListFile(hostPath(systemPath), domain, &error, true)) {
        logError("Preferences error: Unable to write \"%s\": %s.\n", systemPath, error);
        return false;
    }
    return true;
}

bool removePreferenceDomain(const std::string& systemPath)
{
    std::string host = hostPath(systemPath);
    std::error_code ec;
    if (!std::filesystem::exists(host, ec))
        return true;
    if (!readOrSetAside(systemPath, true, nullptr))
        return false;
    if (std::filesystem::exists(host, ec) && !std::filesystem::remove(host, ec)) {
        logError("Preferences error: Unable to remove \"%s\": %s.\n", systemPath, ec.message());
        return false;
    }
    return true;
}
