#include "service/MachineCommands.h"

#include "Accessibility/AXError.h"
#include "Foundation/Format.h"
#include "IOKit/IOReturn.h"
#include "Paths/DiskRoot.h"
#include "RunLoop/Clock.h"
#include "RunLoop/RunLoop.h"
#include "machine/Machine.h"
#include "machine/ApplicationBundle.h"
#include "service/LoginItems.h"
#include "service/StartupItems.h"

#include <cctype>
#include <algorithm>
#include <cerrno>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr const char* kKernelExtension = "/System/Library/Extensions/Arvel.kext";

using Result = MachineCommands::Result;

Result failure(std::string message)
{
    return {false, std::move(message)};
}

Result answer(std::string output)
{
    return {true, std::move(output)};
}

std::optional<long long> integerArgument(const std::string& word, long long min, long long max)
{
    if (word.empty())
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(word.c_str(), &end, 10);
    if (errno || *end || value < min || value > max)
        return std::nullopt;
    return value;
}

std::optional<double> numberArgument(const std::string& word)
{
    if (word.empty())
        return std::nullopt;
    char* end = nullptr;
    double value = std::strtod(word.c_str(), &end);
    if (*end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::string number(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string point(double x, double y)
{
    return "(" + number(x) + ", " + number(y) + ")";
}

bool isUserName(const std::string& name)
{
    if (name.empty() || name.size() > 32 || name == "loginwindow")
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
        bool other = (c >= '0' && c <= '9') || c == '.' || c == '-';
        if (!letter && (i == 0 || !other))
            return false;
    }
    return true;
}

std::string who(const machine::Process& process)
{
    return process.name + " (pid " + std::to_string(process.pid) + ")";
}

std::string endDescription(int status)
{
    if (WIFEXITED(status))
        return "exited with status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "ended by signal " + std::to_string(WTERMSIG(status));
    return "ended";
}

// A time of the machine's clock (seconds since 2001) as people read it, in
// UTC to the millisecond: "2026-12-08 12:57:03.125".
std::string timeText(double secondsSince2001)
{
    const double unix = secondsSince2001 + 978307200.0;
    double whole = std::floor(unix);
    int millis = static_cast<int>(std::lround((unix - whole) * 1000));
    if (millis == 1000) {
        whole += 1;
        millis = 0;
    }
    const std::time_t seconds = static_cast<std::time_t>(whole);
    std::tm parts {};
    char text[32] = "";
    if (!gmtime_r(&seconds, &parts) || !std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts))
        return "(no time)";
    char withMillis[40];
    std::snprintf(withMillis, sizeof withMillis, "%s.%03d", text, millis);
    return withMillis;
}

std::string joined(const std::vector<std::string>& words, std::size_t from)
{
    std::string out;
    for (std::size_t i = from; i < words.size(); ++i)
        out += (i > from ? " " : "") + words[i];
    return out;
}

} // namespace

MachineCommands::MachineCommands(machine::Machine& machine, ProgramStarter& programs) : machine_(machine), programs_(programs)
{
    // What the machine opens for its users' programs runs as a real program
    // too, started as the login items are.
    machine_.opener().setHostStarter([this](const machine::ApplicationOpener::HostLaunch& launch, std::string* problem) {
        return programs_.start({launch.pid, launch.executable, launch.arguments, launch.uid, launch.gid}, problem);
    });
    // --- the installer's road: tools run as root for a granted prompt, and
    // the Finder's restart, once the asker has its answer.
    machine_.authorization().setRunner([this](const std::string& path, const std::vector<std::string>& arguments, auto finished) {
        runPrivileged(path, arguments, std::move(finished));
    });
    machine_.setRestartHandler([this](const std::string&) {
        if (restarting_)
            return;
        restarting_ = true;
        restartTimer_ = Timer::create(0, false, [this](Timer&) { restart(); });
        RunLoop::current().addTimer(restartTimer_, kCommonRunLoopModes);
    });
    // --- end of the installer's road
}

MachineCommands::~MachineCommands()
{
    machine_.opener().setHostStarter({});
    machine_.authorization().setRunner({});
    machine_.setRestartHandler({});
    for (const auto& timer : {restartTimer_, restartPoll_})
        if (timer)
            timer->invalidate();
    for (auto& [hostPid, run] : privilegedRuns_)
        ::close(run.output);
}

const char* MachineCommands::usage()
{
    return "Users and sessions:\n"
           "  add-user NAME UID              a user of the machine (GID 20, home /Users/NAME)\n"
           "  boot                           load Arvel.kext if installed, run /Library/StartupItems and the driver's\n"
           "                                 install check, show the login window\n"
           "  start SYSTEM-PATH              run an installed program as root with no arguments, as boot runs a startup item\n"
           "  login USER                     USER logs in (home folder made at the first login, login items started)\n"
           "  logout [USER]                  the session ends (default: the console's); its programs are told to end\n"
           "  switch USER|loginwindow        fast user switching: the other session goes to the background\n"
           "Applications and windows:\n"
           "  launch NAME [BUNDLE-ID [BUNDLE-PATH [CREATOR]]]  an application in the console's session (no real program)\n"
           "  add-app PATH [--id ID] [--creator CODE]  an application bundle on the disk (PATH ends in .app), with\n"
           "                                 a bundle identifier and a creator code (Contents/PkgInfo) when given\n"
           "  open [-a APPLICATION] PATH... [--args ARGUMENT...]\n"
           "                                 what /usr/bin/open does for the console's user: an application bundle starts,\n"
           "                                 a .prefPane opens in /Applications/System Preferences.app\n"
           "  quit NAME|PID                  an application or program ends (a real one gets SIGTERM)\n"
           "  front NAME|PID                 the application comes to the front\n"
           "  window APP [--button X Y W H [--disabled | --no-enabled]] [--sheet-of WINDOW] [--unfocused]\n"
           "                                 APP opens a window (or a sheet on one), with a default button\n"
           "                                 (disabled, or without the enabled attribute); --unfocused: the\n"
           "                                 app's focused window stays the one it was\n"
           "  close APP ELEMENT              APP closes a window or sheet\n"
           "  press WINDOW|PROGRAM TITLE     presses the button TITLE of a GUI program's window, sheet or alert\n"
           "                                 (a program: its newest window with such a button)\n"
           "  click WINDOW|PROGRAM CONTROL   clicks a button or check box (by outlet name or title), as a person would\n"
           "  choose WINDOW|PROGRAM CONTROL ITEM  chooses a pop-up's item, a tab, or opens a list's entry\n"
           "  slide WINDOW|PROGRAM CONTROL VALUE  drags a slider to VALUE\n"
           "                                 (a program: its newest window; the program answers what came of it)\n"
           "Pointer, trackpad, power, driver:\n"
           "  press | release                the mouse button goes down | up\n"
           "  pointer X Y                    the user moves the pointer\n"
           "  finger X Y                     the finger touches the trackpad at X Y (the driver notes it while calibrating)\n"
           "  sleep | wake | can-sleep       the machine sleeps | wakes | asks whether it may sleep\n"
           "  load-driver | unload-driver    the trackpad driver loads | unloads\n"
           "Authorization (the installer's administrator prompt):\n"
           "  set-password USER PASSWORD [--admin]  USER's password; --admin: an administrator\n"
           "  authorize NAME PASSWORD        answers the password prompt shown (a wrong one leaves it up; three deny)\n"
           "  cancel                         cancels the password prompt shown\n"
           "System:\n"
           "  accessibility on|off           the accessibility API (access for assistive devices) is turned on | off\n"
           "  os-version 10.M.B              the system version Gestalt('sysv') answers (10.2.8: 0x1028)\n"
           "Looking:\n"
           "  show driver|hid|pointer|processes|sessions|console|alerts|power|windows\n"
           "  show link                      calls served and news sent over the bus, by operation and kind\n"
           "  show driver-writes             how many per-application dictionaries the driver got, the last when\n"
           "  show hid-writes                how many configurations the HID system got, the last when\n"
           "  show answer N                  what came of request N (click, choose, slide): done, pending, or why not\n"
           "                                 (seconds since 2001, to the microsecond)\n"
           "  show console PROGRAM           what a started program (name or pid) wrote to its standard output\n"
           "                                 and error, the last lines kept\n"
           "  log [--since N] [--time]       the system log (from line N, counting from 0), each line's time\n"
           "                                 (UTC, as the machine's clock said) in front with --time\n"
           "Failures:\n"
           "  fail CALL [N|always|never]     the next N (default 1) calls of a platform call fail (IOServiceOpen,\n"
           "                                 IOServiceOpen:IOHIDSystem, seteuid, AXUIElementCopyAttributeValue:AXFocusedWindow ...)\n"
           "  check CONDITION                prints yes or no\n"
           "  wait [--timeout SECONDS] CONDITION   until it holds (default 10 s); exits 1 when it does not\n"
           "  shutdown                       end every program the machine started, then stop the service\n"
           "Conditions: log TEXT | process NAME | no-process NAME | window TITLE | driver-app-writes N | pointer-warps N | power-acknowledged\n";
}

