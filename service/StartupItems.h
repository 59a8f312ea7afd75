// The startup items on the machine's disk, which boot runs.
//
// Each folder of /Library/StartupItems is one item, run in name order: its
// executable is the file of the folder's own name inside it
// (/Library/StartupItems/Arvel/Arvel), started as root with no arguments.
// Hidden entries are passed over without a word; a plain file, or a folder
// without its executable, is left out with one line saying why, so a
// half-installed item never stops the boot.
//
// Items run as root, so where the machine really starts them as root an
// item whose folder or executable is not root's, or that others than root
// may write, is left out too: anyone who could change it would run as root.
#pragma once

#include <string>
#include <vector>

struct StartupItem {
    std::string name;       // "Arvel"
    std::string executable; // system path: "/Library/StartupItems/Arvel/Arvel"
    bool operator==(const StartupItem&) const = default;
};

class StartupItems {
public:
    static constexpr const char* kFolder = "/Library/StartupItems";

    // The items on the disk root in force, in name order; with
    // requireRootOwnership, only those safe to run as root.
    static StartupItems find(bool requireRootOwnership = false);

    // Why the file at a system path may not be run as root (not root's, or
    // writable by group or others), or empty when it may.
    static std::string unsafeForRoot(const std::string& systemPath);

    // The driver's install check, which boot runs after the items:
    // "ArvelInstallSanity" among the driver bundle's resources, kept with
    // the driver so that a disk whose other parts were deleted by hand still
    // runs it. Its system path, or empty: not installed, or (with
    // requireRootOwnership) not safe to run as root, then *why says so.
    static constexpr const char* kInstallCheck = "/System/Library/Extensions/Arvel.kext/Contents/Resources/ArvelInstallSanity";
    static std::string installCheck(bool requireRootOwnership, std::string* why);

    const std::vector<StartupItem>& items() const { return items_; }
    // One line per entry left out ("Broken: no executable
    // \"/Library/StartupItems/Broken/Broken\"").
    const std::vector<std::string>& skipped() const { return skipped_; }

private:
    std::vector<StartupItem> items_;
    std::vector<std::string> skipped_;
};
