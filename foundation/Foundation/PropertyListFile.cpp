#include "Foundation/PropertyListFile.h"

#include "Foundation/Format.h"
#include "Log/Log.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t kTemporarySuffixLength = 6; // mkstemp's XXXXXX

std::string temporaryPrefix(const std::filesystem::path& target)
{
    return "." + target.filename().string() + ".";
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) { }
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

} // namespace

PropertyListReadResult readPropertyList(const std::string& path, std::optional<Value::Type> expectedRoot)
{
    return readPropertyList(path, PropertyListFileTerms {}, expectedRoot);
}

PropertyListReadResult readPropertyList(const std::string& path, const PropertyListFileTerms& terms,
    std::optional<Value::Type> expectedRoot, PropertyListFormat* format)
{
    PropertyListReadResult result;
    auto refused = [&](PropertyListStatus status, std::string reason) {
        result.status = status;
        result.reason = std::move(reason);
        return result;
    };
    // Never waits: a FIFO opens at once without a writer, and is refused
    // below with every other file that is not a regular one.
    int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | (terms.followLinks ? 0 : O_NOFOLLOW);
    int fd;
    do {
        fd = ::open(path.c_str(), flags);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return refused(PropertyListStatus::Missing, "no such file");
        if (errno == ELOOP && !terms.followLinks)
            return refused(PropertyListStatus::Unreadable, "a symbolic link");
        return refused(PropertyListStatus::Unreadable, std::strerror(errno));
    }
    Descriptor file(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return refused(PropertyListStatus::Unreadable, std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        return refused(PropertyListStatus::Unreadable, S_ISDIR(info.st_mode) ? "a folder" : "not a regular file");
    if (terms.owner && info.st_uid != *terms.owner)
        return refused(PropertyListStatus::Unreadable,
            "owned by UID " + std::to_string(info.st_uid) + ", not UID " + std::to_string(*terms.owner));
    const std::string tooLarge = "larger than " + std::to_string(terms.maximumBytes) + " bytes";
    if (static_cast<std::uintmax_t>(info.st_size) > terms.maximumBytes)
        return refused(PropertyListStatus::Unreadable, tooLarge);
    // One byte past the limit tells a file that grew since fstat.
    std::string contents(static_cast<std::size_t>(info.st_size) + 1, '\0');
    std::size_t got = 0;
    for (;;) {
        if (got == contents.size()) {
            if (got > terms.maximumBytes)
                break;
            contents.resize(std::min(terms.maximumBytes + 1, contents.size() * 2));
        }
        ssize_t n = ::read(fd, contents.data() + got, contents.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return refused(PropertyListStatus::Unreadable, std::strerror(errno));
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    if (got > terms.maximumBytes)
        return refused(PropertyListStatus::Unreadable, tooLarge);
    contents.resize(got);
    auto parsed = propertyListFromData(contents, format);
    if (!parsed)
        return refused(PropertyListStatus::NotAPropertyList, "not a property list");
    if (expectedRoot && parsed->type() != *expectedRoot)
        return refused(PropertyListStatus::UnexpectedRootType,
            stringWithFormat("root is %s, not %s", valueTypeName(parsed->type()), valueTypeName(*expectedRoot)));
    result.status = PropertyListStatus::Ok;
    result.value = std::move(*parsed);
    return result;
}

Value readPropertyListFile(const std::string& path, std::optional<Value::Type> expectedRoot)
{
    auto result = readPropertyList(path, expectedRoot);
    if (!result.ok())
        logError("PropertyList error: Unable to read \"%s\": %s.\n", path, result.reason);
    return std::move(result.value);
}

bool writePropertyListFile(const std::string& path, const Value& value, std::string* error, bool createFolders)
{
    return writePropertyListFile(path, value, PropertyListFormat::XML, error, createFolders);
}

bool writePropertyListFile(
    const std::string& path, const Value& value, PropertyListFormat format, std::string* error, bool createFolders)
{
    auto fail = [&](std::string why) {
        if (error)
            *error = std::move(why);
        return false;
    };
    auto data = propertyListData(value, format);
    if (!data)
        return fail("the value cannot be written as a property list");
    std::filesystem::path target(path);
    std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    std::error_code ec;
    if (createFolders)
        std::filesystem::create_directories(folder, ec);
    std::string temporary = (folder / (temporaryPrefix(target) + std::string(kTemporarySuffixLength, 'X'))).string();
    int fd = mkstemp(temporary.data());
    if (fd < 0)
        return fail(std::string("cannot create a temporary file: ") + std::strerror(errno));
    const char* p = data->data();
    std::size_t left = data->size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            std::string why = std::string("write failed: ") + std::strerror(errno);
            ::close(fd);
            ::unlink(temporary.c_str());
            return fail(why);
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    fchmod(fd, 0644);
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        ::unlink(temporary.c_str());
        return fail(std::string("flush failed: ") + std::strerror(errno));
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        std::string why = std::string("rename failed: ") + std::strerror(errno);
        ::unlink(temporary.c_str());
        return fail(why);
    }
    int dirfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dirfd >= 0) {
        ::fsync(dirfd);
        ::close(dirfd);
    }
    return true;
}

void removeLeftoverTemporaryFiles(const std::string& path)
{
    std::filesystem::path target(path);
    std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    const std::string prefix = temporaryPrefix(target);
    auto isTemporarySuffix = [](std::string_view suffix) {
        return suffix.size() == kTemporarySuffixLength
            && std::all_of(suffix.begin(), suffix.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
    };
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) != 0 || !isTemporarySuffix(std::string_view(name).substr(prefix.size())))
            continue;
        // Unlinking a name never follows it; a folder is nobody's leftover.
        struct stat info {};
        if (::lstat(entry.path().c_str(), &info) == 0 && !S_ISDIR(info.st_mode))
            ::unlink(entry.path().c_str());
    }
}
