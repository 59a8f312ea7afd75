// The file-system questions the system asks, on system paths (mapped onto
// the machine's disk root), and "~user" expansion through its user table.
#pragma once

#include "Foundation/Value.h"

#include <cstddef>
#include <string>

// NSString stringByExpandingTildeInPath: "~alice/Library" -> "/Users/alice/Library";
// "~" alone is the effective user's home; an unknown user is left as it is.
std::string expandTildeInPath(const std::string& path);
// NSFileManager fileExistsAtPath: a file or a folder both count.
bool fileExistsAtPath(const std::string& systemPath);
bool fileExistsAtPath(const std::string& systemPath, bool* isDirectory);

// [[NSString stringWithContentsOfFile:] propertyList]: the property list in
// the file at a system path; nil when there is none (missing, no regular
// file, larger than maximumBytes, or no property list), where the original
// raises.
Value propertyListWithContentsOfFile(const std::string& systemPath, std::size_t maximumBytes);
