#include "ApplicationBundle.h"

#include "Foundation/PropertyList.h"
#include "Paths/DiskRoot.h"

#include <filesystem>

namespace machine {

std::optional<ApplicationBundle> ApplicationBundle::read(const std::string& path, std::string* problem)
{
    auto refuse = [&](std::string why) -> std::optional<ApplicationBundle> {
        if (problem)
            *problem = "\"" + path + "\": " + why;
        return std::nullopt;
    };
    PropertyListReadResult info = readPropertyList(hostPath(path + "/Contents/Info.plist"), Value::Type::Dictionary);
    if (!info.ok())
        return refuse("no readable Contents/Info.plist (" + info.reason + ")");
    ApplicationBundle bundle;
    bundle.path_ = normalizeSystemPath(path);
    bundle.executableName_ = info.value["CFBundleExecutable"].stringOr("");
    bundle.identifier_ = info.value["CFBundleIdentifier"].stringOr("");
    const std::string& name = bundle.executableName_;
    if (name.empty())
        return refuse("Info.plist names no CFBundleExecutable");
    if (name.find('/') != std::string::npos || name == "." || name == "..")
        return refuse("CFBundleExecutable \"" + name + "\" is not a file name");
    std::error_code error;
    if (!std::filesystem::is_regular_file(hostPath(bundle.executable()), error))
        return refuse("no executable \"Contents/MacOS/" + name + "\"");
    return bundle;
}

} // namespace machine
