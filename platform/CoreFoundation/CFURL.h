// Core Foundation URLs, under their own names: only file URLs of absolute
// system paths, which is what Launch Services is given here.
#pragma once

#include "Carbon/MacTypes.h"
#include "Foundation/Value.h"

#include <memory>
#include <string>

enum CFURLPathStyle { kCFURLPOSIXPathStyle = 0 };

class CFURL {
public:
    CFURL(std::string path, bool isDirectory) : path_(std::move(path)), isDirectory_(isDirectory) {}
    // The system path, without a trailing "/".
    const std::string& path() const { return path_; }
    bool isDirectory() const { return isDirectory_; }

private:
    std::string path_;
    bool isDirectory_;
};

using CFURLRef = std::shared_ptr<const CFURL>;

// Null unless the path is a string holding an absolute POSIX path.
CFURLRef CFURLCreateWithFileSystemPath(const Value& filePath, CFURLPathStyle pathStyle, Boolean isDirectory);
// The URL's path as a string; nil for a null URL.
Value CFURLCopyFileSystemPath(const CFURLRef& url, CFURLPathStyle pathStyle);
