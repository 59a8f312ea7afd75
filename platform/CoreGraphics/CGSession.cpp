#include "CoreGraphics/CGSession.h"

#include "MachineLink/MachineLink.h"

Value CGSessionCopyCurrentDictionary()
{
    auto& m = MachineLink::shared();
    if (m.take("CGSessionCopyCurrentDictionary"))
        return {};
    std::optional<MachineLink::Session> session = m.call(ops::session, m.programSession());
    if (!session)
        return {};
    return Value::dictionary({
        {kCGSessionOnConsoleKey, session->onConsole},
        {kCGSessionUserNameKey, session->userName},
        {kCGSessionUserIDKey, session->uid},
        {kCGSessionIDKey, session->id},
    });
}
