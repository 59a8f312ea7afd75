// The one place where the system's absolute paths meet the machine's disk.
//
// System code names files as the original OS lays them out
// ("/Library/PreferencePanes/Arvel.prefPane", "/Users/alice/Library/...").
// hostPath() maps such a path onto the disk root: the folder named by the
// environment variable ARVEL_ROOT, or kDefaultDiskRoot when it is unset. The
// mapping is lexical and never leaves the root: ".." cannot climb above it.
// "~user" expansion belongs to the machine's user table, not to this file.
#pragma once

#include <string>
#include <string_view>

inline constexpr const char* kDefaultDiskRoot = "/var/tmp/arvel-root";

// The disk root in force: a test override, else ARVEL_ROOT, else the default.
std::string diskRoot();
// Overrides the disk root for this process (tests); empty restores the rule.
void setDiskRoot(std::string root);

// "/a/./b/../c" -> "/a/c"; never rises above "/". Relative paths become
// absolute from "/".
std::string normalizeSystemPath(std::string_view systemPath);
// The host path of a system path: diskRoot() + normalizeSystemPath(path).
std::string hostPath(std::string_view systemPath);
// The reverse, for paths found on the host; empty when outside the root.
std::string systemPathForHostPath(std::string_view host);
