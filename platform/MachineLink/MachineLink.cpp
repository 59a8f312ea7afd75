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
            bus->appendSystemLog(program_invocation_short_name, bus->programPid(), priority, message);
        });
        return static_cast<MachineLink*>(bus);
    }();
    return *link;
}
