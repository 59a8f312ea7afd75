#include "Foundation/FileManager.h"

#include "Foundation/PropertyListFile.h"
#include "Paths/DiskRoot.h"
#include "MachineLink/MachineLink.h"

#include <sys/stat.h>

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

Value propertyListWithContentsOfFile(const std::string& systemPath, std::size_t maximumBytes)
{
    if (systemPath.empty())
        return {};
    PropertyListReadResult read = readPropertyList(hostPath(systemPath), PropertyListFileTerms {true, std::nullopt, maximumBytes});
    return read.ok() ? read.value : Value();
}
