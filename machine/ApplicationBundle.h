// An application bundle on the machine's disk, as the login window and Launch
// Services open it: its Contents/Info.plist names the executable
// (CFBundleExecutable, a file of Contents/MacOS/) and the bundle identifier
// (CFBundleIdentifier).
//
// A bundle whose Info.plist is missing or unreadable, names no executable,
// names one that would leave Contents/MacOS/, or whose executable is not
// there, is refused with a reason.
#pragma once

#include <optional>
#include <string>

namespace machine {

class ApplicationBundle {
public:
    // The bundle at a system path; nullopt, with the reason in *problem.
    static std::optional<ApplicationBundle> read(const std::string& path, std::string* problem);
    // Lays out an application bundle at a system path ending in ".app", as
    // an installer leaves one: an Info.plist naming an executable (a stub
    // file of Contents/MacOS/, named after the bundle) and, when given, the
    // bundle identifier; with a creator code (four characters) a
    // Contents/PkgInfo "APPL" followed by it. Refused with a reason when the
    // path or the code will not do or something is there already.
    static bool layOut(const std::string& path, const std::string& identifier, const std::string& creator, std::string* problem);

    const std::string& path() const { return path_; }
    // CFBundleExecutable: also the name the Process Manager shows.
    const std::string& executableName() const { return executableName_; }
    // System path of the executable: <path>/Contents/MacOS/<executableName>.
    std::string executable() const { return path_ + "/Contents/MacOS/" + executableName_; }
    // Empty when the bundle names none.
    const std::string& identifier() const { return identifier_; }

private:
    std::string path_;
    std::string executableName_;
    std::string identifier_;
};

} // namespace machine