Result MachineCommands::perform(const Words& words)
{
    if (words.empty())
        return failure("no verb given (see arvel-machine --help)");
    const std::string& verb = words[0];
    const Words args(words.begin() + 1, words.end());
    if (verb == "add-user")
        return addUser(args);
    if (verb == "boot")
        return boot(args);
    if (verb == "start")
        return startAsRoot(args);
    if (verb == "login")
        return login(args);
    if (verb == "logout")
        return logout(args);
    if (verb == "switch")
        return switchUser(args);
    if (verb == "launch")
        return launch(args);
    if (verb == "add-app")
        return addApp(args);
    if (verb == "open")
        return open(args);
    if (verb == "quit")
        return quit(args);
    if (verb == "front")
        return front(args);
    if (verb == "window")
        return window(args);
    if (verb == "close")
        return close(args);
    if (verb == "press" && !args.empty())
        return pressButton(args);
    if (verb == "click" || verb == "choose" || verb == "slide")
        return operateControl(verb, args);
    if (verb == "press" || verb == "release")
        return mouseButton(args, verb == "press");
    if (verb == "pointer")
        return movePointer(args);
    if (verb == "finger")
        return finger(args);
    if (verb == "sleep" || verb == "wake" || verb == "can-sleep")
        return power(verb, args);
    if (verb == "load-driver" || verb == "unload-driver")
        return driver(verb == "load-driver", args);
    if (verb == "accessibility")
        return accessibility(args);
    if (verb == "os-version")
        return systemVersion(args);
    if (verb == "show")
        return show(args);
    if (verb == "log")
        return log(args);
    if (verb == "check")
        return check(args);
    if (verb == "fail")
        return fail(args);
    if (verb == "shutdown")
        return shutdown(args);
    // --- the installer's road
    if (verb == "set-password")
        return setPassword(args);
    if (verb == "authorize")
        return authorize(args);
    if (verb == "cancel")
        return cancelPrompt(args);
    // --- end of the installer's road
    return failure("unknown verb \"" + verb + "\" (see arvel-machine --help)");
}

Result MachineCommands::done(std::string output)
{
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos)
            end = output.size();
        if (end > start)
            note(output.substr(start, end - start));
        start = end + 1;
    }
    return answer(std::move(output));
}

void MachineCommands::note(const std::string& message, int priority)
{
    machine_.systemLog().append({currentDate(), "arvel-machine", 0, priority, message});
}

// --- users and sessions ---

Result MachineCommands::addUser(const Words& args)
{
    if (args.size() != 2)
        return failure("usage: add-user NAME UID");
    if (!isUserName(args[0]))
        return failure("\"" + args[0] + "\" is not a user name (letters, digits, '_', '.', '-'; a letter first)");
    auto uid = integerArgument(args[1], 0, 0xFFFFFFFELL);
    if (!uid)
        return failure("\"" + args[1] + "\" is not a user id (0 to 4294967294)");
    auto& users = machine_.users();
    if (users.userNamed(args[0]))
        return failure("a user named \"" + args[0] + "\" already exists");
    if (*uid == 0)
        return failure("UID 0 is root's: the machine has one superuser, and a second would be root too");
    if (const machine::User* holder = users.userWithId(static_cast<std::uint32_t>(*uid)))
        return failure("UID " + args[1] + " already belongs to \"" + holder->name + "\"");
    const machine::User& user = users.addUser(args[0], static_cast<std::uint32_t>(*uid));
    return done(stringWithFormat("added user %@ (UID %u, GID %u, home %@)\n", user.name, user.uid, user.gid, user.home));
}

Result MachineCommands::boot(const Words& args)
{
    if (!args.empty())
        return failure("usage: boot");
    if (booted_)
        return failure("the machine is already booted");
    booted_ = true;
    std::string out;
    std::string problem;
    if (!machine::ApplicationOpener::layOutSystemPanes(&problem))
        out += problem + "\n";
    std::error_code error;
    if (std::filesystem::exists(hostPath(kKernelExtension), error) && !machine_.driver().isLoaded()) {
        machine_.driver().load();
        out += std::string("driver ") + kKernelExtension + " loaded\n";
    }
    StartupItems found = StartupItems::find(programs_.switchesUsers());
    for (const std::string& skipped : found.skipped())
        out += "startup item skipped: " + skipped + "\n";
    for (const StartupItem& item : found.items()) {
        const machine::Process& process = machine_.processes().startUnixProcess(item.executable);
        out += startProgram("startup item " + item.name, {process.pid, item.executable, {}, 0, 0});
    }
    // --- the driver's install check, after the startup items ---
    std::string unsafeCheck;
    const std::string check = StartupItems::installCheck(programs_.switchesUsers(), &unsafeCheck);
    if (!check.empty()) {
        const machine::Process& process = machine_.processes().startUnixProcess(check);
        out += startProgram("install check", {process.pid, check, {}, 0, 0});
    } else if (!unsafeCheck.empty()) {
        out += "install check skipped: " + unsafeCheck + "\n";
    }
    // --- end of the driver's install check ---
    machine_.processes().startLoginWindow();
    machine_.console().showLoginWindow();
    out += "login window on the console\n";
    return done(out);
}

