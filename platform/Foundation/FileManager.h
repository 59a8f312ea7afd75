// The file-system questions the system asks, on system paths (mapped onto
// the machine's disk root), and "~user" expansion through its user table.
#pragma once

#include "Foundation/Value.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// NSString stringByExpandingTildeInPath: "~alice/Library" -> "/Users/alice/Library";
// "~" alone is the effective user's home; an unknown user is left as it is.
std::string expandTildeInPath(const std::string& path);
// NSFileManager fileExistsAtPath: a file or a folder both count.
bool fileExistsAtPath(const std::string& systemPath);
bool fileExistsAtPath(const std::string& systemPath, bool* isDirectory);

// NSFileManager contentsAtPath: the bytes of the regular file at a system
// path; nothing when it is missing, no regular file (a FIFO is not waited
// on) or larger than maximumBytes.
std::optional<std::string> contentsAtPath(const std::string& systemPath, std::size_t maximumBytes);

// NSFileManager removeFileAtPath:handler: a file, or a folder with all it
// holds; a link is removed, never followed. False when something stays.
bool removeFileAtPath(const std::string& systemPath);

// The default NSFileManager, for code that holds one; null when the machine
// fails it (injected as "NSFileManager").
class NSFileManager {
public:
    static NSFileManager* defaultManager();
    bool fileExistsAtPath(const std::string& systemPath) const { return ::fileExistsAtPath(systemPath); }
    bool removeFileAtPath(const std::string& systemPath) const { return ::removeFileAtPath(systemPath); }
};
// NSString lastPathComponent: "/Applications/Safari.app" -> "Safari.app".
std::string lastPathComponent(const std::string& path);

// NSFileManager fileAttributesAtPath:traverseLink:YES: a dictionary with
// NSFileType ("NSFileTypeDirectory", "NSFileTypeRegular", ...) and, where
// the item has one, NSFileHFSCreatorCode (a number); nil when nothing is
// there. An application bundle's creator code is the one its
// Contents/PkgInfo gives ("APPL" and four characters), as the Finder shows
// it for a bundle.
Value fileAttributesAtPathTraverseLink(const std::string& systemPath);

// NSFileTypeForHFSTypeCode: the code's four characters between single
// quotes ('ABCD'); a code of 0 gives "''".
std::string NSFileTypeForHFSTypeCode(std::uint32_t code);

// NSFileManager displayNameAtPath: the name the Finder shows, here the
// last path component with its extension.
std::string displayNameAtPath(const std::string& systemPath);
