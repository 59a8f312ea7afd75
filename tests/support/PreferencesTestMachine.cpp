#include "support/PreferencesTestMachine.h"

#include "Defaults/CFPreferences.h"
#include "Defaults/NSUserDefaults.h"
#include "Foundation/PropertyList.h"
#include "Foundation/SharedInstance.h"
#include "Paths/DiskRoot.h"
#include "machine/Machine.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

void forgetProcessPreferenceState()
{
    // The shared settings store among them.
    releaseSharedInstances();
    NSUserDefaults::resetStandardUserDefaults();
    CFPreferencesDiscardPendingChangesForTesting();
}

} // namespace

PreferencesTestMachine::PreferencesTestMachine()
{
    setDiskRoot(root_.path());
    machine::Machine::shared().reset();
    forgetProcessPreferenceState();
}

PreferencesTestMachine::~PreferencesTestMachine()
{
    forgetProcessPreferenceState();
    machine::Machine::shared().reset();
    setDiskRoot("");
}

void PreferencesTestMachine::addUser(const std::string& name, std::uint32_t uid)
{
    machine::Machine::shared().users().addUser(name, uid);
}

void PreferencesTestMachine::actAs(std::uint32_t uid)
{
    machine::Machine::shared().setEffectiveUserId(uid);
}

bool PreferencesTestMachine::exists(const std::string& systemPath) const
{
    std::error_code ec;
    return std::filesystem::exists(hostPath(systemPath), ec);
}

void PreferencesTestMachine::writeFile(const std::string& systemPath, const std::string& contents) const
{
    std::filesystem::path p(hostPath(systemPath));
    std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary);
    out << contents;
}

std::string PreferencesTestMachine::readFile(const std::string& systemPath) const
{
    std::ifstream in(hostPath(systemPath), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void PreferencesTestMachine::writeDomain(const std::string& systemPath, const Value& domain) const
{
    std::string error;
    if (!writePropertyListFile(hostPath(systemPath), domain, &error, true))
        throw std::runtime_error("cannot seed " + systemPath + ": " + error);
}

Value PreferencesTestMachine::readDomain(const std::string& systemPath) const
{
    return readPropertyList(hostPath(systemPath)).value;
}

std::vector<std::string> PreferencesTestMachine::filesIn(const std::string& systemFolder) const
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(hostPath(systemFolder), ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}
