#include "ProcessManager/Processes.h"

#include "MachineLink/MachineLink.h"
#include "ProcessManager/ProcessTable.h"

namespace {

using Process = MachineLink::Process;

MachineLink& theMachine()
{
    return MachineLink::shared();
}

// The program's own table of the applications, when it keeps one.
ProcessTable* table()
{
    auto shared = ProcessTable::sharedInstance();
    return shared && shared->isArmed() ? shared.get() : nullptr;
}

bool isCurrentProcess(const ProcessSerialNumber& psn)
{
    return psn.highLongOfPSN == 0 && psn.lowLongOfPSN == kCurrentProcess;
}

// The application a serial number names, {0, kCurrentProcess} included.
std::optional<Process> resolve(const ProcessSerialNumber* psn)
{
    if (!psn)
        return std::nullopt;
    auto& link = theMachine();
    ProcessTable* known = table();
    if (isCurrentProcess(*psn)) {
        std::optional<Process> self = known ? known->self() : link.call(ops::processWithPid, link.program().pid);
        return self && self->application ? self : std::nullopt;
    }
    const machine::ProcessSerial serial {psn->highLongOfPSN, psn->lowLongOfPSN};
    if (known) {
        if (std::optional<Process> p = known->withSerial(serial))
            return p;
    }
    return link.call(ops::processWithSerial, serial);
}

ProcessSerialNumber serialOf(const Process& p)
{
    return {p.serial.high, p.serial.low};
}

OSStatus injected(const char* operation)
{
    return theMachine().take(operation);
}

} // namespace

OSErr GetFrontProcess(ProcessSerialNumber* psn)
{
    if (!psn)
        return paramErr;
    if (OSStatus r = injected("GetFrontProcess"))
        return static_cast<OSErr>(r);
    ProcessTable* known = table();
    std::optional<Process> front = known ? known->front() : theMachine().call(ops::frontProcess);
    if (!front)
        return procNotFound;
    *psn = serialOf(*front);
    return noErr;
}

OSErr GetNextProcess(ProcessSerialNumber* psn)
{
    if (!psn)
        return paramErr;
    if (OSStatus r = injected("GetNextProcess"))
        return static_cast<OSErr>(r);
    ProcessTable* known = table();
    std::vector<Process> fetched = known ? std::vector<Process>() : theMachine().call(ops::applications);
    const std::vector<Process>& applications = known ? known->applications() : fetched;
    std::size_t next = 0;
    if (!(psn->highLongOfPSN == 0 && psn->lowLongOfPSN == kNoProcess)) {
        std::optional<Process> current = resolve(psn);
        if (!current)
            return paramErr;
        while (next < applications.size() && applications[next].pid != current->pid)
            ++next;
        ++next;
    }
    if (next >= applications.size()) {
        *psn = {0, kNoProcess};
        return procNotFound;
    }
    *psn = serialOf(applications[next]);
    return noErr;
}

OSStatus GetProcessPID(const ProcessSerialNumber* psn, pid_t* pid)
{
    if (!psn || !pid)
        return paramErr;
    if (OSStatus r = injected("GetProcessPID"))
        return r;
    std::optional<Process> p = resolve(psn);
    if (!p)
        return procNotFound;
    *pid = p->pid;
    return noErr;
}

OSStatus GetProcessForPID(pid_t pid, ProcessSerialNumber* psn)
{
    if (!psn)
        return paramErr;
    if (OSStatus r = injected("GetProcessForPID"))
        return r;
    ProcessTable* known = table();
    std::optional<Process> p = known ? known->withPid(pid) : std::nullopt;
    if (!p)
        p = theMachine().call(ops::processWithPid, pid);
    if (!p || !p->application)
        return procNotFound;
    *psn = serialOf(*p);
    return noErr;
}

OSErr SameProcess(const ProcessSerialNumber* psn1, const ProcessSerialNumber* psn2, Boolean* result)
{
    if (!psn1 || !psn2 || !result)
        return paramErr;
    if (OSStatus r = injected("SameProcess"))
        return static_cast<OSErr>(r);
    std::optional<Process> a = resolve(psn1);
    std::optional<Process> b = resolve(psn2);
    if (!a || !b)
        return procNotFound;
    *result = a->pid == b->pid;
    return noErr;
}

OSStatus CopyProcessName(const ProcessSerialNumber* psn, Value* name)
{
    if (!psn || !name)
        return paramErr;
    if (OSStatus r = injected("CopyProcessName"))
        return r;
    std::optional<Process> p = resolve(psn);
    if (!p)
        return procNotFound;
    *name = p->name.empty() ? Value() : Value(p->name);
    return noErr;
}

Value ProcessInformationCopyDictionary(const ProcessSerialNumber* psn, UInt32 infoToReturn)
{
    if (injected("ProcessInformationCopyDictionary") || infoToReturn == 0)
        return {};
    std::optional<Process> p = resolve(psn);
    if (!p)
        return {};
    Value info = Value::dictionary();
    if (!p->name.empty())
        info.set("CFBundleName", p->name);
    if (!p->bundleIdentifier.empty())
        info.set("CFBundleIdentifier", p->bundleIdentifier);
    if (!p->bundlePath.empty())
        info.set("BundlePath", p->bundlePath);
    if (!p->creator.empty())
        info.set("FileCreator", p->creator);
    info.set("FileType", "APPL");
    info.set("pid", p->pid);
    info.set("PSN", (static_cast<std::uint64_t>(p->serial.high) << 32) | p->serial.low);
    return info;
}
