#include "Unix/Identity.h"

#include "machine/Machine.h"

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace posix {

namespace {

bool stayInForeground()
{
    const char* value = std::getenv(kNoDetachVariable);
    return value && std::string(value) == "1";
}

} // namespace

uid_t getuid()
{
    return machine::Machine::shared().realUserId();
}

uid_t geteuid()
{
    return machine::Machine::shared().effectiveUserId();
}

int seteuid(uid_t uid)
{
    auto& m = machine::Machine::shared();
    if (m.failures().take("seteuid", std::to_string(uid)) != 0)
        return -1;
    // As on Unix: root may take any id; others only their real id.
    if (m.realUserId() != 0 && uid != m.realUserId())
        return -1;
    // A real process really changes whose files it may touch; inside a test
    // the machine's notion of who runs is all that changes.
    if (m.isHostProcess() && ::seteuid(uid) != 0)
        return -1;
    m.setEffectiveUserId(uid);
    return 0;
}

int daemon(int nochdir, int noclose)
{
    auto& m = machine::Machine::shared();
    if (m.failures().take("daemon") != 0)
        return -1;
    if (m.isHostProcess() && !stayInForeground() && ::daemon(nochdir, noclose) != 0)
        return -1;
    m.setProgramDetached(true);
    return 0;
}

void adoptHostProcessIdentity()
{
    auto& m = machine::Machine::shared();
    m.setHostProcess(true);
    m.setRealUserId(::getuid());
    m.setEffectiveUserId(::geteuid());
}

} // namespace posix
