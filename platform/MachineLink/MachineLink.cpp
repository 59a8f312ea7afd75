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
    std::optional<User> user = call(ops::userWithId, program().effectiveUid);
    return user ? user->home : std::string();
}
