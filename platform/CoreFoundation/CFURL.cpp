#include "CoreFoundation/CFURL.h"

#include "Paths/DiskRoot.h"

CFURLRef CFURLCreateWithFileSystemPath(const Value& filePath, CFURLPathStyle pathStyle, Boolean isDirectory)
{
    const std::string* path = filePath.string();
    if (!path || path->empty() || (*path)[0] != '/' || pathStyle != kCFURLPOSIXPathStyle)
        return nullptr;
    return std::make_shared<const CFURL>(normalizeSystemPath(*path), isDirectory != 0);
}

Value CFURLCopyFileSystemPath(const CFURLRef& url, CFURLPathStyle)
{
    return url ? Value(url->path()) : Value();
}
