// Machine: the simulated computer behind the platform layer.
//
// One model, reached in-process through Machine::shared() (tests link it
// and drive it directly with the virtual clock). It owns the user table,
// the identity of the program running on it, failure injection, the I/O
// registry with the trackpad driver, the configuration store and the
// console; the HID system, power, processes and the rest join it as their
// own files. The disk is the folder named by the disk root.
#pragma once

#include "Alerts.h"
#include "Authorization.h"
#include "ApplicationOpener.h"
#include "Console.h"
#include "DynamicStore.h"
#include "Failures.h"
#include "HIDSystem.h"
#include "SystemPower.h"
#include "LinkTraffic.h"
#include "ProgramConsoles.h"
#include "SystemLog.h"
#include "IORegistry.h"
#include "TrackpadDriver.h"
#include "Users.h"
#include "Windows.h"
// --- Session agent: processes, accessibility, login sessions, pointer ---
#include "Accessibility.h"
#include "LoginSessions.h"
#include "Pointer.h"
#include "Processes.h"
// --- end of session agent ---
#include "link/MachineValues.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace machine {

class Machine {
public:
    static Machine& shared();
    // Back to a freshly booted machine: only root, nothing running, no
    // failures, no driver loaded, nobody on the console; the disk root stays.
    void reset();

    UserTable& users() { return users_; }
    Failures& failures() { return failures_; }
    IORegistry& registry() { return registry_; }
    TrackpadDriver& driver() { return driver_; }
    DynamicStore& dynamicStore() { return store_; }
    Console& console() { return console_; }
    HIDSystem& hidSystem() { return hidSystem_; }
    SystemPower& power() { return power_; }
    SystemLog& systemLog() { return systemLog_; }
    Alerts& alerts() { return alerts_; }
    // What the machine service served over the bus.
    LinkTraffic& linkTraffic() { return linkTraffic_; }
    // What the real programs it started wrote to their consoles.
    ProgramConsoles& programConsoles() { return programConsoles_; }
    // The windows, sheets and alerts of the GUI programs.
    Windows& windows() { return windows_; }

    // The identity of the program running on the machine, in process. It is
    // simulated; where the program really runs as root, the Unix shims also
    // switch the real effective id.
    ProgramIdentity& program() { return program_; }
    std::uint32_t realUserId() const { return program_.realUid; }
    std::uint32_t effectiveUserId() const { return program_.effectiveUid; }
    void setRealUserId(std::uint32_t uid) { program_.realUid = uid; }
    void setEffectiveUserId(std::uint32_t uid) { program_.effectiveUid = uid; }
    // Its effective group and supplementary groups: root's (0) at start.
    std::uint32_t effectiveGroupId() const { return program_.effectiveGid; }
    void setEffectiveGroupId(std::uint32_t gid) { program_.effectiveGid = gid; }
    const std::vector<std::uint32_t>& groups() const { return program_.groups; }
    void setGroups(std::vector<std::uint32_t> groups) { program_.groups = std::move(groups); }
    // The home folder (system path) of the effective user; "/var/root" for
    // root, empty when the id has no user.
    std::string effectiveUserHome() const;

    // Whether the running program is a real process on the host (a program
    // started by hand) rather than code inside a test; only a real process
    // really detaches when it goes daemon.
    bool isHostProcess() const { return program_.hostProcess; }
    void setHostProcess(bool host) { program_.hostProcess = host; }
    // Whether the running program has detached from its terminal.
    bool programDetached() const { return program_.detached; }
    void setProgramDetached(bool detached) { program_.detached = detached; }

    // "~" (the home of the user uid, by default the effective user) and
    // "~name" at the start of a system path, through the user table; an
    // unknown user leaves the path unchanged.
    std::string expandTilde(const std::string& path) const { return expandTilde(path, program_.effectiveUid); }
    std::string expandTilde(const std::string& path, std::uint32_t uid) const;

    // Creates the user's home folder on the disk with its Library and
    // Preferences folders, as the OS does at a first login; false for an
    // unknown user or when the disk refuses.
    bool createHomeFolder(const std::string& userName);

    // The host part of by-host preference file names
    // ("/Library/Preferences/ByHost/<domain>.<hostIdentifier>.plist").
    const std::string& hostIdentifier() const { return hostIdentifier_; }
    void setHostIdentifier(std::string id) { hostIdentifier_ = std::move(id); }

    // --- Session agent: processes, accessibility, login sessions, pointer ---
    Processes& processes() { return processes_; }
    Accessibility& accessibility() { return accessibility_; }
    LoginSessions& loginSessions() { return loginSessions_; }
    Pointer& pointer() { return pointer_; }
    // The process the running program is (its own pid, and through it its
    // login session); 0 when the program is no process of the machine's.
    int programPid() const { return program_.pid; }
    void setProgramPid(int pid) { program_.pid = pid; }
    // The login session of the running program's process, 0 for none.
    std::uint32_t programSession() const;
    // The system version answered to Gestalt('sysv'): 0x1039 is 10.3.9,
    // 0x1028 is 10.2.8.
    std::uint32_t systemVersion() const { return systemVersion_; }
    void setSystemVersion(std::uint32_t version) { systemVersion_ = version; }
    // --- end of session agent ---

    // Opening applications and preference panes, as the caller, in the
    // caller's login session.
    ApplicationOpener& opener() { return opener_; }

    // The administrator's password prompts, the rights they grant, and the
    // tools run as root with them.
    Authorization& authorization() { return authorization_; }

    // A restart the Finder was asked for (by the program named). The
    // machine service's handler ends every program and boots again; in
    // process the request is only counted.
    using RestartHandler = std::function<void(const std::string& asker)>;
    void setRestartHandler(RestartHandler handler) { restartHandler_ = std::move(handler); }
    void requestRestart(const std::string& asker);
    int restartsRequested() const { return restartsRequested_; }

private:
    Machine();
    UserTable users_;
    Failures failures_;
    IORegistry registry_;
    TrackpadDriver driver_;
    DynamicStore store_;
    Console console_;
    HIDSystem hidSystem_;
    SystemPower power_;
    SystemLog systemLog_;
    Alerts alerts_;
    LinkTraffic linkTraffic_;
    ProgramConsoles programConsoles_;
    Windows windows_;
    ProgramIdentity program_;
    std::string hostIdentifier_ = "001122334455";
    // --- Session agent ---
    Processes processes_;
    Accessibility accessibility_ {processes_};
    LoginSessions loginSessions_ {users_};
    Pointer pointer_;
    std::uint32_t systemVersion_ = 0x1039;
    // --- end of session agent ---
    ApplicationOpener opener_ {processes_, users_, loginSessions_, systemLog_};
    Authorization authorization_ {users_, console_, windows_, systemLog_};
    RestartHandler restartHandler_;
    int restartsRequested_ = 0;
};

} // namespace machine
