#include "Foundation/FileManager.h"

#include "Paths/DiskRoot.h"
#include "MachineLink/MachineLink.h"

#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string expandTildeInPath(const std::string& path)
{
    return MachineLink::shared().expandTilde(path);
}

bool fileExistsAtPath(const std::string& systemPath)
{
    return fileExistsAtPath(systemPath, nullptr);
}

bool fileExistsAtPath(const std::string& systemPath, bool* isDirectory)
{
    if (systemPath.empty())
        return false;
    struct stat st {};
    if (::stat(hostPath(systemPath).c_str(), &st) != 0)
        return false;
    if (isDirectory)
        *isDirectory = S_ISDIR(st.st_mode);
    return true;
}

std::optional<std::string> contentsAtPath(const std::string& systemPath, std::size_t maximumBytes)
{
    if (systemPath.empty())
        return std::nullopt;
    const int fd = ::open(hostPath(systemPath).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::optional<std::string> contents;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        // One byte beyond the limit tells a file that is too large, even
        // one that grows while it is read.
        std::string bytes;
        char buffer[8192];
        ssize_t got = 0;
        while (bytes.size() <= maximumBytes && (got = ::read(fd, buffer, sizeof buffer)) > 0)
            bytes.append(buffer, static_cast<std::size_t>(got));
        if (got >= 0 && bytes.size() <= maximumBytes)
            contents = std::move(bytes);
    }
    ::close(fd);
    return contents;
}

bool removeFileAtPath(const std::string& systemPath)
{
    if (systemPath.empty())
        return false;
    std::error_code error;
    std::filesystem::remove_all(hostPath(systemPath), error);
    return !error;
}

NSFileManager* NSFileManager::defaultManager()
{
    static NSFileManager manager;
    return MachineLink::shared().take("NSFileManager") ? nullptr : &manager;
}

std::string lastPathComponent(const std::string& path)
{
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    auto slash = trimmed.rfind('/');
    return slash == std::string::npos || trimmed == "/" ? trimmed : trimmed.substr(slash + 1);
}

Value fileAttributesAtPathTraverseLink(const std::string& systemPath)
{
    bool folder = false;
    if (!fileExistsAtPath(systemPath, &folder))
        return Value();
    Value attributes = Value::dictionary({{"NSFileType", folder ? "NSFileTypeDirectory" : "NSFileTypeRegular"}});
    if (!folder)
        return attributes;
    // "APPL" then the creator; a file that says anything else carries none.
    constexpr std::size_t kPkgInfoSize = 8;
    std::optional<std::string> pkgInfo = contentsAtPath(systemPath + "/Contents/PkgInfo", 64);
    if (pkgInfo && pkgInfo->size() >= kPkgInfoSize && pkgInfo->compare(0, 4, "APPL") == 0) {
        std::uint32_t code = 0;
        for (std::size_t i = 4; i < kPkgInfoSize; ++i)
            code = (code << 8) | static_cast<unsigned char>((*pkgInfo)[i]);
        attributes.set("NSFileHFSCreatorCode", static_cast<long long>(code));
    }
    return attributes;
}

std::string NSFileTypeForHFSTypeCode(std::uint32_t code)
{
    if (code == 0)
        return "''";
    std::string out = "'";
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>((code >> shift) & 0xFF);
    return out + "'";
}

std::string displayNameAtPath(const std::string& systemPath)
{
    return lastPathComponent(systemPath);
}
