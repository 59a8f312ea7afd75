// Core Foundation preferences: values of a domain addressed by application,
// user and host, over the files the original OS keeps them in:
//
//   current user, any host      ~/Library/Preferences/<app>.plist
//   current user, current host  ~/Library/Preferences/ByHost/<app>.<hostIdentifier>.plist
//   any user, any host          /Library/Preferences/<app>.plist
//   any user, current host      /Library/Preferences/ByHost/<app>.<hostIdentifier>.plist
//
// "~" is the process's effective user at the time of each call; the any
// application domain is the global preferences file ".GlobalPreferences".
// The app-value calls address the current user on any host.
//
// A set call writes through at once, as if the OS's automatic
// synchronisation had run: another process reading the domain sees the
// change without waiting for a moment that a simulation never reaches. A
// change that cannot be written stays pending in this process (its own reads
// see it) until a synchronize writes it; synchronize answers false while any
// change of the domain stays unwritten. A write changes only the keys this
// process set or removed, over the file as it stands at that moment, so
// writers of one domain in several processes never undo each other's keys.
// The any-user domains are written
// only by a process whose effective id is 0; for anyone else the write, and
// so the synchronize, fails.
//
// Unreadable domain files are set aside, never overwritten (see
// PreferenceDomainFile.h).
#pragma once

#include "Foundation/Value.h"

#include <string>
#include <string_view>

inline constexpr std::string_view kCFPreferencesAnyApplication = "kCFPreferencesAnyApplication";
inline constexpr std::string_view kCFPreferencesAnyHost = "kCFPreferencesAnyHost";
inline constexpr std::string_view kCFPreferencesCurrentHost = "kCFPreferencesCurrentHost";
inline constexpr std::string_view kCFPreferencesAnyUser = "kCFPreferencesAnyUser";
inline constexpr std::string_view kCFPreferencesCurrentUser = "kCFPreferencesCurrentUser";

// The value of the key in the current user's domain, nil when absent.
Value CFPreferencesCopyAppValue(std::string_view key, std::string_view applicationID);
// Sets the key; nil removes it.
void CFPreferencesSetAppValue(std::string_view key, const Value& value, std::string_view applicationID);
bool CFPreferencesAppSynchronize(std::string_view applicationID);

bool CFPreferencesSynchronize(std::string_view applicationID, std::string_view userName, std::string_view hostName);
// A dictionary of the keys found (all keys when keysToFetch is nil); nil
// when the domain cannot be addressed (a bad selector, a user without home)
// or its file was found unreadable (and set aside, for a caller who may
// write it, so that the next call finds no domain).
Value CFPreferencesCopyMultiple(
    const Value& keysToFetch, std::string_view applicationID, std::string_view userName, std::string_view hostName);
// Sets the entries of keysToSet (a dictionary or nil; a nil entry removes
// its key), then removes the keys listed in keysToRemove (an array or nil).
void CFPreferencesSetMultiple(const Value& keysToSet, const Value& keysToRemove, std::string_view applicationID,
    std::string_view userName, std::string_view hostName);
// The domain's keys as an array of strings; nil when it holds none.
Value CFPreferencesCopyKeyList(std::string_view applicationID, std::string_view userName, std::string_view hostName);

// The system path of the domain's file, empty when it cannot be addressed
// (what the tools use to name and repair a domain).
std::string CFPreferencesDomainPath(
    std::string_view applicationID, std::string_view userName, std::string_view hostName);
// The same for the user whose home folder (a system path) is given, the
// machine's own folder "/Library/Preferences" for an empty one: what a tool
// acting for a user the machine may not know addresses.
std::string CFPreferencesDomainPathInHome(
    std::string_view applicationID, std::string_view home, std::string_view hostName);

// Forgets every pending change (tests start from a clean process).
void CFPreferencesDiscardPendingChangesForTesting();
