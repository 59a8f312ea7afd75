#include "InstallTool.h"

#include "Log/Log.h"
#include "Paths/DiskRoot.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string why(int error)
{
    return std::strerror(error);
}

// Copies what lies at `from` to `to` (which must not exist) without
// following any link, giving everything to root: folders and programs
// 0755, other files 0644. False with the reason.
bool copyTree(const std::string& from, const std::string& to, std::string* problem)
{
    struct stat info {};
    if (::lstat(from.c_str(), &info) != 0) {
        *problem = from + ": " + why(errno);
        return false;
    }
    if (S_ISLNK(info.st_mode)) {
        std::string target(4096, '\0');
        ssize_t length = ::readlink(from.c_str(), target.data(), target.size());
        if (length < 0 || static_cast<std::size_t>(length) == target.size() || ::symlink(target.substr(0, length).c_str(), to.c_str()) != 0) {
            *problem = to + ": " + why(errno);
            return false;
        }
        return ::lchown(to.c_str(), 0, 0) == 0 || (*problem = to + ": " + why(errno), false);
    }
    if (S_ISDIR(info.st_mode)) {
        if (::mkdir(to.c_str(), 0700) != 0) {
            *problem = to + ": " + why(errno);
            return false;
        }
        std::error_code error;
        for (fs::directory_iterator it(from, error), end; !error && it != end; it.increment(error))
            if (!copyTree(it->path().string(), to + "/" + it->path().filename().string(), problem))
                return false;
        if (error) {
            *problem = from + ": " + error.message();
            return false;
        }
        if (::chown(to.c_str(), 0, 0) != 0 || ::chmod(to.c_str(), 0755) != 0) {
            *problem = to + ": " + why(errno);
            return false;
        }
        return true;
    }
    if (!S_ISREG(info.st_mode))
        return true; // nothing else belongs in a bundle
    int in = ::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    int out = in < 0 ? -1 : ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    bool ok = out >= 0;
    char buffer[65536];
    while (ok) {
        ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got == 0)
            break;
        ok = got > 0 && ::write(out, buffer, static_cast<std::size_t>(got)) == got;
    }
    const mode_t mode = (info.st_mode & 0111) ? 0755 : 0644;
    ok = ok && ::fchown(out, 0, 0) == 0 && ::fchmod(out, mode) == 0;
    if (!ok)
        *problem = to + ": " + why(errno);
    if (in >= 0)
        ::close(in);
    if (out >= 0)
        ::close(out);
    return ok;
}

// Makes the folders on the way to an item, refusing one that is a link or
// not root's: whoever could change it could point root's writes elsewhere.
bool prepareParents(const std::string& systemFolder, std::string* problem)
{
    std::string system;
    for (const auto& part : fs::path(systemFolder)) {
        if (part == "/")
            continue;
        system += "/" + part.string();
        const std::string host = hostPath(system);
        struct stat info {};
        if (::lstat(host.c_str(), &info) != 0) {
            if (errno != ENOENT || ::mkdir(host.c_str(), 0755) != 0 || ::chown(host.c_str(), 0, 0) != 0) {
                *problem = system + ": " + why(errno);
                return false;
            }
            continue;
        }
        if (!S_ISDIR(info.st_mode) || info.st_uid != 0 || (info.st_mode & 0022)) {
            *problem = system + " is not a folder that only root may change";
            return false;
        }
    }
    return true;
}

bool exists(const std::string& host)
{
    struct stat info {};
    return ::lstat(host.c_str(), &info) == 0;
}

// Removes a leftover without following links; false when it stays.
bool clear(const std::string& host, std::string* problem)
{
    std::error_code error;
    fs::remove_all(host, error);
    if (error)
        *problem = host + ": " + error.message();
    return !error;
}

} // namespace

InstallTool::InstallTool(std::string resources) : resources_(std::move(resources)) {}

const std::vector<InstallTool::Item>& InstallTool::items()
{
    static const std::vector<Item> all {
        {"Arvel.kext", "/System/Library/Extensions/Arvel.kext"},
        {"StartupItems/Arvel", "/Library/StartupItems/Arvel"},
        {"Arvel.prefPane", "/Library/PreferencePanes/Arvel.prefPane"},
    };
    return all;
}

int InstallTool::run(const std::vector<std::string>& arguments, unsigned effectiveUserId)
{
    if (arguments.size() != 1 || (arguments[0] != "--install" && arguments[0] != "--uninstall")) {
        logError("InstallTool error: Usage: InstallTool --install | --uninstall\n");
        return BadArguments;
    }
    if (effectiveUserId != 0) {
        logError("InstallTool error: Must run as root, not as UID %u.\n", effectiveUserId);
        return NotRoot;
    }
    return arguments[0] == "--install" ? install() : uninstall();
}

int InstallTool::install()
{
    // Every resource is checked before anything changes: a package missing
    // one would leave a system that does not work.
    for (const Item& item : items()) {
        struct stat info {};
        const std::string from = resources_ + "/" + item.resource;
        if (::lstat(from.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            logError("InstallTool error: Missing resource \"%s\" in %@.\n", item.resource, resources_);
            return MissingResources;
        }
    }
    int result = Success;
    for (const Item& item : items())
        if (!installItem(item))
            result = Failed;
    return result;
}

bool InstallTool::installItem(const Item& item)
{
    const fs::path place(item.path);
    const std::string folder = place.parent_path().string();
    const std::string name = place.filename().string();
    const std::string target = hostPath(item.path);
    const std::string staged = hostPath(folder + "/." + name + ".installing");
    std::string problem;
    bool ok = prepareParents(folder, &problem) && clear(staged, &problem) && copyTree(resources_ + "/" + item.resource, staged, &problem);
    if (ok && exists(target)) {
        // One rename puts the new version in place and the old one where the
        // new one was staged.
        ok = ::renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0;
        if (!ok)
            problem = item.path + std::string(": ") + why(errno);
        ok = ok && clear(staged, &problem);
    } else if (ok) {
        ok = ::rename(staged.c_str(), target.c_str()) == 0;
        if (!ok)
            problem = item.path + std::string(": ") + why(errno);
    }
    if (!ok) {
        std::string ignored;
        clear(staged, &ignored);
        logError("InstallTool error: Unable to install %s: %@.\n", item.path, problem);
        return false;
    }
    logNotice("InstallTool: Installed %s.\n", item.path);
    return true;
}

int InstallTool::uninstall()
{
    int result = Success;
    for (const Item& item : items())
        if (!uninstallItem(item))
            result = Failed;
    return result;
}

bool InstallTool::uninstallItem(const Item& item)
{
    const fs::path place(item.path);
    const std::string target = hostPath(item.path);
    const std::string aside = hostPath(place.parent_path().string() + "/." + place.filename().string() + ".removing");
    std::string problem;
    if (!clear(aside, &problem)) {
        logError("InstallTool error: Unable to remove %s: %@.\n", item.path, problem);
        return false;
    }
    if (!exists(target))
        return true;
    // Out of its place at once, then taken apart.
    if (::rename(target.c_str(), aside.c_str()) != 0) {
        logError("InstallTool error: Unable to remove %s: %s.\n", item.path, why(errno).c_str());
        return false;
    }
    if (!clear(aside, &problem))
        logError("InstallTool error: Unable to remove %s: %@.\n", item.path, problem);
    logNotice("InstallTool: Removed %s.\n", item.path);
    return true;
}
