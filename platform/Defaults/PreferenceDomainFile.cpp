#include "Defaults/PreferenceDomainFile.h"

#include "Foundation/PropertyListFile.h"
#include "Log/Log.h"
#include "Paths/DiskRoot.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

// Enough copies for any history of accidents; past this the file stays.
constexpr int kMaximumSetAsideCopies = 1000;
// Between two tries for a lock another writer holds.
constexpr auto kLockRetryPause = std::chrono::milliseconds(2);

std::string setAsideName(const std::string& systemPath, int copy)
{
    return copy == 0 ? systemPath + ".unreadable" : systemPath + ".unreadable." + std::to_string(copy);
}

// Who the files must belong to: the host process's effective user, which
// for the root daemon is the user it acts as while it reads his files.
std::uint32_t effectiveOwner()
{
    return static_cast<std::uint32_t>(::geteuid());
}

PropertyListFileTerms domainFileTerms()
{
    return PropertyListFileTerms {false, effectiveOwner(), kMaximumPreferenceFileBytes};
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
    if (std::filesystem::exists(std::filesystem::symlink_status(to, ec))) {
        errno = EEXIST;
        return -1;
    }
    return ::rename(from.c_str(), to.c_str());
}

// Moves the file aside; the system path of the copy, or nullopt with the
// reason in `why`. Only the effective user's own file is moved: in his own
// folder a user may have left a file of someone else's (a hard link), which
// is not his to rename.
std::optional<std::string> setAside(const std::string& systemPath, std::string& why)
{
    std::string from = hostPath(systemPath);
    struct stat info {};
    if (::lstat(from.c_str(), &info) != 0) {
        why = std::strerror(errno);
        return std::nullopt;
    }
    if (info.st_uid != effectiveOwner()) {
        why = "it belongs to UID " + std::to_string(info.st_uid);
        return std::nullopt;
    }
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

// The lock of one domain, held from acquire() until it goes.
class DomainLock {
public:
    // The lock, or nullopt with the reason in `why`. Waits at most
    // kPreferenceLockWaitSeconds for another writer, in short real pauses:
    // a user can hold his own lock for ever, and the daemon must not hang.
    static std::optional<DomainLock> acquire(const std::string& systemPath, std::string& why)
    {
        const std::string name = systemPath + ".lock";
        const std::string host = hostPath(name);
        int fd;
        do {
            fd = ::open(host.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) {
            why = "its lock \"" + name + "\" "
                + (errno == ELOOP ? std::string("is a symbolic link") : "cannot be opened: " + std::string(std::strerror(errno)));
            return std::nullopt;
        }
        DomainLock lock(fd);
        struct stat info {};
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            why = "its lock \"" + name + "\" is not a regular file";
            return std::nullopt;
        }
        if (info.st_uid != effectiveOwner()) {
            why = "its lock \"" + name + "\" belongs to UID " + std::to_string(info.st_uid);
            return std::nullopt;
        }
        const auto limit = std::chrono::steady_clock::now()
            + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::duration<double>(kPreferenceLockWaitSeconds));
        while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) {
                why = "its lock \"" + name + "\" cannot be taken: " + std::strerror(errno);
                return std::nullopt;
            }
            if (std::chrono::steady_clock::now() >= limit) {
                why = "its lock \"" + name + "\" is held by another writer";
                return std::nullopt;
            }
            std::this_thread::sleep_for(kLockRetryPause);
        }
        return lock;
    }

    DomainLock(DomainLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) { }
    DomainLock& operator=(DomainLock&&) = delete;
    ~DomainLock()
    {
        // Closing the only descriptor of the lock lets it go.
        if (fd_ >= 0)
            ::close(fd_);
    }

private:
    explicit DomainLock(int fd) : fd_(fd) { }
    int fd_;
};

struct DomainRead {
    bool free = false;         // no file is left that a write would lose
    bool exists = false;       // a readable domain file is there
    bool wasUnreadable = false;
    std::string reason;        // why it could not be read
    Value domain;              // nil unless exists
    PropertyListFormat format = PropertyListFormat::XML;
};

// Reads the file on the domain files' terms, logging nothing.
DomainRead readDomainFile(const std::string& systemPath)
{
    DomainRead read;
    auto result = readPropertyList(hostPath(systemPath), domainFileTerms(), Value::Type::Dictionary, &read.format);
    read.exists = result.ok();
    read.free = result.ok() || result.status == PropertyListStatus::Missing;
    read.wasUnreadable = !read.free;
    read.reason = std::move(result.reason);
    read.domain = std::move(result.value);
    return read;
}

// A file left in place unread is logged once while it stays as it is: a
// program reads a domain several times in one task (the daemon at each
// push), and a user must not be able to fill the log by leaving a file
// nobody may read.
void logLeftInPlace(const std::string& systemPath, const std::string& line)
{
    struct Noted {
        std::string line;
        dev_t device;
        ino_t inode;
        struct timespec changed;
        off_t size;
    };
    static std::map<std::string, Noted> noted;
    const std::string host = hostPath(systemPath);
    struct stat info {};
    if (::lstat(host.c_str(), &info) == 0) {
        auto it = noted.find(host);
        if (it != noted.end() && it->second.line == line && it->second.device == info.st_dev
            && it->second.inode == info.st_ino && it->second.changed.tv_sec == info.st_ctim.tv_sec
            && it->second.changed.tv_nsec == info.st_ctim.tv_nsec && it->second.size == info.st_size)
            return;
        if (noted.size() >= 256)
            noted.clear();
        noted[host] = Noted {line, info.st_dev, info.st_ino, info.st_ctim, info.st_size};
    }
    logError("%s", line);
}

