// Security session information, under its own names.
#pragma once

#include "Carbon/MacTypes.h"

using SecuritySessionId = UInt32;
using SessionAttributeBits = UInt32;

inline constexpr SecuritySessionId noSecuritySession = 0;
// The session of the calling program.
inline constexpr SecuritySessionId callerSecuritySession = static_cast<SecuritySessionId>(-1);

inline constexpr SessionAttributeBits sessionIsRoot = 0x0001;
inline constexpr SessionAttributeBits sessionHasGraphicAccess = 0x0010;
inline constexpr SessionAttributeBits sessionHasTTY = 0x0020;
inline constexpr SessionAttributeBits sessionIsRemote = 0x1000;
inline constexpr SessionAttributeBits sessionWasInitialized = 0x8000;

inline constexpr OSStatus errSessionSuccess = 0;
inline constexpr OSStatus errSessionInvalidId = -60500;

// The id and attributes of a session (callerSecuritySession: the running
// program's login session). errSessionInvalidId for a program in no login
// session or an unknown id; a failure injected as "SessionGetInfo" is
// answered instead. Either output pointer may be null.
OSStatus SessionGetInfo(SecuritySessionId session, SecuritySessionId* sessionId, SessionAttributeBits* attributes);
