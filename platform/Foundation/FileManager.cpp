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
