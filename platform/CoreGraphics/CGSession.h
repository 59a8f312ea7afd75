// The Core Graphics session dictionary, under its own name.
#pragma once

#include "Foundation/Value.h"

inline constexpr const char* kCGSessionUserIDKey = "kCGSSessionUserIDKey";
inline constexpr const char* kCGSessionUserNameKey = "kCGSSessionUserNameKey";
inline constexpr const char* kCGSessionOnConsoleKey = "kCGSSessionOnConsoleKey";
inline constexpr const char* kCGSessionIDKey = "kCGSSessionIDKey";

// The login session of the running program: {"kCGSSessionOnConsoleKey":
// boolean, "kCGSSessionUserNameKey": short name, "kCGSSessionUserIDKey":
// uid, "kCGSSessionIDKey": session id}; nil when the program runs in no
// login session (or on the failure "CGSessionCopyCurrentDictionary").
Value CGSessionCopyCurrentDictionary();
