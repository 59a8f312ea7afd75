// Preference domain files: one property-list dictionary per domain, on the
// machine's disk, named by system paths.
//
// Nothing stored is ever lost to a file that cannot be read. A domain file
// that exists but is not a dictionary property list (torn by an old crash,
// edited by hand, of the wrong root type) reads as a missing domain, and
// before anything could replace it, it is moved aside to "<file>.unreadable"
// (or ".unreadable.1", ".unreadable.2", ... when older copies are there; they
// are kept) with one logged line. Where it cannot be moved aside, writes to
// the domain are refused.
//
// Writes are atomic (temporary file, then rename) and create the folders
// they need.
#pragma once

#include "Foundation/Value.h"

#include <string>
#include <string_view>

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

// The domain's dictionary, or nil when the file is missing or cannot be read.
// With setAsideUnreadable (the caller may write the domain), a file that
// cannot be read is moved aside; otherwise it is only logged. wasUnreadable,
// when given, tells the two kinds of nil apart.
Value loadPreferenceDomain(
    const std::string& systemPath, bool setAsideUnreadable = true, bool* wasUnreadable = nullptr);

// Writes the dictionary as the whole domain; false (with one logged line)
// when nothing was written.
bool storePreferenceDomain(const std::string& systemPath, const Value& domain);

// Removes the domain's file; an unreadable one is moved aside instead.
// True when no domain file is left (also when there was none).
bool removePreferenceDomain(const std::string& systemPath);
