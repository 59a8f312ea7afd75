// Property-list files read on terms and written in a chosen format.
//
// A reader never blocks on a file and never holds more of it than its terms
// allow: the file is opened without waiting (a FIFO or a device is refused,
// not waited on: only regular files are read), and at most one byte more
// than the limit is read, so a file that grows while it is read is refused
// too. A reader of files that someone else may control (a root program
// reading a user's folder) also refuses a symbolic link as the last part of
// the path and any file not of the owner it expects. A refused file reads as
// PropertyListStatus::Unreadable, with the reason.
//
// Writes are atomic: the data goes to a temporary file beside the target
// (".<name>.XXXXXX"), is flushed, then renamed over the target. The new
// file belongs to whoever writes it, with mode 0644.
#pragma once

#include "Foundation/PropertyList.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// What an ordinary reader accepts: property lists are small, so anything
// this large is not one worth holding in memory.
inline constexpr std::size_t kMaximumPropertyListFileBytes = 64u << 20;

struct PropertyListFileTerms {
    bool followLinks = true;
    std::optional<std::uint32_t> owner; // the only owner accepted, when set
    std::size_t maximumBytes = kMaximumPropertyListFileBytes;
};

// Reads a file on these terms; format, when given, learns whether it was
// XML or binary.
PropertyListReadResult readPropertyList(const std::string& path, const PropertyListFileTerms& terms,
    std::optional<Value::Type> expectedRoot = std::nullopt, PropertyListFormat* format = nullptr);

// Writes the value atomically in this format. With createFolders, missing
// parent folders are made. False (with error filled) when nothing was written.
bool writePropertyListFile(const std::string& path, const Value& value, PropertyListFormat format,
    std::string* error = nullptr, bool createFolders = false);

// Removes what writers of this file killed before their rename left behind:
// the temporary files of its name in its folder. Only for a caller that
// knows no writer of the file is at work (one that holds the file's lock).
void removeLeftoverTemporaryFiles(const std::string& path);