// A program started by hand as the machine starts its startup items: a
// daemon killed, or started a second time, is started this way.
Result MachineCommands::startAsRoot(const Words& args)
{
    if (args.size() != 1 || args[0].empty() || args[0][0] != '/')
        return failure("usage: start SYSTEM-PATH (an absolute path on the machine's disk)");
    if (!booted_)
        return failure("the machine has not booted (boot first)");
    const std::string path = normalizeSystemPath(args[0]);
    std::error_code error;
    if (!std::filesystem::is_regular_file(hostPath(path), error))
        return failure("no program \"" + path + "\"");
    if (programs_.switchesUsers()) {
        const std::string folder = std::filesystem::path(path).parent_path().string();
        std::string unsafe = StartupItems::unsafeForRoot(folder);
        if (unsafe.empty())
            unsafe = StartupItems::unsafeForRoot(path);
        if (!unsafe.empty())
            return failure("not run as root: " + unsafe);
    }
    const int pid = machine_.processes().startUnixProcess(path).pid;
    std::string out = startProgram("program " + path, {pid, path, {}, 0, 0});
    if (!machine_.processes().processWithPid(pid)) {
        out.pop_back();
        return failure(out);
    }
    return done(out);
}

Result MachineCommands::login(const Words& args)
{
    if (args.size() != 1)
        return failure("usage: login USER");
    if (!booted_)
        return failure("the machine has not booted (boot first)");
    const machine::User* user = machine_.users().userNamed(args[0]);
    if (!user)
        return failure("no user named \"" + args[0] + "\" (add-user first)");
    const std::string name = user->name;
    for (const machine::LoginSession& session : machine_.loginSessions().all()) {
        if (session.userName != name)
            continue;
        if (session.onConsole)
            return failure(name + " is already logged in on the console");
        machine_.loginSessions().switchTo(session.id);
        machine_.processes().setConsoleSession(session.id);
        machine_.console().login(name);
        return done(stringWithFormat("%@'s session %u is back on the console\n", name, session.id));
    }

    std::string out;
    std::error_code error;
    if (!std::filesystem::exists(hostPath(user->home), error)) {
        if (!machine_.createHomeFolder(name))
            return failure("unable to create the home folder " + user->home);
        if (programs_.switchesUsers()) {
            // Made by root for the user: the user owns the folders.
            for (const char* folder : {"", "/Library", "/Library/Preferences"}) {
                std::string path = hostPath(user->home + folder);
                if (::chown(path.c_str(), user->uid, user->gid) != 0)
                    out += "unable to give " + user->home + folder + " to UID " + std::to_string(user->uid) + "\n";
            }
        }
        out += "home folder " + user->home + " created\n";
    }
    machine_.console().login(name);
    const machine::LoginSession* session = machine_.loginSessions().login(name);
    machine_.processes().setConsoleSession(session->id);
    out += stringWithFormat("%@ logged in: session %u on the console\n", name, session->id);
    out += startLoginItems(name);
    return done(out);
}

std::string MachineCommands::startLoginItems(const std::string& userName)
{
    const machine::User* user = machine_.users().userNamed(userName);
    const machine::LoginSession* session = nullptr;
    for (const machine::LoginSession& s : machine_.loginSessions().all())
        if (s.userName == userName)
            session = machine_.loginSessions().session(s.id);
    if (!user || !session)
        return {};
    std::string out;
    LoginItems items = LoginItems::readForHome(user->home);
    for (const std::string& problem : items.problems())
        out += "login item skipped: " + problem + "\n";
    for (const LoginItem& item : items.items()) {
        std::string problem;
        std::optional<machine::ApplicationBundle> bundle = machine::ApplicationBundle::read(item.path, &problem);
        if (!bundle) {
            out += "login item skipped: " + problem + "\n";
            continue;
        }
        const machine::Process& process = machine_.processes().launch(
            machine::ApplicationSpec(bundle->executableName(), bundle->identifier(), bundle->path(), {}, session->id));
        out += startProgram("login item " + bundle->path() + (item.hide ? " (hidden)" : ""),
            {process.pid, bundle->executable(), {}, user->uid, user->gid});
    }
    return out;
}

std::string MachineCommands::startProgram(const std::string& what, ProgramLaunch launch)
{
    std::string problem;
    int hostPid = programs_.start(launch, &problem);
    if (hostPid < 0) {
        machine_.processes().quit(launch.machinePid);
        return what + " failed: " + problem + "\n";
    }
    machine_.processes().setHostPid(launch.machinePid, hostPid);
    machine_.processes().setUserId(launch.machinePid, launch.uid);
    return stringWithFormat("%@: pid %d, host pid %d, UID %u\n", what, launch.machinePid, hostPid, launch.uid);
}

std::size_t MachineCommands::endSessionPrograms(std::uint32_t session)
{
    std::vector<int> pids;
    for (const machine::Process* process : machine_.processes().all())
        if (process->session == session)
            pids.push_back(process->pid);
    for (int pid : pids) {
        const machine::Process* process = machine_.processes().processWithPid(pid);
        if (process->hostPid > 0)
            programs_.terminate(process->hostPid);
        else
            machine_.processes().quit(pid);
    }
    return pids.size();
}

Result MachineCommands::logout(const Words& args)
{
    if (args.size() > 1)
        return failure("usage: logout [USER]");
    const machine::LoginSession* session = nullptr;
    if (args.empty()) {
        session = machine_.loginSessions().consoleSession();
        if (!session)
            return failure("nobody is logged in on the console");
    } else {
        if (!machine_.users().userNamed(args[0]))
            return failure("no user named \"" + args[0] + "\"");
        for (const machine::LoginSession& s : machine_.loginSessions().all())
            if (s.userName == args[0])
                session = machine_.loginSessions().session(s.id);
        if (!session)
            return failure(args[0] + " is not logged in");
    }
    const std::string name = session->userName;
    const std::uint32_t id = session->id;
    const bool onConsole = session->onConsole;
    std::size_t ended = endSessionPrograms(id);
    machine_.loginSessions().logout(id);
    std::string out = stringWithFormat("%@ logged out of session %u: %u program(s) told to end\n", name, id, static_cast<unsigned>(ended));
    if (onConsole) {
        machine_.processes().setConsoleSession(0);
        machine_.console().showLoginWindow();
        out += "login window on the console\n";
    }
    return done(out);
}

