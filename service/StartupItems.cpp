#include "service/StartupItems.h"

#include "Paths/DiskRoot.h"

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

std::string StartupItems::unsafeForRoot(const std::string& systemPath)
{
    struct stat info {};
    if (::stat(hostPath(systemPath).c_str(), &info) != 0)
        return "\"" + systemPath + "\" cannot be examined";
    if (info.st_uid != 0)
        return "\"" + systemPath + "\" is not owned by root";
    if (info.st_mode & (S_IWGRP | S_IWOTH))
        return "\"" + systemPath + "\" may be written by others than root";
    return {};
}

StartupItems StartupItems::find(bool requireRootOwnership)
{
    namespace fs = std::filesystem;
    StartupItems found;
    std::error_code error;
    std::vector<std::string> names;
    for (fs::directory_iterator it(hostPath(kFolder), error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        if (!name.empty() && name[0] != '.')
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string folder = std::string(kFolder) + "/" + name;
        const std::string executable = folder + "/" + name;
        if (!fs::is_directory(hostPath(folder), error)) {
            found.skipped_.push_back(name + ": not a folder");
            continue;
        }
        if (!fs::is_regular_file(hostPath(executable), error)) {
            found.skipped_.push_back(name + ": no executable \"" + executable + "\"");
            continue;
        }
        if (requireRootOwnership) {
            std::string unsafe = unsafeForRoot(folder);
            if (unsafe.empty())
                unsafe = unsafeForRoot(executable);
            if (!unsafe.empty()) {
                found.skipped_.push_back(name + ": " + unsafe);
                continue;
            }
        }
        found.items_.push_back({name, executable});
    }
    return found;
}

std::string StartupItems::installCheck(bool requireRootOwnership, std::string* why)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const std::string path = kInstallCheck;
    if (!fs::is_regular_file(hostPath(path), error))
        return {};
    if (requireRootOwnership) {
        std::string unsafe = unsafeForRoot(fs::path(path).parent_path().string());
        if (unsafe.empty())
            unsafe = unsafeForRoot(path);
        if (!unsafe.empty()) {
            if (why)
                *why = unsafe;
            return {};
        }
    }
    return path;
}
