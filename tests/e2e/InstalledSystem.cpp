#include "e2e/InstalledSystem.h"

#include "Bus/MessageBus.h"

#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

Clock::time_point after(double seconds)
{
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

void pollPause()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

} // namespace

bool eventually(const std::function<bool()>& condition, double timeoutSeconds)
{
    const auto limit = after(timeoutSeconds);
    while (!condition()) {
        if (Clock::now() >= limit)
            return false;
        pollPause();
    }
    return true;
}

InstalledSystem::InstalledSystem(EmptyDisk) : bus_(&PrivateBus::shared())
{
    if (!makeRoot())
        return;
    std::error_code error;
    fs::create_directories(root_, error);
    if (error)
        problem_ = "no disk root: " + error.message();
}

InstalledSystem::InstalledSystem(const std::vector<std::string>& users) : bus_(&PrivateBus::shared())
{
    if (!makeRoot())
        return;
    Words arguments {ARVEL_INSTALL_LAYOUT_SCRIPT, root_, ARVEL_BUILD_FOLDER};
    arguments.insert(arguments.end(), users.begin(), users.end());
    std::string output;
    if (!run("/bin/bash", arguments, {}, &output))
        problem_ = "install-layout failed: " + output;
}

bool InstalledSystem::makeRoot()
{
    // The users' programs run with their own ids: they must reach the
    // programs and the bus through every folder above the disk.
    root_ = fs::canonical(disk_.path()).string() + "/disk";
    fs::permissions(disk_.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read
            | fs::perms::others_exec);
    for (fs::path folder = fs::path(root_).parent_path(); !folder.empty(); folder = folder.parent_path()) {
        struct stat info {};
        if (::stat(folder.c_str(), &info) != 0 || !(info.st_mode & S_IXOTH)) {
            problem_ = "other users cannot pass through " + folder.string();
            return false;
        }
        if (folder == folder.root_path())
            break;
    }
    return true;
}

InstalledSystem::~InstalledSystem()
{
    if (service_ > 0)
        finish();
}

bool InstalledSystem::run(const std::string& program, const Words& arguments, const std::vector<std::string>& environment,
    std::string* output)
{
    pid_t pid = bus_->start(program, arguments, environment);
    int status = bus_->wait(pid);
    *output = bus_->output(pid);
    return status == 0;
}

bool InstalledSystem::defaults(const Words& arguments, std::string* output, const std::vector<std::string>& environment)
{
    std::string said;
    std::vector<std::string> all {"ARVEL_ROOT=" + root_};
    all.insert(all.end(), environment.begin(), environment.end());
    bool done = run(ARVEL_DEFAULTS_PROGRAM, arguments, all, &said);
    if (!done)
        problem_ = "arvel-defaults failed: " + said;
    if (output)
        *output = said;
    return done;
}

bool InstalledSystem::serve(const std::vector<std::string>& environment)
{
    service_ = bus_->start(ARVEL_MACHINE_PROGRAM, {"serve", "--root", root_}, environment);
    serviceOutput_ = service_;
    if (!waitFor({"process", "launchd"})) {
        problem_ = "the machine service did not come up: " + bus_->output(service_);
        return false;
    }
    return true;
}

InstalledSystem::Ran InstalledSystem::runAsUser(std::uint32_t uid, const std::string& program, const Words& arguments,
    const std::vector<std::string>& environment)
{
    pid_t pid = bus_->startAsUser(uid, program, arguments, environment);
    Ran ran;
    ran.ok = bus_->wait(pid) == 0;
    ran.output = bus_->output(pid);
    return ran;
}

InstalledSystem::Exited InstalledSystem::runByHand(std::optional<std::uint32_t> uid, const std::string& program,
    const Words& arguments, const std::vector<std::string>& environment)
{
    pid_t pid = uid ? bus_->startAsUser(*uid, program, arguments, environment) : bus_->start(program, arguments, environment);
    Exited exited;
    exited.status = bus_->wait(pid);
    exited.output = bus_->output(pid);
    return exited;
}

InstalledSystem::Ran InstalledSystem::perform(const Words& words)
{
    Ran ran;
    try {
        auto proxy = sdbus::createProxy(MessageBus::shared()->connection(), "org.arvel.Machine", "/org/arvel/Machine");
        proxy->callMethod("Perform").onInterface("org.arvel.MachineControl").withArguments(words).storeResultsTo(ran.ok, ran.output);
    } catch (const sdbus::Error& error) {
        ran.ok = false;
        ran.output = "no answer from the machine service: " + error.getMessage();
    }
    noteHostPids(ran.output);
    return ran;
}

std::string InstalledSystem::ok(const Words& words)
{
    Ran ran = perform(words);
    if (!ran.ok) {
        std::string verb;
        for (const auto& word : words)
            verb += (verb.empty() ? "" : " ") + word;
        ADD_FAILURE() << "\"" << verb << "\" refused: " << ran.output;
    }
    return ran.output;
}

