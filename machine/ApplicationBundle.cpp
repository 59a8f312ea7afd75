#include "ApplicationBundle.h"

#include "Foundation/PropertyList.h"
#include "Paths/DiskRoot.h"

#include <filesystem>
#include <fstream>

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

bool ApplicationBundle::layOut(const std::string& path, const std::string& identifier, const std::string& creator, std::string* problem)
{
    auto refuse = [&](std::string why) {
        if (problem)
            *problem = why;
        return false;
    };
    const std::string bundle = normalizeSystemPath(path);
    const std::string name = bundle.substr(bundle.rfind('/') + 1);
    if (bundle.empty() || bundle[0] != '/' || name.size() <= 4 || !name.ends_with(".app"))
        return refuse("\"" + path + "\" is no absolute path of an application bundle (NAME.app)");
    if (!creator.empty() && creator.size() != 4)
        return refuse("a creator code has four characters, not \"" + creator + "\"");
    std::error_code error;
    if (std::filesystem::exists(hostPath(bundle), error))
        return refuse("\"" + bundle + "\" is there already");
    const std::string executable = name.substr(0, name.size() - 4);
    Value info = Value::dictionary({{"CFBundleExecutable", executable}, {"CFBundleName", executable}, {"CFBundlePackageType", "APPL"}});
    if (!identifier.empty())
        info.set("CFBundleIdentifier", identifier);
    if (!creator.empty())
        info.set("CFBundleSignature", creator);
    std::string why;
    if (!writePropertyListFile(hostPath(bundle + "/Contents/Info.plist"), info, &why, true))
        return refuse("unable to write \"" + bundle + "/Contents/Info.plist\": " + why);
    std::filesystem::create_directories(hostPath(bundle + "/Contents/MacOS"), error);
    std::ofstream(hostPath(bundle + "/Contents/MacOS/" + executable)) << "";
    if (!creator.empty())
        std::ofstream(hostPath(bundle + "/Contents/PkgInfo")) << "APPL" << creator;
    return true;
}

} // namespace machine
