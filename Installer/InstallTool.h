// InstallTool: the installer's privileged half. The installer runs it as
// root with exactly one argument, "--install" or "--uninstall"; it lays the
// three items out of the installer's resources onto the machine's disk, or
// takes them away, and answers its result on standard output as one 4-byte
// integer in host byte order (0: success).
//
//   resource (beside the tool)   installed item
//   Arvel.kext                   /System/Library/Extensions/Arvel.kext
//   StartupItems/Arvel           /Library/StartupItems/Arvel
//   Arvel.prefPane               /Library/PreferencePanes/Arvel.prefPane
//
// Each item changes at once or not at all: it is copied beside its place
// under a hidden name, given root's owner and modes, and then exchanged
// with what was there in one rename, so a tool killed at any moment leaves
// every item whole, the old version or the new; the old one is removed
// after. An uninstall renames each item aside before it removes it. Left-
// over copies of an interrupted run are cleared by the next.
//
// Nothing is followed: links inside the resources are copied as links, a
// link in an installed place is removed as a link, and a folder on the way
// to an item that is a link (or not root's) is refused: a user who made it
// would steer root's writes.
#pragma once

#include <string>
#include <vector>

class InstallTool {
public:
    enum Result : int { Success = 0, BadArguments = 1, NotRoot = 2, MissingResources = 3, Failed = 4 };

    // resources: the host folder holding the items to install.
    explicit InstallTool(std::string resources);

    // The whole run for these arguments (without the program's name), with
    // its lines; `effectiveUserId` is who runs it.
    int run(const std::vector<std::string>& arguments, unsigned effectiveUserId);

    int install();
    int uninstall();

    struct Item {
        const char* resource; // under the resources folder
        const char* path;     // system path of the installed item
    };
    static const std::vector<Item>& items();

private:
    bool installItem(const Item& item);
    bool uninstallItem(const Item& item);

    std::string resources_;
};
