#include "Machine.h"

#include "Paths/DiskRoot.h"
#include "RunLoop/Clock.h"

#include <filesystem>

namespace machine {

Machine::Machine()
    : driver_(registry_, failures_)
    , console_(store_, users_)
    , hidSystem_(registry_, failures_, driver_)
{
    hidSystem_.boot();
}

Machine& Machine::shared()
{
    // Never destroyed: objects released while the program exits still
    // reach the machine.
    static Machine* machine = new Machine;
    return *machine;
}

void Machine::reset()
{
    users_.reset();
    failures_.clearAll();
    driver_.reset();
    registry_.reset();
    console_.reset();
    store_.reset();
    hidSystem_.reset();
    hidSystem_.boot();
    power_.reset();
    systemLog_.reset();
    alerts_.reset();
    linkTraffic_.reset();
    programConsoles_.reset();
    windows_.reset();
    authorization_.reset();
    restartsRequested_ = 0;
    program_ = ProgramIdentity();
    // --- Session agent ---
    processes_.reset();
    accessibility_.reset();
    loginSessions_.reset();
    pointer_.reset();
    systemVersion_ = 0x1039;
    // --- end of session agent ---
}

std::string Machine::effectiveUserHome() const
{
    const User* user = users_.userWithId(program_.effectiveUid);
    return user ? user->home : std::string();
}

// --- Session agent ---
std::uint32_t Machine::programSession() const
{
    const Process* p = processes_.processWithPid(program_.pid);
    return p ? p->session : 0;
}
// --- end of session agent ---

std::string Machine::expandTilde(const std::string& path, std::uint32_t uid) const
{
    if (path.empty() || path[0] != '~')
        return path;
    std::size_t slash = path.find('/');
    std::string name = path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
    std::string rest = slash == std::string::npos ? std::string() : path.substr(slash);
    const User* user = name.empty() ? users_.userWithId(uid) : users_.userNamed(name);
    if (!user)
        return path;
    return user->home + rest;
}

bool Machine::createHomeFolder(const std::string& userName)
{
    const User* user = users_.userNamed(userName);
    if (!user)
        return false;
    std::error_code error;
    std::filesystem::create_directories(hostPath(user->home + "/Library/Preferences"), error);
    return !error;
}

void Machine::requestRestart(const std::string& asker)
{
    ++restartsRequested_;
    systemLog_.append({currentDate(), "arvel-machine", 0, 5, "Finder: restart asked by " + asker});
    if (restartHandler_)
        restartHandler_(asker);
}

} // namespace machine
