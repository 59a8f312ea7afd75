#include "Unix/Identity.h"

#include "machine/Machine.h"

namespace posix {

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
    if (m.failures().take("seteuid") != 0)
        return -1;
    // As on Unix: root may take any id; others only their real id.
    if (m.realUserId() != 0 && uid != m.realUserId())
        return -1;
    m.setEffectiveUserId(uid);
    return 0;
}

} // namespace posix
