#include "support/MachineHarness.h"

#include "AppKit/NSWorkspace.h"
#include "Carbon/CarbonEvents.h"
#include "Defaults/CFPreferences.h"
#include "Foundation/PropertyList.h"
#include "Foundation/SharedInstance.h"
#include "Paths/DiskRoot.h"
#include "Defaults/NSUserDefaults.h"
#include "Notifications/DistributedNotificationCenter.h"

#include "DistributedObjects/PortNameServer.h"
#include "Foundation/Format.h"
#include "IOKit/IOKitLib.h"
#include "Notifications/NotificationCenter.h"
#include "Paths/DiskRoot.h"
#include "RunLoop/RunLoop.h"

// Captures every line with the date it was written at.
class MachineHarness::Log final : public LogSink {
public:
    void write(LogChannel channel, int priority, const std::string& message) override
    {
        lines_.write(channel, priority, message);
        dates_.push_back(currentDate());
    }
    std::vector<std::string> lines() const { return lines_.lines(); }
    const std::vector<CapturingLogSink::Entry>& entries() const { return lines_.entries(); }
    const std::vector<double>& dates() const { return dates_; }
    void clear()
    {
        lines_.clear();
        dates_.clear();
    }

private:
    CapturingLogSink lines_;
    std::vector<double> dates_;
};

MachineHarness::MachineHarness() : log_(std::make_shared<Log>())
{
    setLogSink(log_);
    resetWorld();
    setDiskRoot(disk_.path());
    start_ = currentDate();
}

MachineHarness::~MachineHarness()
{
    for (auto& timer : timers_)
        timer->invalidate();
    resetWorld();
    setDiskRoot({});
    setLogSink(nullptr);
}

void MachineHarness::resetWorld()
{
    // The system's shared objects go first, as a new process starts without
    // them, while what they are registered with still stands.
    releaseSharedInstances();
    // Preference state kept by the process would otherwise reach the next
    // test (the standard defaults object is let go of before the disk).
    NSUserDefaults::resetStandardUserDefaults();
    CFPreferencesDiscardPendingChangesForTesting();
    DistributedNotificationCenter::resetForTesting();
    RunLoop::current().removeAllSourcesForTesting();
    NotificationCenter::defaultCenter().removeAllObserversForTesting();
    PortNameServer::systemDefaultPortNameServer().resetForTesting();
    IOKitResetForTesting();
    ApplicationEventTarget::shared().resetForTesting();
    NSWorkspace::resetForTesting();
    machine::Machine::shared().reset();
    resetVerboseLoggingForTesting();
}

void MachineHarness::createHomeFolderAfter(double seconds, const std::string& name)
{
    timers_.push_back(Timer::scheduledTimer(seconds, false, [this, name](Timer&) { createHomeFolder(name); }));
}

void MachineHarness::runAsUser(std::uint32_t uid)
{
    machine().setRealUserId(uid);
    machine().setEffectiveUserId(uid);
}

std::uint32_t MachineHarness::loginSession(const std::string& name)
{
    const machine::LoginSession* session = machine().loginSessions().login(name);
    return session ? session->id : 0;
}

void MachineHarness::runAsProcess(int pid)
{
    machine().setProgramPid(pid);
}

void MachineHarness::runFor(double seconds)
{
    RunLoop::current().runUntilDate(currentDate() + seconds);
}

double MachineHarness::elapsed() const
{
    return currentDate() - start_;
}

std::vector<std::string> MachineHarness::logLines() const
{
    return log_->lines();
}

const std::vector<CapturingLogSink::Entry>& MachineHarness::logEntries() const
{
    return log_->entries();
}

void MachineHarness::clearLog()
{
    log_->clear();
}

std::vector<std::string> MachineHarness::timedLogLines() const
{
    std::vector<std::string> out;
    const auto& entries = log_->entries();
    for (std::size_t i = 0; i < entries.size(); ++i)
        out.push_back(stringWithFormat("%.3f %@", log_->dates()[i] - start_, entries[i].text));
    return out;
}

std::vector<std::string> MachineHarness::takeLogLines()
{
    auto lines = log_->lines();
    log_->clear();
    return lines;
}

void MachineHarness::recordNotifications(const std::vector<std::string>& names)
{
    for (const auto& name : names) {
        NotificationCenter::defaultCenter().addObserver(
            this, [this](const Notification& n) { notifications_.push_back(n.name + " " + n.object.description()); }, name);
    }
}

std::vector<std::string> MachineHarness::takeNotifications()
{
    auto out = std::move(notifications_);
    notifications_.clear();
    return out;
}

void MachineHarness::writeUserSettings(const std::string& name, const Value& domain)
{
    writePropertyListFile(hostPath("/Users/" + name + "/Library/Preferences/com.tessmoor.Arvel.plist"), domain, nullptr, true);
}

void MachineHarness::writeUserGlobalPreferences(const std::string& name, const Value& domain)
{
    writePropertyListFile(hostPath("/Users/" + name + "/Library/Preferences/.GlobalPreferences.plist"), domain, nullptr, true);
}

std::string MachineHarness::systemSettingsPath()
{
    return "/Library/Preferences/ByHost/com.tessmoor.Arvel." + machine::Machine::shared().hostIdentifier() + ".plist";
}

void MachineHarness::writeSystemSettings(const Value& domain)
{
    writePropertyListFile(hostPath(systemSettingsPath()), domain, nullptr, true);
}

Value MachineHarness::readSystemSettings() const
{
    return readPropertyList(hostPath(systemSettingsPath())).value;
}
