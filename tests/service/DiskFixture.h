// A fresh disk root for tests of what the machine finds on its disk, and
// helpers that lay out startup items, application bundles and login items
// on the disk root in force.
#pragma once

#include "Foundation/PropertyList.h"
#include "Paths/DiskRoot.h"
#include "support/TemporaryFolder.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>

class DiskFixture {
public:
    DiskFixture() { setDiskRoot(disk_.path()); }
    ~DiskFixture() { setDiskRoot({}); }

    const std::string& root() const { return disk_.path(); }

    // A file at a system path, its folders made; executable when asked.
    static void writeFile(const std::string& systemPath, const std::string& contents, bool executable = false)
    {
        const std::string host = hostPath(systemPath);
        std::filesystem::create_directories(std::filesystem::path(host).parent_path());
        std::ofstream(host) << contents;
        chmod(host.c_str(), executable ? 0755 : 0644);
    }
    static void writePropertyList(const std::string& systemPath, const Value& value)
    {
        writePropertyListFile(hostPath(systemPath), value, nullptr, true);
    }
    static void makeFolder(const std::string& systemPath) { std::filesystem::create_directories(hostPath(systemPath)); }

    static void writeStartupItem(const std::string& name, const std::string& script = "#!/bin/sh\nexit 0\n")
    {
        writeFile("/Library/StartupItems/" + name + "/" + name, script, true);
    }

    // An application bundle whose Info.plist holds these entries, with its
    // executable when the entries name one.
    static void writeBundle(const std::string& path, const Value& info, const std::string& script = "#!/bin/sh\nexit 0\n")
    {
        writePropertyListFile(hostPath(path + "/Contents/Info.plist"), info, nullptr, true);
        const std::string* executable = info["CFBundleExecutable"].string();
        if (executable && executable->find('/') == std::string::npos)
            writeFile(path + "/Contents/MacOS/" + *executable, script, true);
    }
    static void writeApplication(const std::string& path, const std::string& executable, const std::string& identifier,
        const std::string& script = "#!/bin/sh\nexit 0\n")
    {
        writeBundle(path, Value::dictionary({{"CFBundleExecutable", executable}, {"CFBundleIdentifier", identifier}}), script);
    }

    // The user's "loginwindow" domain with these login items (Path, Hide).
    static void writeLoginItems(const std::string& home, const Value& items)
    {
        writePropertyListFile(hostPath(home + "/Library/Preferences/loginwindow.plist"),
            Value::dictionary({{"AutoLaunchedApplicationDictionary", items}}), nullptr, true);
    }
    static Value loginItem(const std::string& path, bool hide = false)
    {
        return Value::dictionary({{"Path", path}, {"Hide", hide}});
    }

private:
    TemporaryFolder disk_;
};