Result MachineCommands::switchUser(const Words& args)
{
    if (args.size() != 1)
        return failure("usage: switch USER|loginwindow");
    if (!booted_)
        return failure("the machine has not booted (boot first)");
    if (args[0] == "loginwindow") {
        if (!machine_.loginSessions().consoleSession() && machine_.console().state() == machine::Console::State::LoginWindow)
            return answer("the login window is already on the console\n");
        machine_.loginSessions().switchToLoginWindow();
        machine_.processes().setConsoleSession(0);
        machine_.console().showLoginWindow();
        return done("login window on the console\n");
    }
    if (!machine_.users().userNamed(args[0]))
        return failure("no user named \"" + args[0] + "\"");
    for (const machine::LoginSession& session : machine_.loginSessions().all()) {
        if (session.userName != args[0])
            continue;
        if (session.onConsole)
            return answer(args[0] + " is already on the console\n");
        machine_.loginSessions().switchTo(session.id);
        machine_.processes().setConsoleSession(session.id);
        machine_.console().login(args[0]);
        return done(stringWithFormat("switched to %@'s session %u\n", args[0], session.id));
    }
    return failure(args[0] + " has no login session (login first)");
}

// --- applications and windows ---

const machine::Process* MachineCommands::processNamed(const std::string& word, std::string* problem) const
{
    if (auto pid = integerArgument(word, 1, 0x7FFFFFFF)) {
        const machine::Process* process = machine_.processes().processWithPid(static_cast<int>(*pid));
        if (!process)
            *problem = "no process with pid " + word;
        return process;
    }
    const machine::Process* found = nullptr;
    for (const machine::Process* process : machine_.processes().all()) {
        if (process->name != word)
            continue;
        if (found) {
            *problem = "more than one process is named \"" + word + "\"; give its pid";
            return nullptr;
        }
        found = process;
    }
    if (!found)
        *problem = "no process named \"" + word + "\"";
    return found;
}

// An installed application as a person would pick it in an open panel:
// with or without its identifier and creator code.
Result MachineCommands::addApp(const Words& args)
{
    const char* usage = "usage: add-app PATH [--id ID] [--creator CODE]";
    if (args.empty())
        return failure(usage);
    std::string identifier, creator;
    for (std::size_t i = 1; i < args.size(); i += 2) {
        if (i + 1 >= args.size() || args[i + 1].empty())
            return failure(usage);
        if (args[i] == "--id")
            identifier = args[i + 1];
        else if (args[i] == "--creator")
            creator = args[i + 1];
        else
            return failure(usage);
    }
    std::string problem;
    if (!machine::ApplicationBundle::layOut(args[0], identifier, creator, &problem))
        return failure(problem);
    return done("laid out \"" + normalizeSystemPath(args[0]) + "\"" + (identifier.empty() ? "" : " (" + identifier + ")")
        + (creator.empty() ? "" : " creator '" + creator + "'") + "\n");
}

Result MachineCommands::launch(const Words& args)
{
    if (args.empty() || args.size() > 4 || args[0].empty())
        return failure("usage: launch NAME [BUNDLE-ID [BUNDLE-PATH [CREATOR]]]");
    if (args.size() >= 3 && (args[2].empty() || args[2][0] != '/'))
        return failure("the bundle path \"" + args[2] + "\" is not absolute");
    if (args.size() == 4 && args[3].size() != 4)
        return failure("the creator \"" + args[3] + "\" is not four characters");
    const machine::LoginSession* session = machine_.loginSessions().consoleSession();
    const machine::Process& process = machine_.processes().launch(machine::ApplicationSpec(args[0], args.size() > 1 ? args[1] : "",
        args.size() > 2 ? normalizeSystemPath(args[2]) : "", args.size() > 3 ? args[3] : "", session ? session->id : 0));
    return done("launched " + who(process) + "\n");
}

// What /usr/bin/open does, for the user on the console, in the console's
// session. The opener writes its lines to the system log itself.
Result MachineCommands::open(const Words& args)
{
    if (args.empty())
        return failure("usage: open [-a APPLICATION] PATH... [--args ARGUMENT...]");
    if (!booted_)
        return failure("the machine has not booted (boot first)");
    const machine::LoginSession* session = machine_.loginSessions().consoleSession();
    if (!session)
        return failure("nobody is logged in on the console");
    machine::ApplicationOpener::Ran ran = machine_.opener().open(args, session->uid, 0);
    if (ran.status == 0)
        return answer(ran.output);
    if (!ran.output.empty() && ran.output.back() == '\n')
        ran.output.pop_back();
    return failure(ran.output);
}

Result MachineCommands::quit(const Words& args)
{
    if (args.size() != 1)
        return failure("usage: quit NAME|PID");
    std::string problem;
    const machine::Process* process = processNamed(args[0], &problem);
    if (!process)
        return failure(problem);
    if (process->pid == 1)
        return failure(who(*process) + " does not quit");
    if (process->hostPid > 0) {
        programs_.terminate(process->hostPid);
        return done(stringWithFormat("asked %@ (pid %d, host pid %d) to quit\n", process->name, process->pid, process->hostPid));
    }
    const std::string gone = who(*process);
    machine_.processes().quit(process->pid);
    return done(gone + " quit\n");
}

Result MachineCommands::front(const Words& args)
{
    if (args.size() != 1)
        return failure("usage: front NAME|PID");
    std::string problem;
    const machine::Process* process = processNamed(args[0], &problem);
    if (!process)
        return failure(problem);
    if (!process->enumerated)
        return failure(who(*process) + " is no application that can come to the front");
    machine_.processes().bringToFront(process->pid);
    return done(who(*process) + " in front\n");
}

