// The Process Manager calls the system makes, under their own names, over
// the simulated machine's processes.
//
// Only applications have serial numbers; the Process Manager enumerates
// them in launch order and never sees Unix processes such as the login
// window. {0, kCurrentProcess} stands for the program's own process: the
// machine's program pid (Machine::setProgramPid), which a test sets to the
// pid of the simulated program it runs.
//
// Every call can be made to fail through the machine's failure injection,
// under its own name ("GetFrontProcess", "GetProcessPID", ...).
#pragma once

#include "Carbon/MacTypes.h"
#include "Foundation/Value.h"

struct ProcessSerialNumber {
    UInt32 highLongOfPSN = 0;
    UInt32 lowLongOfPSN = 0;
};

enum : UInt32 {
    kNoProcess = 0,
    kSystemProcess = 1,
    kCurrentProcess = 2,
};

inline constexpr OSErr procNotFound = -600;

// Asks ProcessInformationCopyDictionary for every piece of information.
inline constexpr UInt32 kProcessDictionaryIncludeAllInformationMask = 0xFFFFFFFF;

// procNotFound when no application is in front.
OSErr GetFrontProcess(ProcessSerialNumber* psn);
// From {0, kNoProcess}, the first application; then the one after *psn.
// After the last one: procNotFound, and *psn is {0, kNoProcess}.
OSErr GetNextProcess(ProcessSerialNumber* psn);
OSStatus GetProcessPID(const ProcessSerialNumber* psn, pid_t* pid);
OSStatus GetProcessForPID(pid_t pid, ProcessSerialNumber* psn);
OSErr SameProcess(const ProcessSerialNumber* psn1, const ProcessSerialNumber* psn2, Boolean* result);
// The application's name as a string; nil (with noErr) for an application
// that has none.
OSStatus CopyProcessName(const ProcessSerialNumber* psn, Value* name);
// {"CFBundleName", "CFBundleIdentifier", "BundlePath", "FileCreator",
// "FileType", "pid", "PSN"}, each only when the application has it; nil for
// an unknown process.
Value ProcessInformationCopyDictionary(const ProcessSerialNumber* psn, UInt32 infoToReturn);
