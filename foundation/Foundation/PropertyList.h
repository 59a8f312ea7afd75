// Property-list files and data, in the XML and binary formats
// (XMLPropertyList.h, BinaryPropertyList.h). Anything read, from a file or
// from a message, is hostile until proven otherwise: malformed data, a
// string holding U+0000, nesting beyond kMaximumPropertyListDepth or data
// that would expand without bound read as "not a property list", never as
// a crash.
//
// Reading accepts XML and binary; writing produces XML, atomically: the data
// goes to a temporary file in the same folder, is flushed to disk and then
// renamed over the target, so a crash never leaves a torn file.
//
// A file that is missing, truncated, not a property list or of an
// unexpected root type never crashes anything: the result says which, and
// readPropertyListFile() reads it as nil with one logged line.
#pragma once

#include "Foundation/Value.h"

#include <optional>
#include <string>

enum class PropertyListStatus { Ok, Missing, Unreadable, NotAPropertyList, UnexpectedRootType };

struct PropertyListReadResult {
    Value value; // nil unless status is Ok
    PropertyListStatus status = PropertyListStatus::Missing;
    std::string reason; // why, for a log line; empty when Ok
    bool ok() const { return status == PropertyListStatus::Ok; }
};

enum class PropertyListFormat { XML, Binary };

// Parses XML or binary property-list data; format, when given, learns which
// of the two it was.
std::optional<Value> propertyListFromData(std::string_view data, PropertyListFormat* format = nullptr);
// The data of a value in the format asked for.
std::optional<std::string> propertyListData(const Value& value, PropertyListFormat format);
// XML property-list text of a value (nil is written as an empty dictionary's
// absence: it yields an empty optional, since no format can hold it).
std::optional<std::string> xmlPropertyListData(const Value& value);
std::optional<std::string> binaryPropertyListData(const Value& value);

// Reads a file; expectedRoot, when given, is the only root type accepted.
PropertyListReadResult readPropertyList(const std::string& path, std::optional<Value::Type> expectedRoot = std::nullopt);
// The same, reading any failure as nil with one logged error line.
Value readPropertyListFile(const std::string& path, std::optional<Value::Type> expectedRoot = std::nullopt);

// Writes XML atomically. With createFolders, missing parent folders are made.
// Returns false (and fills error) when nothing was written.
bool writePropertyListFile(const std::string& path, const Value& value, std::string* error = nullptr,
    bool createFolders = false);
