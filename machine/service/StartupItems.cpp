#include "machine/service/StartupItems.h"

#include "Paths/DiskRoot.h"

#include <algorithm>
#include <filesystem>

StartupItems StartupItems::find()
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
        found.items_.push_back({name, executable});
    }
    return found;
}
