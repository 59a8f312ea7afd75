#include "Processes.h"

#include <cstdio>

namespace machine {

Processes::Processes()
{
    reset();
}

void Processes::reset()
{
    processes_.clear();
    nextPid_ = 1;
    nextSerialLow_ = 0x1001;
    frontPid_ = 0;
    frontBySession_.clear();
    startUnixProcess("/sbin/launchd");
}

Process& Processes::add(Process process)
{
    process.pid = nextPid_++;
    auto [it, inserted] = processes_.emplace(process.pid, std::move(process));
    return it->second;
}

const Process& Processes::launch(const ApplicationSpec& spec)
{
    Process p;
    p.application = true;
    p.enumerated = true;
    p.serial = spec.serial == ProcessSerial {} ? ProcessSerial {0, nextSerialLow_++} : spec.serial;
    p.name = spec.name;
    p.bundleIdentifier = spec.bundleIdentifier;
    p.bundlePath = spec.bundlePath;
    p.creator = spec.creator;
    p.session = spec.session;
    if (!spec.bundlePath.empty())
        p.command = spec.bundlePath + "/Contents/MacOS/" + spec.name;
    else
        p.command = spec.name;
    for (const std::string& argument : spec.arguments)
        p.command += " " + argument;
    Process& added = add(std::move(p));
    tell(ApplicationEventKind::Launched, added);
    return added;
}

const Process& Processes::startUnixProcess(const std::string& command, std::uint32_t session)
{
    Process p;
    p.command = command;
    auto slash = command.find_last_of('/');
    std::string executable = slash == std::string::npos ? command : command.substr(slash + 1);
    p.name = executable.substr(0, executable.find(' '));
    p.session = session;
    return add(std::move(p));
}

const Process& Processes::startLoginWindow()
{
    Process p;
    p.application = true;
    p.serial = {0, nextSerialLow_++};
    p.name = "loginwindow";
    p.bundleIdentifier = "com.apple.loginwindow";
    p.bundlePath = "/System/Library/CoreServices/loginwindow.app";
    p.command = "/System/Library/CoreServices/loginwindow.app/Contents/MacOS/loginwindow console";
    return add(std::move(p));
}

bool Processes::quit(int pid)
{
    auto it = processes_.find(pid);
    if (it == processes_.end())
        return false;
    Process gone = std::move(it->second);
    processes_.erase(it);
    if (frontPid_ == pid)
        frontPid_ = 0;
    std::erase_if(frontBySession_, [pid](const auto& entry) { return entry.second == pid; });
    if (gone.enumerated)
        tell(ApplicationEventKind::Terminated, gone);
    return true;
}

bool Processes::bringToFront(int pid)
{
    const Process* p = processWithPid(pid);
    if (!p || !p->application)
        return false;
    frontPid_ = pid;
    frontBySession_[p->session] = pid;
    tell(ApplicationEventKind::FrontSwitched, *p);
    return true;
}

void Processes::setConsoleSession(std::uint32_t session)
{
    auto it = frontBySession_.find(session);
    frontPid_ = it == frontBySession_.end() ? 0 : it->second;
}

bool Processes::setHostPid(int pid, int hostPid)
{
    auto it = processes_.find(pid);
    if (it == processes_.end())
        return false;
    it->second.hostPid = hostPid;
    return true;
}

bool Processes::setUserId(int pid, std::uint32_t uid)
{
    auto it = processes_.find(pid);
    if (it == processes_.end())
        return false;
    it->second.uid = uid;
    return true;
}

const Process* Processes::processWithHostPid(int hostPid) const
{
    if (hostPid <= 0)
        return nullptr;
    for (const auto& [pid, process] : processes_)
        if (process.hostPid == hostPid)
            return &process;
    return nullptr;
}

const Process* Processes::processWithPid(int pid) const
{
    auto it = processes_.find(pid);
    return it == processes_.end() ? nullptr : &it->second;
}

const Process* Processes::processWithSerial(const ProcessSerial& serial) const
{
    for (const auto& [pid, p] : processes_) {
        if (p.application && p.serial == serial)
            return &p;
    }
    return nullptr;
}

const Process* Processes::frontProcess() const
{
    return processWithPid(frontPid_);
}

std::vector<const Process*> Processes::all() const
{
    std::vector<const Process*> out;
    for (const auto& [pid, p] : processes_)
        out.push_back(&p);
    return out;
}

std::vector<const Process*> Processes::applications() const
{
    std::vector<const Process*> out;
    for (const auto& [pid, p] : processes_) {
        if (p.enumerated)
            out.push_back(&p);
    }
    return out;
}

std::string Processes::processListing() const
{
    std::string out = "  PID  TT  STAT      TIME COMMAND\n";
    for (const auto& [pid, p] : processes_) {
        char head[64];
        std::snprintf(head, sizeof head, "%5d  ??  Ss     0:00.10 ", pid);
        out += head;
        out += p.command;
        out += '\n';
    }
    return out;
}

int Processes::addListener(Listener listener)
{
    int id = nextListener_++;
    listeners_.emplace(id, std::move(listener));
    return id;
}

void Processes::removeListener(int id)
{
    listeners_.erase(id);
}

ApplicationSnapshot Processes::snapshot() const
{
    ApplicationSnapshot out;
    for (const Process* p : applications())
        out.applications.push_back(*p);
    if (const Process* front = frontProcess())
        out.front = *front;
    out.sequence = sequence_;
    return out;
}

void Processes::tell(ApplicationEventKind kind, const Process& process)
{
    const ApplicationEvent event {kind, process.serial, process, ++sequence_};
    // A listener may remove itself (or another) while being told.
    auto listeners = listeners_;
    for (auto& [id, listener] : listeners) {
        if (listeners_.count(id))
            listener(event);
    }
}

} // namespace machine
