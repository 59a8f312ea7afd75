// The Process Manager calls the system makes, under their own names, over
// the simulated machine's processes.
//
// Only applications have serial numbers; the Process Manager enumerates
// them in launch order and never sees Unix processes such as the login
// window. A program in a login session sees the applications of its own
// session only, as with fast user switching each session has its own; a
// program outside every session (a daemon) sees them all. {0, kCurrentProcess} stands for the program's own process: the
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

struct FSSpec;

// What GetProcessInformation fills. processInfoLength is the caller's
// record's length (60 in the original 32-bit layout, the least accepted);
// processName, when not null, is a 256-byte buffer for the name as a Mac
// Roman Pascal string (a character without a Mac Roman form reads "?").
struct ProcessInfoRec {
    UInt32 processInfoLength = 0;
    StringPtr processName = nullptr;
    ProcessSerialNumber processNumber;
    UInt32 processType = 0;      // 'APPL'
    OSType processSignature = 0; // the creator, '????' for none
    UInt32 processMode = 0;
    void* processLocation = nullptr;
    UInt32 processSize = 0;
    UInt32 processFreeMem = 0;
    ProcessSerialNumber processLauncher;
    UInt32 processLaunchDate = 0;
    UInt32 processActiveTime = 0;
    FSSpec* processAppSpec = nullptr; // never filled: the machine keeps no Carbon file records
};
inline constexpr UInt32 kProcessInfoRecMinimumLength = 60;

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
// paramErr for a record shorter than kProcessInfoRecMinimumLength.
OSErr GetProcessInformation(const ProcessSerialNumber* psn, ProcessInfoRec* info);
// The application's name as a string; nil (with noErr) for an application
// that has none.
OSStatus CopyProcessName(const ProcessSerialNumber* psn, Value* name);
// {"CFBundleName", "CFBundleIdentifier", "BundlePath", "FileCreator",
// "FileType", "pid", "PSN"}, each only when the application has it; nil for
// an unknown process.
Value ProcessInformationCopyDictionary(const ProcessSerialNumber* psn, UInt32 infoToReturn);