bool InstalledSystem::waitFor(const Words& condition, double timeoutSeconds)
{
    Words words {"wait", "--timeout", std::to_string(timeoutSeconds)};
    words.insert(words.end(), condition.begin(), condition.end());
    std::string output;
    return run(ARVEL_MACHINE_PROGRAM, words, {}, &output);
}

std::string InstalledSystem::driverValue(const std::string& key)
{
    const std::string prefix = "  " + key + " = ";
    for (const std::string& line : splitLines(perform({"show", "driver"}).output)) {
        if (line.rfind(prefix, 0) == 0)
            return line.substr(prefix.size());
    }
    return {};
}

bool InstalledSystem::waitForDriver(const std::string& key, const std::string& value, double timeoutSeconds)
{
    return eventually([&] { return driverValue(key) == value; }, timeoutSeconds);
}

std::vector<std::string> InstalledSystem::logLines(std::size_t since)
{
    std::vector<std::string> lines = splitLines(perform({"log", "--since", std::to_string(since)}).output);
    return lines;
}

std::vector<std::string> InstalledSystem::logLinesOf(const std::string& program, std::size_t since)
{
    std::vector<std::string> out;
    for (const std::string& line : logLines(since)) {
        if (line.rfind(program + " ", 0) == 0)
            out.push_back(line);
    }
    return out;
}

bool InstalledSystem::waitForLogLinesOf(const std::string& program, std::size_t since, std::size_t count, double timeoutSeconds)
{
    return eventually([&] { return logLinesOf(program, since).size() >= count; }, timeoutSeconds);
}

std::vector<std::string> InstalledSystem::agentLines(pid_t hostPid, std::size_t since)
{
    return consoleLines("ArvelSessionAgent", hostPid, since);
}

std::vector<std::string> InstalledSystem::consoleLines(const std::string& name, pid_t hostPid, std::size_t since)
{
    // "2026-12-08 03:41:17.372 ArvelSessionAgent[23522] ArvelSessionAgent: Driver state change."
    const std::string program = name + "[" + std::to_string(hostPid) + "] ";
    std::vector<std::string> out;
    for (const std::string& line : splitLines(bus_->output(serviceOutput_))) {
        std::size_t at = line.find(program);
        if (at == std::string::npos)
            continue;
        std::string text = line.substr(at + program.size());
        if (text.rfind("ArvelDefaultButton", 0) != 0)
            out.push_back(text);
    }
    if (since >= out.size())
        return {};
    return std::vector<std::string>(out.begin() + static_cast<std::ptrdiff_t>(since), out.end());
}

bool InstalledSystem::waitForAgentRun(pid_t hostPid, std::size_t since, const std::vector<std::string>& run, double timeoutSeconds)
{
    return eventually(
        [&] {
            std::vector<std::string> lines = agentLines(hostPid, since);
            return std::search(lines.begin(), lines.end(), run.begin(), run.end()) != lines.end();
        },
        timeoutSeconds);
}

pid_t InstalledSystem::hostPidOf(const std::string& command)
{
    //   PID  HOST-PID  SESSION  COMMAND
    //     2     21807        -  /Library/StartupItems/Arvel/Arvel
    for (const std::string& line : splitLines(perform({"show", "processes"}).output)) {
        std::istringstream fields(line);
        std::string pid, host, session, rest;
        if (!(fields >> pid >> host >> session) || !std::getline(fields >> std::ws, rest))
            continue;
        if (rest == command && host != "-")
            return static_cast<pid_t>(std::stoi(host));
    }
    return -1;
}

pid_t InstalledSystem::hostPidIn(const std::string& answer)
{
    std::smatch match;
    if (std::regex_search(answer, match, std::regex("host pid ([0-9]+)")))
        return static_cast<pid_t>(std::stoi(match[1].str()));
    return -1;
}

void InstalledSystem::noteHostPids(const std::string& text)
{
    static const std::regex named("host pid ([0-9]+)");
    for (std::sregex_iterator it(text.begin(), text.end(), named), end; it != end; ++it)
        hostPids_.insert(static_cast<pid_t>(std::stoi((*it)[1].str())));
    // The process listing names them in a column of their own.
    if (text.rfind("  PID  HOST-PID", 0) == 0) {
        for (const std::string& line : splitLines(text)) {
            std::istringstream fields(line);
            int pid = 0;
            std::string host;
            if (fields >> pid >> host && host != "-" && host != "HOST-PID")
                hostPids_.insert(static_cast<pid_t>(std::stoi(host)));
        }
    }
}

std::vector<pid_t> InstalledSystem::finish()
{
    if (service_ <= 0)
        return {};
    // What runs now, and what the log ever named, detached daemons included.
    perform({"show", "processes"});
    logLines();
    std::string output;
    if (!run(ARVEL_MACHINE_PROGRAM, {"shutdown"}, {}, &output))
        bus_->kill(service_, SIGTERM);
    serviceStatus_ = bus_->wait(service_);
    service_ = -1;
    std::vector<pid_t> left;
    for (pid_t pid : hostPids_) {
        if (::kill(pid, 0) == 0 || errno != ESRCH)
            left.push_back(pid);
    }
    return left;
}