Result MachineCommands::window(const Words& args)
{
    const char* usage = "usage: window APP [--button X Y W H [--disabled | --no-enabled]] [--sheet-of WINDOW] [--unfocused]";
    if (args.empty())
        return failure(usage);
    std::optional<machine::ButtonSpec> button;
    std::uint64_t parent = 0;
    bool disabled = false, noEnabled = false, focus = true;
    for (std::size_t i = 1; i < args.size();) {
        if (args[i] == "--button") {
            if (button || i + 4 >= args.size())
                return failure(usage);
            auto x = numberArgument(args[i + 1]), y = numberArgument(args[i + 2]);
            auto w = numberArgument(args[i + 3]), h = numberArgument(args[i + 4]);
            if (!x || !y || !w || !h || *w < 0 || *h < 0)
                return failure("--button takes four numbers X Y W H (W and H not negative)");
            button = machine::ButtonSpec {{*x, *y}, {*w, *h}};
            i += 5;
        } else if (args[i] == "--sheet-of") {
            if (parent || i + 1 >= args.size())
                return failure(usage);
            auto window = integerArgument(args[i + 1], 1, 0x7FFFFFFFFFFFFFFFLL);
            if (!window)
                return failure("--sheet-of takes a window number");
            parent = static_cast<std::uint64_t>(*window);
            i += 2;
        } else if ((args[i] == "--disabled" || args[i] == "--no-enabled") && !disabled && !noEnabled) {
            (args[i] == "--disabled" ? disabled : noEnabled) = true;
            ++i;
        } else if (args[i] == "--unfocused" && focus) {
            focus = false;
            ++i;
        } else {
            return failure(usage);
        }
    }
    if ((disabled || noEnabled) && !button)
        return failure("--disabled and --no-enabled describe the default button: give --button too");
    if (!focus && parent)
        return failure("a sheet never takes the focus: --unfocused is for windows");
    if (button && disabled)
        button->enabled = false;
    if (button && noEnabled)
        button->enabled.reset();
    std::string problem;
    const machine::Process* process = processNamed(args[0], &problem);
    if (!process)
        return failure(problem);
    auto& accessibility = machine_.accessibility();
    std::uint64_t element = parent ? accessibility.openSheet(process->pid, parent, button) : accessibility.openWindow(process->pid, button, focus);
    if (!element)
        return failure(parent ? stringWithFormat("%@ has no window %llu", who(*process), static_cast<unsigned long long>(parent))
                              : who(*process) + " cannot open a window");
    std::string out = parent ? stringWithFormat("sheet %llu on window %llu of %@", static_cast<unsigned long long>(element),
                                   static_cast<unsigned long long>(parent), who(*process))
                             : stringWithFormat("window %llu of %@", static_cast<unsigned long long>(element), who(*process));
    if (button) {
        machine::ElementRef ref = accessibility.defaultButtonOf({process->pid, element});
        out += stringWithFormat(", default button %llu at %@ size %@ x %@", static_cast<unsigned long long>(ref.element),
            point(button->position.x, button->position.y), number(button->size.width), number(button->size.height));
        if (!button->enabled)
            out += ", without the enabled attribute";
        else if (!*button->enabled)
            out += ", disabled";
    }
    if (!focus)
        out += ", not focused";
    return done(out + "\n");
}

Result MachineCommands::close(const Words& args)
{
    if (args.size() != 2)
        return failure("usage: close APP ELEMENT");
    auto element = integerArgument(args[1], 1, 0x7FFFFFFFFFFFFFFFLL);
    if (!element)
        return failure("\"" + args[1] + "\" is not a window or sheet number");
    std::string problem;
    const machine::Process* process = processNamed(args[0], &problem);
    if (!process)
        return failure(problem);
    if (!machine_.accessibility().close(process->pid, static_cast<std::uint64_t>(*element)))
        return failure(who(*process) + " has no window or sheet " + args[1]);
    return done("closed " + args[1] + " of " + who(*process) + "\n");
}

// A person answering a sheet or an alert: the program that shows it clicks
// the button itself.
Result MachineCommands::pressButton(const Words& args)
{
    if (args.size() != 2 || args[1].empty())
        return failure("usage: press WINDOW|PROGRAM TITLE");
    auto& windows = machine_.windows();
    const machine::ScreenWindow* target = nullptr;
    if (auto id = integerArgument(args[0], 1, 0x7FFFFFFFFFFFFFFFLL)) {
        target = windows.window(static_cast<std::uint64_t>(*id));
        if (!target && !machine_.processes().processWithPid(static_cast<int>(std::min<long long>(*id, 0x7FFFFFFF))))
            return failure("no window " + args[0]);
    }
    if (!target) {
        std::string problem;
        const machine::Process* process = processNamed(args[0], &problem);
        if (!process)
            return failure(problem);
        // The newest window of the program that has such a button: the
        // sheet or alert in front of its window.
        for (auto it = windows.shown().rbegin(); it != windows.shown().rend() && !target; ++it) {
            if (it->pid != process->pid)
                continue;
            for (const machine::ScreenButton& button : it->buttons)
                if (button.title == args[1])
                    target = &*it;
        }
        if (!target)
            return failure(who(*process) + " shows no button \"" + args[1] + "\"");
    }
    const std::uint64_t id = target->id;
    const std::string kind = target->kind;
    const std::string title = target->title;
    switch (windows.press(id, args[1])) {
    case machine::Windows::PressResult::Pressed:
        return done(stringWithFormat("pressed \"%@\" on %@ %llu \"%@\"\n", args[1], kind, static_cast<unsigned long long>(id), title));
    case machine::Windows::PressResult::Disabled:
        return failure("the button \"" + args[1] + "\" of " + kind + " " + std::to_string(id) + " is disabled");
    case machine::Windows::PressResult::NobodyListens:
        return failure("the program of " + kind + " " + std::to_string(id) + " does not take presses");
    case machine::Windows::PressResult::NoButton:
        return failure(kind + " " + std::to_string(id) + " has no button \"" + args[1] + "\"");
    case machine::Windows::PressResult::NoWindow:
        break;
    }
    return failure("no window " + args[0]);
}

const machine::ScreenWindow* MachineCommands::windowOf(const std::string& word, std::string* problem) const
{
    auto& windows = machine_.windows();
    if (auto id = integerArgument(word, 1, 0x7FFFFFFFFFFFFFFFLL)) {
        if (const machine::ScreenWindow* shown = windows.window(static_cast<std::uint64_t>(*id)))
            return shown;
    }
    const machine::Process* process = processNamed(word, problem);
    if (!process)
        return nullptr;
    for (auto it = windows.shown().rbegin(); it != windows.shown().rend(); ++it)
        if (it->pid == process->pid)
            return &*it;
    *problem = who(*process) + " shows no window";
    return nullptr;
}

// A person working a control: the program finds it and works it itself,
// then answers; the command line waits for that answer ("show answer N").
Result MachineCommands::operateControl(const std::string& operation, const Words& args)
{
    const bool click = operation == "click";
    if (args.size() != (click ? 2u : 3u) || args[1].empty())
        return failure(click ? "usage: click WINDOW|PROGRAM CONTROL"
                             : operation == "choose" ? "usage: choose WINDOW|PROGRAM CONTROL ITEM" : "usage: slide WINDOW|PROGRAM CONTROL VALUE");
    std::string problem;
    const machine::ScreenWindow* target = windowOf(args[0], &problem);
    if (!target)
        return failure(problem);
    const std::uint64_t id = target->id;
    const std::string kind = target->kind, title = target->title;
    machine::Windows::PressResult result {};
    std::uint64_t serial = machine_.windows().operate(id, operation, args[1], click ? std::string() : args[2], &result);
    if (!serial)
        return failure("the program of " + kind + " " + std::to_string(id) + " does not take requests");
    return done(stringWithFormat("request %llu: %@ \"%@\"%@ on %@ %llu \"%@\"\n", static_cast<unsigned long long>(serial), operation,
        args[1], click ? std::string() : " \"" + args[2] + "\"", kind, static_cast<unsigned long long>(id), title));
}

// --- pointer, trackpad, power, driver ---

