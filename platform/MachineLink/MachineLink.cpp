#include "MachineLink/MachineLink.h"

#include "Bus/MessageBus.h"
#include "Log/Log.h"
#include "MachineLink/BusMachineLink.h"
#include "MachineLink/LocalMachineLink.h"

#include <cerrno>

namespace {

std::optional<std::string> configuredService()
{
    return environmentValue(kMachineServiceVariable);
}

} // namespace

bool MachineLink::usesBus()
{
    // A machine service is reached over the program's bus; without a bus
    // the name is no use and the program keeps its machine in process.
    static const bool bus = configuredService() && MessageBus::isConfigured();
    return bus;
}

MachineLink& MachineLink::shared()
{
    // Never destroyed: handles given back while the program exits still
    // reach the machine.
    static MachineLink* link = [] {
        if (!usesBus())
            return static_cast<MachineLink*>(new LocalMachineLink);
        auto* bus = new BusMachineLink(*configuredService());
        // What the program writes to syslog also lands in the machine's
        // system log, under its name and machine pid.
        setSyslogMirror([bus](int priority, const std::string& message) {
            bus->call(ops::appendSystemLog, program_invocation_short_name, bus->program().pid, priority, message);
        });
        return static_cast<MachineLink*>(bus);
    }();
    return *link;
}

std::uint32_t MachineLink::programSession()
{
    int pid = program().pid;
    if (identityIsLifelong() && pid && pid == sessionPid_)
        return session_;
    std::optional<Process> self = pid ? call(ops::processWithPid, pid) : std::nullopt;
    if (self && self->session) {
        sessionPid_ = pid;
        session_ = self->session;
    }
    return self ? self->session : 0;
}

std::string MachineLink::expandTilde(const std::string& path)
{
    // Only a path that starts with "~" needs the machine's user table.
    if (path.empty() || path[0] != '~')
        return path;
    // A machine that cannot be asked leaves the path as it is.
    std::string expanded = call(ops::expandTilde, path, program().effectiveUid);
    return expanded.empty() ? path : expanded;
}

std::string MachineLink::effectiveUserHome()
{
    std::optional<User> user = userWithId(program().effectiveUid);
    return user ? user->home : std::string();
}

std::optional<MachineLink::User> MachineLink::userWithId(std::uint32_t uid)
{
    if (identityIsLifelong()) {
        if (auto known = users_.find(uid); known != users_.end())
            return known->second;
    }
    std::optional<User> user = call(ops::userWithId, uid);
    // Kept only for a real program, and only so many: a program that asks
    // for every id there is keeps asking.
    if (user && identityIsLifelong() && users_.size() < 64)
        users_.emplace(uid, *user);
    return user;
}

std::string MachineLink::hostIdentifier()
{
    if (identityIsLifelong() && !hostIdentifier_.empty())
        return hostIdentifier_;
    std::string identifier = call(ops::hostIdentifier);
    if (identityIsLifelong())
        hostIdentifier_ = identifier;
    return identifier;
}
