#include "Foundation/NSAppleScript.h"

#include "MachineLink/MachineLink.h"

#include <regex>

Value NSAppleScript::executeAndReturnError(Value* errorInfo) const
{
    static const std::regex finderRestart(R"(\s*tell\s+application\s+"Finder"\s+to\s+restart\s*)", std::regex::icase);
    auto fail = [errorInfo](const std::string& message, long long number) {
        if (errorInfo)
            *errorInfo = Value::dictionary({{"NSAppleScriptErrorMessage", message}, {"NSAppleScriptErrorNumber", Value(number)}});
        return Value();
    };
    if (!std::regex_match(source_, finderRestart))
        return fail("This script cannot be run here: only the Finder's restart is understood.", -2741);
    auto& link = MachineLink::shared();
    if (int r = link.take("NSAppleScript"))
        return fail("The Finder got an error.", r);
    link.call(ops::finderRestart);
    if (errorInfo)
        *errorInfo = Value();
    return Value::dictionary();
}
