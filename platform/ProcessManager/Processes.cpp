#include "ProcessManager/Processes.h"

#include "machine/Machine.h"

namespace {

machine::Machine& theMachine()
{
    return machine::Machine::shared();
}

bool isCurrentProcess(const ProcessSerialNumber& psn)
{
    return psn.highLongOfPSN == 0 && psn.lowLongOfPSN == kCurrentProcess;
}

// The application a serial number names, {0, kCurrentProcess} included.
const machine::Process* resolve(const ProcessSerialNumber* psn)
{
    if (!psn)
        return nullptr;
    auto& processes = theMachine().processes();
    if (isCurrentProcess(*psn)) {
        const machine::Process* self = processes.processWithPid(theMachine().programPid());
        return self && self->application ? self : nullptr;
    }
    return processes.processWithSerial({psn->highLongOfPSN, psn->lowLongOfPSN});
}

ProcessSerialNumber serialOf(const machine::Process& p)
{
    return {p.serial.high, p.serial.low};
}

OSStatus injected(const char* operation)
{
    return theMachine().failures().take(operation);
}

} // namespace

OSErr GetFrontProcess(ProcessSerialNumber* psn)
{
    if (!psn)
        return paramErr;
    if (OSStatus r = injected("GetFrontProcess"))
        return static_cast<OSErr>(r);
    const machine::Process* front = theMachine().processes().frontProcess();
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
    auto applications = theMachine().processes().applications();
    std::size_t next = 0;
    if (!(psn->highLongOfPSN == 0 && psn->lowLongOfPSN == kNoProcess)) {
        const machine::Process* current = resolve(psn);
        if (!current)
            return paramErr;
        while (next < applications.size() && applications[next] != current)
            ++next;
        ++next;
    }
    if (next >= applications.size()) {
        *psn = {0, kNoProcess};
        return procNotFound;
    }
    *psn = serialOf(*applications[next]);
    return noErr;
}

OSStatus GetProcessPID(const ProcessSerialNumber* psn, pid_t* pid)
{
    if (!psn || !pid)
        return paramErr;
    if (OSStatus r = injected("GetProcessPID"))
        return r;
    const machine::Process* p = resolve(psn);
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
    const machine::Process* p = theMachine().processes().processWithPid(pid);
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
    const machine::Process* a = resolve(psn1);
    const machine::Process* b = resolve(psn2);
    if (!a || !b)
        return procNotFound;
    *result = a == b;
    return noErr;
}

OSStatus CopyProcessName(const ProcessSerialNumber* psn, Value* name)
{
    if (!psn || !name)
        return paramErr;
    if (OSStatus r = injected("CopyProcessName"))
        return r;
    const machine::Process* p = resolve(psn);
    if (!p)
        return procNotFound;
    *name = p->name.empty() ? Value() : Value(p->name);
    return noErr;
}

Value ProcessInformationCopyDictionary(const ProcessSerialNumber* psn, UInt32 infoToReturn)
{
    if (injected("ProcessInformationCopyDictionary") || infoToReturn == 0)
        return {};
    const machine::Process* p = resolve(psn);
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
