#include "CoreGraphics/CGSession.h"

#include "machine/Machine.h"

Value CGSessionCopyCurrentDictionary()
{
    auto& m = machine::Machine::shared();
    if (m.failures().take("CGSessionCopyCurrentDictionary"))
        return {};
    const machine::LoginSession* session = m.loginSessions().session(m.programSession());
    if (!session)
        return {};
    return Value::dictionary({
        {kCGSessionOnConsoleKey, session->onConsole},
        {kCGSessionUserNameKey, session->userName},
        {kCGSessionUserIDKey, session->uid},
        {kCGSessionIDKey, session->id},
    });
}
