// NSAppleScript: the scripts the system runs. The one this machine
// understands is the Finder's restart, "tell application \"Finder\" to
// restart": every program ends and the machine boots again. Any other
// source is a compile error, answered as the error dictionary's message.
#pragma once

#include "Foundation/Value.h"

#include <string>

class NSAppleScript {
public:
    explicit NSAppleScript(std::string source) : source_(std::move(source)) {}

    // executeAndReturnError: the result (nil on failure) and, on failure,
    // the error dictionary (NSAppleScriptErrorMessage, NSAppleScriptErrorNumber).
    Value executeAndReturnError(Value* errorInfo) const;

private:
    std::string source_;
};