Result MachineCommands::mouseButton(const Words& args, bool down)
{
    if (!args.empty())
        return failure(down ? "usage: press" : "usage: release");
    auto& pointer = machine_.pointer();
    if (down)
        pointer.press();
    else
        pointer.release();
    auto at = pointer.position();
    return done(std::string("mouse button ") + (down ? "down" : "up") + " at " + point(at.x, at.y) + "\n");
}

Result MachineCommands::movePointer(const Words& args)
{
    auto x = args.size() == 2 ? numberArgument(args[0]) : std::nullopt;
    auto y = args.size() == 2 ? numberArgument(args[1]) : std::nullopt;
    if (!x || !y)
        return failure("usage: pointer X Y (two numbers)");
    machine_.pointer().moveTo({*x, *y});
    return done("pointer moved to " + point(*x, *y) + "\n");
}

Result MachineCommands::finger(const Words& args)
{
    auto x = args.size() == 2 ? integerArgument(args[0], INT32_MIN, INT32_MAX) : std::nullopt;
    auto y = args.size() == 2 ? integerArgument(args[1], INT32_MIN, INT32_MAX) : std::nullopt;
    if (!x || !y)
        return failure("usage: finger X Y (two whole numbers)");
    auto& driver = machine_.driver();
    driver.touch(static_cast<std::int32_t>(*x), static_cast<std::int32_t>(*y));
    std::string out = stringWithFormat("finger at (%lld, %lld)", *x, *y);
    if (!driver.isLoaded())
        out += ": no driver loaded";
    else if (!driver.calibrationMode())
        out += ": the driver is not calibrating";
    else {
        auto g = driver.observedGeometry();
        out += stringWithFormat(": observed {MinX = %d; MinY = %d; MaxX = %d; MaxY = %d; }", g.minX, g.minY, g.maxX, g.maxY);
    }
    return done(out + "\n");
}

Result MachineCommands::power(const std::string& verb, const Words& args)
{
    if (!args.empty())
        return failure("usage: " + verb);
    auto& power = machine_.power();
    const unsigned clients = static_cast<unsigned>(power.clientCount());
    if (verb == "sleep") {
        if (power.isAsleep())
            return failure("the machine is already asleep: wake it first");
        power.sleep();
        return done(stringWithFormat("the machine sleeps: told %u power client(s)\n", clients));
    }
    if (verb == "wake") {
        if (!power.isAsleep())
            return failure("the machine is already awake: only a machine that sleeps can wake");
        power.wake();
        return done(stringWithFormat("the machine wakes: told %u power client(s)\n", clients));
    }
    if (power.isAsleep())
        return failure("the machine is asleep: only an awake machine asks whether it may sleep");
    power.askCanSleep();
    return done(stringWithFormat("asked %u power client(s) whether the machine may sleep\n", clients));
}

Result MachineCommands::driver(bool load, const Words& args)
{
    if (!args.empty())
        return failure(load ? "usage: load-driver" : "usage: unload-driver");
    auto& driver = machine_.driver();
    if (load == driver.isLoaded())
        return failure(load ? "the driver is already loaded" : "the driver is not loaded");
    if (load)
        driver.load();
    else
        driver.unload();
    return done(load ? "driver loaded\n" : "driver unloaded\n");
}

// --- the system ---

Result MachineCommands::accessibility(const Words& args)
{
    if (args.size() != 1 || (args[0] != "on" && args[0] != "off"))
        return failure("usage: accessibility on|off");
    const bool on = args[0] == "on";
    if (machine_.accessibility().enabled() == on)
        return answer("the accessibility API is already " + args[0] + "\n");
    // Every session hears of it ("com.apple.accessibility.api").
    machine_.accessibility().setEnabled(on);
    return done("the accessibility API is " + args[0] + "\n");
}

Result MachineCommands::systemVersion(const Words& args)
{
    // Gestalt answers the version as digits of a hexadecimal number:
    // 10.2.8 is 0x1028, so the minor and bug-fix versions are single digits.
    const char* usage = "usage: os-version 10.M[.B] (M and B single digits: 10.2.8, 10.3.9)";
    if (args.size() != 1)
        return failure(usage);
    const std::string& text = args[0];
    const bool shortForm = text.size() == 4, longForm = text.size() == 6;
    auto digit = [&](std::size_t at) { return at < text.size() && text[at] >= '0' && text[at] <= '9'; };
    if (!(shortForm || longForm) || text.compare(0, 3, "10.") != 0 || !digit(3) || (longForm && (text[4] != '.' || !digit(5))))
        return failure(usage);
    const std::uint32_t version = 0x1000 | static_cast<std::uint32_t>(text[3] - '0') << 4 | (longForm ? static_cast<std::uint32_t>(text[5] - '0') : 0);
    machine_.setSystemVersion(version);
    return done(stringWithFormat("Gestalt('sysv') answers 0x%x (%@)\n", version, text));
}

// --- looking ---

Result MachineCommands::show(const Words& args)
{
    const char* usage = "usage: show driver|driver-writes|hid|hid-writes|pointer|processes|sessions|console [PROGRAM]|alerts|power|windows|link|answer N";
    if (args.size() == 2 && args[0] == "answer") {
        auto serial = integerArgument(args[1], 1, 0x7FFFFFFFFFFFFFFFLL);
        if (!serial)
            return failure("usage: show answer N");
        if (auto outcome = machine_.windows().answerTo(static_cast<std::uint64_t>(*serial)))
            return answer(*outcome + "\n");
        if (machine_.windows().isPending(static_cast<std::uint64_t>(*serial)))
            return answer("pending\n");
        return failure("no request " + args[1]);
    }
    if (args.size() != 1 && !(args.size() == 2 && args[0] == "console"))
        return failure(usage);
    const std::string& what = args[0];
    if (what == "driver")
        return answer(machine_.driver().describe());
    if (what == "driver-writes")
        return answer(describeDriverWrites());
    if (what == "hid")
        return answer(machine_.hidSystem().describe());
    if (what == "hid-writes") {
        // As driver-writes: the model's own date, taken as the configuration came.
        const auto& hid = machine_.hidSystem();
        char date[64];
        std::snprintf(date, sizeof date, "%.6f", hid.lastPropertiesDate());
        return answer(stringWithFormat("%u configuration(s), the last at %s\n", static_cast<unsigned>(hid.propertiesWrites()), date));
    }
    if (what == "pointer")
        return answer(describePointer());
    if (what == "processes")
        return answer(describeProcesses());
    if (what == "sessions")
        return answer(describeSessions());
    if (what == "console" && args.size() == 2)
        return programConsole(args[1]);
    if (what == "console")
        return answer(machine_.console().describe() + "\n");
    if (what == "alerts")
        return answer(machine_.alerts().describe());
    if (what == "power")
        return answer(describePower());
    if (what == "link")
        return answer(machine_.linkTraffic().describe());
    if (what == "windows")
        return answer(machine_.windows().describe([this](int pid) {
            const machine::Process* process = machine_.processes().processWithPid(pid);
            return process ? who(*process) : "pid " + std::to_string(pid);
        }));
    return failure(usage);
}

