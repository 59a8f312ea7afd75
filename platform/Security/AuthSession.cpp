#include "Security/AuthSession.h"

#include "machine/Machine.h"

OSStatus SessionGetInfo(SecuritySessionId session, SecuritySessionId* sessionId, SessionAttributeBits* attributes)
{
    auto& m = machine::Machine::shared();
    if (OSStatus r = m.failures().take("SessionGetInfo"))
        return r;
    SecuritySessionId id = session == callerSecuritySession ? m.programSession() : session;
    if (id == noSecuritySession || !m.loginSessions().session(id))
        return errSessionInvalidId;
    if (sessionId)
        *sessionId = id;
    if (attributes)
        *attributes = sessionHasGraphicAccess | sessionWasInitialized;
    return errSessionSuccess;
}
