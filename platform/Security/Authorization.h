// Authorization Services, under their own names: what the installer asks
// before it runs its tool as root.
//
// AuthorizationCopyRights with interaction allowed puts the machine's
// administrator password prompt in front of the person at the console and
// waits for its answer, serving only the run loop's modal-panel mode
// meanwhile (the machine's news arrives there; the caller's own default-
// mode sources wait, as a blocked thread's would). A right granted stays
// with the AuthorizationRef until AuthorizationFree.
//
// AuthorizationExecuteWithPrivileges runs a tool as root on the machine for
// a reference holding "system.privilege.admin", and waits for it to end;
// the FILE* it answers is the read end of a pipe holding what the tool
// wrote to its standard output.
#pragma once

#include "Carbon/MacTypes.h"

#include <cstdint>
#include <cstdio>

using AuthorizationFlags = UInt32;
inline constexpr AuthorizationFlags kAuthorizationFlagDefaults = 0;
inline constexpr AuthorizationFlags kAuthorizationFlagInteractionAllowed = 1 << 0;
inline constexpr AuthorizationFlags kAuthorizationFlagExtendRights = 1 << 1;
inline constexpr AuthorizationFlags kAuthorizationFlagPartialRights = 1 << 2;
inline constexpr AuthorizationFlags kAuthorizationFlagDestroyRights = 1 << 3;
inline constexpr AuthorizationFlags kAuthorizationFlagPreAuthorize = 1 << 4;

inline constexpr OSStatus errAuthorizationSuccess = 0;
inline constexpr OSStatus errAuthorizationInvalidSet = -60001;
inline constexpr OSStatus errAuthorizationInvalidRef = -60002;
inline constexpr OSStatus errAuthorizationInvalidPointer = -60004;
inline constexpr OSStatus errAuthorizationDenied = -60005;
inline constexpr OSStatus errAuthorizationCanceled = -60006;
inline constexpr OSStatus errAuthorizationInteractionNotAllowed = -60007;
inline constexpr OSStatus errAuthorizationInternal = -60008;
inline constexpr OSStatus errAuthorizationToolExecuteFailure = -60031;

inline constexpr const char* kAuthorizationRightExecute = "system.privilege.admin";

struct AuthorizationItem {
    const char* name;
    std::size_t valueLength;
    void* value;
    UInt32 flags;
};
struct AuthorizationItemSet {
    UInt32 count;
    AuthorizationItem* items;
};
using AuthorizationRights = AuthorizationItemSet;
using AuthorizationEnvironment = AuthorizationItemSet;

struct AuthorizationOpaqueRef;
using AuthorizationRef = AuthorizationOpaqueRef*;

// A failure injected as the function's name is answered instead.
OSStatus AuthorizationCreate(const AuthorizationRights* rights, const AuthorizationEnvironment* environment, AuthorizationFlags flags,
    AuthorizationRef* authorization);
OSStatus AuthorizationCopyRights(AuthorizationRef authorization, const AuthorizationRights* rights, const AuthorizationEnvironment* environment,
    AuthorizationFlags flags, AuthorizationRights** authorizedRights);
// arguments: null-terminated. communicationsPipe may be null.
OSStatus AuthorizationExecuteWithPrivileges(AuthorizationRef authorization, const char* pathToTool, AuthorizationFlags options,
    char* const* arguments, FILE** communicationsPipe);
OSStatus AuthorizationFree(AuthorizationRef authorization, AuthorizationFlags flags);
