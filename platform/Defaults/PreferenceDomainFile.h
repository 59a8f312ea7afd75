// Preference domain files: one property-list dictionary per domain, on the
// machine's disk, named by system paths.
//
// A domain file is a file its user controls, and the root daemon reads it:
// so it is read only when it is a regular file (never through a symbolic
// link, never a FIFO or a device, which could block or never end) of the
// process's effective user (on the host: the user the daemon acts as, or the
// user a program runs as) and at most kMaximumPreferenceFileBytes long.
// Anything else is refused with one logged line naming the file and why,
// and the domain reads as unreadable.
//
// Nothing stored is ever lost to a file that cannot be read. A domain file
// that exists but is refused or is not a dictionary property list (torn by
// an old crash, edited by hand, of the wrong root type) reads as a missing
// domain, and before anything could replace it, it is moved aside to
// "<file>.unreadable" (or ".unreadable.1", ".unreadable.2", ... when older
// copies are there; they are kept) with one logged line. Only a file of the
// effective user is moved (a symbolic link is moved itself, never followed);
// where it cannot be moved aside, writes to the domain are refused.
//
// Writers of one domain take turns: each write holds the lock file
// "<file>.lock" beside the domain (a regular file of the effective user),
// removes what killed writers left behind, reads the file afresh, changes
// only what it means to change, and writes it atomically (temporary file,
// then rename) in the format the file had (XML for a new one), creating the
// folders it needs. A lock that cannot be had within kPreferenceLockWaitSeconds
// (another writer holding it for good) is one logged line and no write.
#pragma once

#include "Foundation/PropertyList.h"
#include "Foundation/Value.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// A settings domain is a few kilobytes; nothing larger is read.
inline constexpr std::size_t kMaximumPreferenceFileBytes = 1u << 20;
// How long a writer waits for the domain's lock before giving up.
inline constexpr double kPreferenceLockWaitSeconds = 2.0;

// A domain name that can name a file in a preferences folder: not empty, no
// "/", and not "." or "..".
bool isValidPreferenceDomainName(std::string_view name);

// A value a property-list file can hold: no nil anywhere inside it.
bool isStorablePreferenceValue(const Value& value);

// The file of a domain: "<home>/Library/Preferences/<name>.plist", or with
// byHost "<home>/Library/Preferences/ByHost/<name>.<hostIdentifier>.plist";
// an empty home is the machine's own folder "/Library/Preferences". Empty
// when the name is not valid.
std::string preferenceDomainPath(
    std::string_view home, std::string_view name, bool byHost, std::string_view hostIdentifier);

// The file read on the terms above, nothing logged and nothing moved (what
// a tool shows); the reason of a refusal is in the result.
PropertyListReadResult readPreferenceDomainFile(const std::string& systemPath);

// The domain's dictionary, or nil when the file is missing or cannot be read.
// With setAsideUnreadable (the caller may write the domain), a file that
// cannot be read is moved aside; otherwise it is only logged. wasUnreadable,
// when given, tells the two kinds of nil apart.
Value loadPreferenceDomain(
    const std::string& systemPath, bool setAsideUnreadable = true, bool* wasUnreadable = nullptr);

// Changes the domain under its lock: `change` gets the domain as the file
// holds it now (nil when there is none) and answers the new domain, or nil
// to remove the file. False (with one logged line) when nothing could be
// written.
bool updatePreferenceDomain(const std::string& systemPath, const std::function<Value(Value current)>& change);

// Writes the dictionary as the whole domain; false (with one logged line)
// when nothing was written.
bool storePreferenceDomain(const std::string& systemPath, const Value& domain);

// Removes the domain's file; an unreadable one is moved aside instead.
// True when no domain file is left (also when there was none).
bool removePreferenceDomain(const std::string& systemPath);