// Reads the file; when it exists but cannot be read, logs it and, when
// `repair` is set, moves it aside. The caller holds the domain's lock when
// it repairs, so that no writer's new file is moved aside in its place.
DomainRead readOrSetAside(const std::string& systemPath, bool repair)
{
    DomainRead read = readDomainFile(systemPath);
    if (!read.wasUnreadable)
        return read;
    if (!repair) {
        logLeftInPlace(systemPath, stringWithFormat("Preferences error: \"%s\" cannot be read (%s).\n", systemPath, read.reason));
        return read;
    }
    std::string why;
    if (auto copy = setAside(systemPath, why)) {
        logError("Preferences error: \"%s\" cannot be read (%s); moved it aside to \"%s\".\n", systemPath,
            read.reason, *copy);
        read.free = true;
        return read;
    }
    logLeftInPlace(systemPath,
        stringWithFormat("Preferences error: \"%s\" cannot be read (%s) and cannot be moved aside (%s); leaving it in place.\n",
            systemPath, read.reason, why));
    return read;
}

bool writeDomain(const std::string& systemPath, const Value& domain, PropertyListFormat format)
{
    std::string error;
    if (!writePropertyListFile(hostPath(systemPath), domain, format, &error, true)) {
        logError("Preferences error: Unable to write \"%s\": %s.\n", systemPath, error);
        return false;
    }
    return true;
}

bool removeDomainFile(const std::string& systemPath)
{
    if (::unlink(hostPath(systemPath).c_str()) != 0 && errno != ENOENT) {
        logError("Preferences error: Unable to remove \"%s\": %s.\n", systemPath, std::strerror(errno));
        return false;
    }
    return true;
}

bool fileIsThere(const std::string& systemPath)
{
    struct stat info {};
    return ::lstat(hostPath(systemPath).c_str(), &info) == 0;
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

PropertyListReadResult readPreferenceDomainFile(const std::string& systemPath)
{
    return readPropertyList(hostPath(systemPath), domainFileTerms(), Value::Type::Dictionary);
}

Value loadPreferenceDomain(const std::string& systemPath, bool setAsideUnreadable, bool* wasUnreadable)
{
    DomainRead read = readDomainFile(systemPath);
    if (read.wasUnreadable) {
        if (!setAsideUnreadable) {
            read = readOrSetAside(systemPath, false);
        } else if (std::string why; auto lock = DomainLock::acquire(systemPath, why)) {
            // Looked at again under the lock: a writer may have replaced the
            // file meanwhile, and that one must not be moved aside.
            read = readOrSetAside(systemPath, true);
        } else {
            logLeftInPlace(systemPath,
                stringWithFormat("Preferences error: \"%s\" cannot be read (%s) and cannot be moved aside (%s); leaving it in "
                                 "place.\n",
                    systemPath, read.reason, why));
        }
    }
    if (wasUnreadable)
        *wasUnreadable = read.wasUnreadable;
    return read.domain;
}

bool updatePreferenceDomain(const std::string& systemPath, const std::function<Value(Value current)>& change)
{
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(hostPath(systemPath)).parent_path(), ec);
    std::string why;
    auto lock = DomainLock::acquire(systemPath, why);
    if (!lock) {
        logError("Preferences error: Unable to write \"%s\": %s.\n", systemPath, why);
        return false;
    }
    // No other writer is at work now: what looks like a writer's temporary
    // file is one a killed writer left.
    removeLeftoverTemporaryFiles(hostPath(systemPath));
    DomainRead read = readOrSetAside(systemPath, true);
    if (!read.free)
        return false;
    Value updated = change(read.domain);
    if (updated.isNil())
        return !fileIsThere(systemPath) || removeDomainFile(systemPath);
    if (!updated.isDictionary() || !isStorablePreferenceValue(updated)) {
        logError("Preferences error: Unable to write \"%s\": not a dictionary of property-list values.\n", systemPath);
        return false;
    }
    if (read.exists && updated == read.domain)
        return true;
    return writeDomain(systemPath, updated, read.format);
}

bool storePreferenceDomain(const std::string& systemPath, const Value& domain)
{
    if (!domain.isDictionary() || !isStorablePreferenceValue(domain)) {
        logError("Preferences error: Unable to write \"%s\": not a dictionary of property-list values.\n", systemPath);
        return false;
    }
    return updatePreferenceDomain(systemPath, [&](const Value&) { return domain; });
}

bool removePreferenceDomain(const std::string& systemPath)
{
    if (!fileIsThere(systemPath))
        return true;
    return updatePreferenceDomain(systemPath, [](const Value&) { return Value(); });
}