std::string MachineCommands::describeDriverWrites() const
{
    // The date is the model's own, taken as the dictionary arrived: a
    // watcher that asks now and then still learns when it came.
    const auto& driver = machine_.driver();
    const std::size_t writes = driver.applicationPropertiesWrites();
    std::string out = stringWithFormat("%u per-application %s", static_cast<unsigned>(writes), writes == 1 ? "dictionary" : "dictionaries");
    if (writes) {
        char date[64];
        std::snprintf(date, sizeof date, "%.6f", driver.lastApplicationPropertiesDate());
        out += std::string(", the last at ") + date;
    }
    return out + "\n";
}

std::string MachineCommands::describeProcesses() const
{
    std::string out = "  PID  HOST-PID  SESSION  COMMAND\n";
    for (const machine::Process* process : machine_.processes().all()) {
        char line[64];
        std::snprintf(line, sizeof line, "%5d  %8s  %7s  ", process->pid,
            process->hostPid > 0 ? std::to_string(process->hostPid).c_str() : "-",
            process->session ? std::to_string(process->session).c_str() : "-");
        out += line + process->command + "\n";
    }
    const machine::Process* front = machine_.processes().frontProcess();
    out += "front: " + (front ? who(*front) : std::string("none")) + "\n";
    return out;
}

std::string MachineCommands::describeSessions() const
{
    auto sessions = machine_.loginSessions().all();
    if (sessions.empty())
        return "sessions: none\n";
    std::string out;
    for (const machine::LoginSession& session : sessions)
        out += stringWithFormat("session %u: %@ (UID %u), %s\n", session.id, session.userName, session.uid,
            session.onConsole ? "on the console" : "in the background");
    return out;
}

std::string MachineCommands::describePointer() const
{
    const auto& pointer = machine_.pointer();
    std::string held;
    for (int button = 0; button < 32; ++button)
        if (pointer.buttonState() & (1u << button))
            held += (held.empty() ? "" : " ") + std::to_string(button);
    auto at = pointer.position();
    std::string out = "pointer at " + point(at.x, at.y) + ", buttons held: " + (held.empty() ? "none" : held) + ", warps: ";
    const auto& warps = pointer.warps();
    if (warps.empty())
        out += "none";
    else
        out += std::to_string(warps.size()) + ", the last to " + point(warps.back().x, warps.back().y);
    return out + "\n";
}

std::string MachineCommands::describePower() const
{
    const auto& power = machine_.power();
    std::string out = stringWithFormat(
        "power: %s, %u client(s)\n", power.isAsleep() ? "asleep" : "awake", static_cast<unsigned>(power.clientCount()));
    for (const auto& message : power.messages())
        out += stringWithFormat("  %@ to client %llu (0x%llx): %s\n", machine::SystemPower::messageName(message.type),
            static_cast<unsigned long long>(message.client), static_cast<unsigned long long>(message.argument),
            message.acknowledged ? "acknowledged" : message.clientGone ? "not acknowledged, the client is gone" : "not acknowledged");
    return out;
}

Result MachineCommands::log(const Words& args)
{
    std::size_t from = 0;
    bool times = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--time" && !times) {
            times = true;
        } else if (args[i] == "--since" && i + 1 < args.size()) {
            auto since = integerArgument(args[++i], 0, 0x7FFFFFFFFFFFFFFFLL);
            if (!since)
                return failure("--since takes a line number (0 or more)");
            from = static_cast<std::size_t>(*since);
        } else {
            return failure("usage: log [--since N] [--time]");
        }
    }
    if (!times)
        return answer(machine_.systemLog().describe(from));
    std::string out;
    const auto& lines = machine_.systemLog().lines();
    for (std::size_t i = from; i < lines.size(); ++i)
        out += timeText(lines[i].time) + " " + machine::SystemLog::lineText(lines[i]) + "\n";
    return answer(out);
}

Result MachineCommands::programConsole(const std::string& program)
{
    auto pid = integerArgument(program, 1, 0x7FFFFFFF);
    std::string out;
    bool known = false;
    for (const auto& writer : machine_.programConsoles().writers()) {
        if (pid ? writer.pid != *pid : writer.name != program)
            continue;
        known = true;
        for (const std::string& line : writer.lines)
            out += stringWithFormat("%@[%d]: %@\n", writer.name, writer.pid, line);
    }
    if (!known)
        return failure("no program \"" + program + "\" was started by the machine (see show processes)");
    return answer(out);
}

Result MachineCommands::fail(const Words& args)
{
    const char* usage = "usage: fail CALL [N|always|never]";
    if (args.empty() || args.size() > 2 || args[0].empty() || args[0].size() > 128)
        return failure(usage);
    const std::string& call = args[0];
    for (char c : call)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != ':' && c != '_')
            return failure("\"" + call + "\" is not a call name (letters, digits, '.', ':', '_')");
    auto& failures = machine_.failures();
    if (args.size() == 2 && args[1] == "never") {
        failures.clear(call);
        return done(call + " succeeds again\n");
    }
    int times = 1;
    if (args.size() == 2) {
        if (args[1] == "always") {
            times = -1;
        } else {
            auto n = integerArgument(args[1], 1, 1000000);
            if (!n)
                return failure("\"" + args[1] + "\" is not a number of calls (1 to 1000000), always or never");
            times = static_cast<int>(*n);
        }
    }
    // Each family of calls fails the way its callers expect: the I/O Kit with
    // a general error, the accessibility API with its own, the rest with -1.
    const int result = call.rfind("IO", 0) == 0 ? static_cast<int>(kIOReturnError)
        : call.rfind("AX", 0) == 0              ? static_cast<int>(kAXErrorFailure)
                                                : -1;
    failures.failNext(call, result, times);
    return done(times < 0 ? stringWithFormat("every call of %@ fails with %d until fail %@ never\n", call, result, call)
                          : stringWithFormat("the next %d call(s) of %@ fail with %d\n", times, call, result));
}

