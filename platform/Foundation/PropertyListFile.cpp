#include "Foundation/PropertyList.h"

#include "Foundation/Format.h"
#include "Log/Log.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

PropertyListReadResult readPropertyList(const std::string& path, std::optional<Value::Type> expectedRoot)
{
    PropertyListReadResult result;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        result.status = PropertyListStatus::Missing;
        result.reason = "no such file";
        return result;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in || std::filesystem::is_directory(path, ec)) {
        result.status = PropertyListStatus::Unreadable;
        result.reason = "cannot be opened";
        return result;
    }
    std::ostringstream contents;
    contents << in.rdbuf();
    auto parsed = propertyListFromData(contents.str());
    if (!parsed) {
        result.status = PropertyListStatus::NotAPropertyList;
        result.reason = "not a property list";
        return result;
    }
    if (expectedRoot && parsed->type() != *expectedRoot) {
        result.status = PropertyListStatus::UnexpectedRootType;
        result.reason = stringWithFormat("root is %s, not %s", valueTypeName(parsed->type()), valueTypeName(*expectedRoot));
        return result;
    }
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
    auto fail = [&](std::string why) {
        if (error)
            *error = std::move(why);
        return false;
    };
    auto xml = xmlPropertyListData(value);
    if (!xml)
        return fail("the value cannot be written as a property list");
    std::filesystem::path target(path);
    std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    std::error_code ec;
    if (createFolders)
        std::filesystem::create_directories(folder, ec);
    std::string temporary = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    int fd = mkstemp(temporary.data());
    if (fd < 0)
        return fail(std::string("cannot create a temporary file: ") + std::strerror(errno));
    const char* p = xml->data();
    std::size_t left = xml->size();
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
