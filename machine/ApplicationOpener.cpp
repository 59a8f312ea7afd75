#include "ApplicationOpener.h"

#include "ApplicationBundle.h"
#include "LoginSessions.h"
#include "Processes.h"
#include "SystemLog.h"
#include "Users.h"

#include "Foundation/PropertyList.h"
#include "Paths/DiskRoot.h"
#include "RunLoop/Clock.h"

#include <filesystem>

namespace machine {

namespace {

constexpr int kNotice = 5;
constexpr int kError = 3;

bool isFolder(const std::string& systemPath)
{
    std::error_code error;
    return std::filesystem::is_directory(hostPath(systemPath), error);
}

bool endsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

// A path as open takes it: relative ones from the machine's programs'
// working folder, the disk root.
std::string systemPathOf(const std::string& word)
{
    return normalizeSystemPath(word.empty() || word[0] != '/' ? "/" + word : word);
}

// A bundle's reason without the path it begins with.
std::string withoutPath(const std::string& problem, const std::string& path)
{
    const std::string prefix = quoted(path) + ": ";
    return problem.rfind(prefix, 0) == 0 ? problem.substr(prefix.size()) : problem;
}

std::string applicationNamed(const std::string& word)
{
    if (word.find('/') != std::string::npos)
        return systemPathOf(word);
    return "/Applications/" + word + (endsWith(word, ".app") ? "" : ".app");
}

} // namespace

ApplicationOpener::ApplicationOpener(Processes& processes, const UserTable& users, const LoginSessions& sessions, SystemLog& log)
    : processes_(processes), users_(users), sessions_(sessions), log_(log)
{
}

std::optional<ApplicationOpener::Requester> ApplicationOpener::requester(std::optional<std::uint32_t> uid, int pid, std::string* problem) const
{
    if (!uid) {
        *problem = "the caller is nobody the machine knows";
        return std::nullopt;
    }
    const User* user = users_.userWithId(*uid);
    if (!user) {
        *problem = "UID " + std::to_string(*uid) + " is no user of this machine";
        return std::nullopt;
    }
    const Process* process = pid ? processes_.processWithPid(pid) : nullptr;
    if (process && process->session)
        return Requester {user->uid, user->gid, process->session};
    const LoginSession* console = sessions_.consoleSession();
    if (console && console->uid == *uid)
        return Requester {user->uid, user->gid, console->id};
    *problem = "UID " + std::to_string(*uid) + " has no login session on the console";
    return std::nullopt;
}

ApplicationOpener::Opened ApplicationOpener::refuse(int code, const std::string& path, const std::string& why)
{
    Opened opened;
    opened.code = code;
    opened.line = "unable to open " + quoted(path) + ": " + why;
    log_.append({currentDate(), "arvel-machine", 0, kError, opened.line});
    return opened;
}

ApplicationOpener::Opened ApplicationOpener::openApplication(
    const std::string& path, const std::vector<std::string>& arguments, std::optional<std::uint32_t> uid, int pid)
{
    const std::string where = normalizeSystemPath(path);
    std::string problem;
    std::optional<Requester> who = requester(uid, pid, &problem);
    if (!who)
        return refuse(kLSNoLaunchPermissionErr, where, problem);
    if (!isFolder(where))
        return refuse(kLSApplicationNotFoundErr, where, "no such application");
    std::optional<ApplicationBundle> bundle = ApplicationBundle::read(where, &problem);
    if (!bundle)
        return refuse(kLSNotAnApplicationErr, where, withoutPath(problem, where));

    ApplicationSpec spec(bundle->executableName(), bundle->identifier(), bundle->path(), {}, who->session);
    spec.arguments = arguments;
    const int made = processes_.launch(spec).pid;
    processes_.setUserId(made, who->uid);
    std::string hostPart;
    if (hostStarter_) {
        const int hostPid = hostStarter_({made, bundle->executable(), arguments, who->uid, who->gid}, &problem);
        if (hostPid < 0) {
            processes_.quit(made);
            return refuse(kLSUnknownErr, where, problem);
        }
        processes_.setHostPid(made, hostPid);
        hostPart = ", host pid " + std::to_string(hostPid);
    }

    Opened opened;
    opened.code = 0;
    opened.pid = made;
    opened.line = "opened " + quoted(where);
    for (std::size_t i = 0; i < arguments.size(); ++i)
        opened.line += (i ? ", " : " with ") + quoted(arguments[i]);
    opened.line += " as UID " + std::to_string(who->uid) + " in session " + std::to_string(who->session) + ": "
        + bundle->executableName() + " (pid " + std::to_string(made) + hostPart + ")";
    log_.append({currentDate(), "arvel-machine", 0, kNotice, opened.line});
    return opened;
}

ApplicationOpener::Ran ApplicationOpener::open(const std::vector<std::string>& arguments, std::optional<std::uint32_t> uid, int pid)
{
    const char* const usage = "usage: open [-a APPLICATION] PATH... [--args ARGUMENT...]";
    Ran ran;
    std::optional<std::string> application;
    std::vector<std::string> paths, passed;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& word = arguments[i];
        if (word == "--args") {
            passed.assign(arguments.begin() + static_cast<std::ptrdiff_t>(i) + 1, arguments.end());
            break;
        }
        if (word == "-a") {
            if (application || i + 1 >= arguments.size() || arguments[i + 1].empty()) {
                ran.output = std::string(usage) + "\n";
                return ran;
            }
            application = applicationNamed(arguments[++i]);
        } else if (!word.empty() && word[0] == '-') {
            ran.output = "open: unknown option " + quoted(word) + " (" + usage + ")\n";
            return ran;
        } else if (!word.empty()) {
            paths.push_back(systemPathOf(word));
        }
    }
    if (!application && (paths.empty() || (!passed.empty() && paths.size() != 1))) {
        ran.output = std::string(usage) + "\n";
        return ran;
    }

