#include "Security/AuthSession.h"

#include "MachineLink/MachineLink.h"

OSStatus SessionGetInfo(SecuritySessionId session, SecuritySessionId* sessionId, SessionAttributeBits* attributes)
{
    auto& m = MachineLink::shared();
    if (OSStatus r = m.take("SessionGetInfo"))
        return r;
    SecuritySessionId id = session == callerSecuritySession ? m.programSession() : session;
    if (id == noSecuritySession || !m.call(ops::session, id))
        return errSessionInvalidId;
    if (sessionId)
        *sessionId = id;
    if (attributes)
        *attributes = sessionHasGraphicAccess | sessionWasInitialized;
    return errSessionSuccess;
}
