#include "Machine.h"

namespace machine {

Machine& Machine::shared()
{
    static Machine machine;
    return machine;
}

void Machine::reset()
{
    users_.reset();
    failures_.clearAll();
    realUid_ = 0;
    effectiveUid_ = 0;
    // --- Session agent ---
    processes_.reset();
    accessibility_.reset();
    loginSessions_.reset();
    pointer_.reset();
    programPid_ = 0;
    systemVersion_ = 0x1039;
    // --- end of session agent ---
}

std::string Machine::effectiveUserHome() const
{
    const User* user = users_.userWithId(effectiveUid_);
    return user ? user->home : std::string();
}

// --- Session agent ---
std::uint32_t Machine::programSession() const
{
    const Process* p = processes_.processWithPid(programPid_);
    return p ? p->session : 0;
}
// --- end of session agent ---

std::string Machine::expandTilde(const std::string& path) const
{
    if (path.empty() || path[0] != '~')
        return path;
    std::size_t slash = path.find('/');
    std::string name = path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
    std::string rest = slash == std::string::npos ? std::string() : path.substr(slash);
    const User* user = name.empty() ? users_.userWithId(effectiveUid_) : users_.userNamed(name);
    if (!user)
        return path;
    return user->home + rest;
}

} // namespace machine