Result MachineCommands::check(const Words& args)
{
    const char* usage = "usage: check log TEXT | process NAME | no-process NAME | window TITLE | driver-app-writes N | pointer-warps N | power-acknowledged";
    if (args.empty())
        return failure(usage);
    const std::string& kind = args[0];
    bool holds = false;
    if (kind == "log") {
        if (args.size() < 2)
            return failure("usage: check log TEXT");
        const std::string text = joined(args, 1);
        // As "log" prints the line: "arveld[2] <Notice>: Daemon started."
        for (const auto& line : machine_.systemLog().lines()) {
            if ((holds = machine::SystemLog::lineText(line).find(text) != std::string::npos))
                break;
        }
    } else if (kind == "process" || kind == "no-process") {
        if (args.size() != 2)
            return failure("usage: check " + kind + " NAME");
        for (const machine::Process* process : machine_.processes().all())
            holds = holds || process->name == args[1];
        if (kind == "no-process")
            holds = !holds;
    } else if (kind == "window") {
        // A window, sheet, panel or alert of that title is on the screen.
        if (args.size() < 2)
            return failure("usage: check window TITLE");
        const std::string title = joined(args, 1);
        for (const machine::ScreenWindow& window : machine_.windows().shown())
            holds = holds || window.title == title;
    } else if (kind == "driver-app-writes") {
        auto count = args.size() == 2 ? integerArgument(args[1], 0, 0x7FFFFFFFFFFFFFFFLL) : std::nullopt;
        if (!count)
            return failure("usage: check driver-app-writes N (0 or more)");
        holds = machine_.driver().applicationPropertiesWrites() >= static_cast<std::size_t>(*count);
    } else if (kind == "pointer-warps") {
        auto count = args.size() == 2 ? integerArgument(args[1], 0, 0x7FFFFFFFFFFFFFFFLL) : std::nullopt;
        if (!count)
            return failure("usage: check pointer-warps N (0 or more)");
        holds = machine_.pointer().warps().size() >= static_cast<std::size_t>(*count);
    } else if (kind == "power-acknowledged") {
        if (args.size() != 1)
            return failure("usage: check power-acknowledged");
        holds = machine_.power().everyMessageAcknowledged();
    } else {
        return failure(usage);
    }
    return answer(holds ? "yes\n" : "no\n");
}

Result MachineCommands::shutdown(const Words& args)
{
    if (!args.empty())
        return failure("usage: shutdown");
    shutdownRequested_ = true;
    return done("shutting down\n");
}

void MachineCommands::hostProgramWrote(int hostPid, std::string_view bytes)
{
    auto& consoles = machine_.programConsoles();
    if (bytes.empty()) {
        consoles.closed(hostPid);
        return;
    }
    const machine::Process* process = machine_.processes().processWithHostPid(hostPid);
    consoles.wrote(hostPid, process ? process->pid : 0, process ? process->name : "host pid " + std::to_string(hostPid), bytes);
}

void MachineCommands::hostProgramEnded(int hostPid, int status)
{
    // --- the installer's road: a tool run as root hands back what it wrote
    if (auto run = privilegedRuns_.find(hostPid); run != privilegedRuns_.end()) {
        PrivilegedRun ended = std::move(run->second);
        privilegedRuns_.erase(run);
        std::string output;
        char buffer[4096];
        ::lseek(ended.output, 0, SEEK_SET);
        for (ssize_t got; output.size() < (1u << 20) && (got = ::read(ended.output, buffer, sizeof buffer)) > 0;)
            output.append(buffer, static_cast<std::size_t>(got));
        ::close(ended.output);
        ended.finished(status, output);
    }
    // --- end of the installer's road
    const machine::Process* process = machine_.processes().processWithHostPid(hostPid);
    if (!process)
        return;
    const int pid = process->pid;
    note(stringWithFormat("%@ (pid %d, host pid %d) %@", process->name, pid, hostPid, endDescription(status)));
    machine_.processes().quit(pid);
}

// --- the installer's road: passwords, the authorization prompt, tools run
// as root, the Finder's restart

Result MachineCommands::setPassword(const Words& args)
{
    if (args.size() < 2 || args.size() > 3 || (args.size() == 3 && args[2] != "--admin"))
        return failure("usage: set-password USER PASSWORD [--admin]");
    if (!machine_.users().userNamed(args[0]) || args[0] == "root")
        return failure("no user named \"" + args[0] + "\" (add-user first)");
    const bool admin = args.size() == 3;
    machine_.users().setPassword(args[0], args[1]);
    machine_.users().setAdministrator(args[0], admin);
    // The password itself stays out of the log.
    return done(args[0] + " has a password" + (admin ? " and is an administrator" : "") + "\n");
}

Result MachineCommands::authorize(const Words& args)
{
    if (args.size() != 2)
        return failure("usage: authorize NAME PASSWORD");
    std::optional<std::string> line = machine_.authorization().answer(args[0], args[1]);
    if (!line)
        return failure("no authorization prompt is shown");
    // The model noted the answer in the system log.
    return answer(*line + "\n");
}

Result MachineCommands::cancelPrompt(const Words& args)
{
    if (!args.empty())
        return failure("usage: cancel");
    std::optional<std::string> line = machine_.authorization().cancel();
    if (!line)
        return failure("no authorization prompt is shown");
    return answer(*line + "\n");
}

void MachineCommands::runPrivileged(
    const std::string& path, const std::vector<std::string>& arguments, std::function<void(int, const std::string&)> finished)
{
    // Its standard output is the caller's answer, apart from its console.
    const int output = ::memfd_create("privileged-output", MFD_CLOEXEC);
    const int pid = machine_.processes().startUnixProcess(normalizeSystemPath(path)).pid;
    ProgramLaunch launch {pid, normalizeSystemPath(path), arguments, 0, 0};
    launch.standardOutput = output;
    std::string line = output < 0 ? std::string() : startProgram("tool " + launch.executable + " as root", launch);
    const machine::Process* process = machine_.processes().processWithPid(pid);
    if (output < 0 || !process || process->hostPid <= 0) {
        if (output >= 0)
            ::close(output);
        else
            machine_.processes().quit(pid);
        note(line.empty() ? "tool " + launch.executable + " failed: no memory for its output" : line.substr(0, line.size() - 1), 3);
        finished(-1, {});
        return;
    }
    note(line.substr(0, line.size() - 1));
    privilegedRuns_[process->hostPid] = {output, std::move(finished)};
}

void MachineCommands::restart()
{
    note("restarting: every program ends");
    for (int hostPid : programs_.running())
        programs_.terminate(hostPid);
    restartDeadline_ = currentDate() + 2.0;
    restartPoll_ = Timer::create(0.05, true, [this](Timer&) { restartWhenAllEnded(); });
    RunLoop::current().addTimer(restartPoll_, kCommonRunLoopModes);
    restartWhenAllEnded();
}

void MachineCommands::restartWhenAllEnded()
{
    if (!restarting_ || (!programs_.running().empty() && currentDate() < restartDeadline_))
        return;
    restarting_ = false;
    restartPoll_->invalidate();
    // Those that did not end in time are ended by force.
    programs_.endAll(0.5);
    for (auto& [hostPid, run] : privilegedRuns_) {
        ::close(run.output);
        run.finished(-1, {});
    }
    privilegedRuns_.clear();
    // What a running system holds goes with it; the disk and the users stay
    // (the programs' windows and prompts went with their programs).
    for (const machine::Process* process : machine_.processes().all())
        if (process->hostPid <= 0)
            machine_.windows().closeAllOf(process->pid);
    machine_.loginSessions().reset();
    machine_.console().leave();
    machine_.processes().reset();
    if (machine_.driver().isLoaded())
        machine_.driver().unload();
    booted_ = false;
    note("the machine boots again");
    boot({});
}
// --- end of the installer's road
