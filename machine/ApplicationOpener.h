// ApplicationOpener: what opening an application does on the machine, the
// same for Launch Services (LSOpenFromURLSpec), for "/usr/bin/open" and for
// the operator's "open" verb.
//
// An application bundle (ApplicationBundle.h) opens as a new application
// process of the user who asks, in that user's login session, its
// executable given the arguments (the documents it is to open). A
// preference pane (a ".prefPane" folder) opens in the preferences host,
// kPreferencesHost, which is given the pane's path. Every opening starts a
// new process: the machine carries no events to a running application.
//
// Who asks is the user the machine takes the caller for; the session is
// that of the caller's own process, or, for a caller that is no process of
// the machine (a program started by hand at the console), the user's
// session on the console. Nobody else opens anything.
//
// Where the machine is served (arvel-machine) the service hands in a host
// starter, which starts the real program behind each new process with the
// user's ids; in process there is none and the application is a process of
// the model only. Each opening and each refusal is one line of the system
// log, under the machine's own name ("arvel-machine", pid 0).
#pragma once

#include "LaunchServices/LSError.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace machine {

class LoginSessions;
class Processes;
class SystemLog;
class UserTable;

class ApplicationOpener {
public:
    static constexpr const char* kPreferencesHost = "/Applications/System Preferences.app";
    // The operating system's own panes, which the machine lays out as stub
    // bundles: opening one is recorded like any other opening.
    static constexpr const char* kUniversalAccessPane = "/System/Library/PreferencePanes/UniversalAccessPref.prefPane";

    // The real program behind a process the machine has just made.
    struct HostLaunch {
        int pid = 0;            // the machine process
        std::string executable; // system path
        std::vector<std::string> arguments;
        std::uint32_t uid = 0;
        std::uint32_t gid = 0;
    };
    // Starts it: its host pid, or -1 with the reason in *problem.
    using HostStarter = std::function<int(const HostLaunch& launch, std::string* problem)>;

    // What an opening came to: kLSUnknownErr and the others of LSError.h,
    // or 0 with the new process; the line the system log got.
    struct Opened {
        int code = kLSUnknownErr;
        int pid = 0;
        std::string line;
    };
    // What "/usr/bin/open" came to: its exit status and the lines it wrote.
    struct Ran {
        int status = 1;
        std::string output;
    };

    ApplicationOpener(Processes& processes, const UserTable& users, const LoginSessions& sessions, SystemLog& log);

    // Empty: the model only.
    void setHostStarter(HostStarter starter) { hostStarter_ = std::move(starter); }

    // The application bundle at a system path, for the caller the machine
    // knows as uid (nothing: it cannot tell) running as machine process pid
    // (0: none).
    Opened openApplication(const std::string& path, const std::vector<std::string>& arguments, std::optional<std::uint32_t> uid,
        int pid);
    // "/usr/bin/open" with these arguments, for the same caller:
    //   open PATH...                  each application bundle or preference pane
    //   open -a APPLICATION [PATH...] the application, given the paths
    //   ... --args ARGUMENT...        the arguments go to the application
    // APPLICATION is a path, or a name in /Applications ("Safari" for
    // "/Applications/Safari.app"). Status 0 when everything opened.
    Ran open(const std::vector<std::string>& arguments, std::optional<std::uint32_t> uid, int pid);

    // Lays out the operating system's own panes where they are missing;
    // false, with the reason, when the disk refuses.
    static bool layOutSystemPanes(std::string* problem);

private:
    struct Requester {
        std::uint32_t uid = 0;
        std::uint32_t gid = 0;
        std::uint32_t session = 0;
    };
    std::optional<Requester> requester(std::optional<std::uint32_t> uid, int pid, std::string* problem) const;
    Opened refuse(int code, const std::string& path, const std::string& why);

    Processes& processes_;
    const UserTable& users_;
    const LoginSessions& sessions_;
    SystemLog& log_;
    HostStarter hostStarter_;
};

} // namespace machine