    bool allOpened = true;
    auto tell = [&](const Opened& opened) {
        ran.output += opened.line + "\n";
        allOpened = allOpened && opened.code == 0;
    };
    if (application) {
        paths.insert(paths.end(), passed.begin(), passed.end());
        tell(openApplication(*application, paths, uid, pid));
    } else {
        for (const std::string& path : paths) {
            if (endsWith(path, ".prefPane")) {
                if (!isFolder(path))
                    tell(refuse(kLSApplicationNotFoundErr, path, "no such preference pane"));
                else if (!isFolder(kPreferencesHost))
                    tell(refuse(kLSApplicationNotFoundErr, path, "no application " + quoted(kPreferencesHost) + " to open it in"));
                else
                    tell(openApplication(kPreferencesHost, {path}, uid, pid));
            } else if (endsWith(path, ".app") || isFolder(path + "/Contents")) {
                tell(openApplication(path, passed, uid, pid));
            } else {
                tell(refuse(kLSApplicationNotFoundErr, path, "no application opens it"));
            }
        }
    }
    ran.status = allOpened ? 0 : 1;
    return ran;
}

bool ApplicationOpener::layOutSystemPanes(std::string* problem)
{
    const std::string info = std::string(kUniversalAccessPane) + "/Contents/Info.plist";
    std::error_code error;
    if (std::filesystem::exists(hostPath(info), error))
        return true;
    // A stub: the system's own pane is not part of this machine, only the
    // fact that it was opened.
    Value plist = Value::dictionary({{"CFBundleIdentifier", "com.apple.preference.universalaccess"},
        {"CFBundleName", "Universal Access"}, {"NSPrefPaneIconLabel", "Universal Access"}});
    std::string why;
    if (!writePropertyListFile(hostPath(info), plist, &why, true)) {
        *problem = "unable to lay out " + quoted(kUniversalAccessPane) + ": " + why;
        return false;
    }
    return true;
}

} // namespace machine
