#include "ProcessManager/Processes.h"

#include "CoreFoundation/CFString.h"
#include "MachineLink/MachineLink.h"
#include "ProcessManager/ProcessTable.h"

#include <algorithm>
#include <cstring>

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
    // A program inside a login session sees that session's applications;
    // a daemon sees them all.
    std::optional<Process> self = known ? known->self() : std::nullopt;
    const std::uint32_t session = known ? (self ? self->session : 0) : theMachine().programSession();
    auto visible = [session](const Process& p) { return session == 0 || p.session == session; };
    std::size_t next = 0;
    if (!(psn->highLongOfPSN == 0 && psn->lowLongOfPSN == kNoProcess)) {
        std::optional<Process> current = resolve(psn);
        if (!current)
            return paramErr;
        while (next < applications.size() && applications[next].pid != current->pid)
            ++next;
        ++next;
    }
    while (next < applications.size() && !visible(applications[next]))
        ++next;
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

OSErr GetProcessInformation(const ProcessSerialNumber* psn, ProcessInfoRec* info)
{
    if (!psn || !info || info->processInfoLength < kProcessInfoRecMinimumLength)
        return paramErr;
    if (OSStatus r = injected("GetProcessInformation"))
        return static_cast<OSErr>(r);
    std::optional<Process> p = resolve(psn);
    if (!p)
        return procNotFound;
    if (info->processName) {
        std::string name = CFStringMacRomanBytes(p->name, '?');
        name.resize(std::min<std::size_t>(name.size(), 255));
        info->processName[0] = static_cast<unsigned char>(name.size());
        std::memcpy(info->processName + 1, name.data(), name.size());
    }
    info->processNumber = serialOf(*p);
    info->processType = fourCharCode("APPL");
    info->processSignature = p->creator.size() == 4
        ? (static_cast<OSType>(static_cast<UInt8>(p->creator[0])) << 24) | (static_cast<OSType>(static_cast<UInt8>(p->creator[1])) << 16)
            | (static_cast<OSType>(static_cast<UInt8>(p->creator[2])) << 8) | static_cast<UInt8>(p->creator[3])
        : fourCharCode("????");
    info->processMode = 0;
    info->processLocation = nullptr;
    info->processSize = 0;
    info->processFreeMem = 0;
    info->processLauncher = {0, kNoProcess};
    info->processLaunchDate = 0;
    info->processActiveTime = 0;
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
