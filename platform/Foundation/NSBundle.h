// NSBundle: a bundle on the machine's disk (an application, a preference
// pane): its information dictionary, its resources and its localised
// strings.
//
// Resources are looked up in Contents/Resources, in the folder of the
// user's preferred localisation first ("AppleLanguages" of the global
// preferences, then English), as <lang>.lproj, then unlocalised. Strings
// tables are <lang>.lproj/<table>.strings in the old-style strings format
// ("key" = "value";) or as a property list; a key missing from the table
// answers the value given, else the key itself, so the English text serves
// as its own key.
//
// Everything in a bundle is read as any user's file would be: an
// Info.plist or a strings file that cannot be read reads as nothing, with
// one line for the Info.plist.
#pragma once

#include "Foundation/Value.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class NSBundle {
public:
    // The bundle at a system path; nil when no folder is there.
    static std::shared_ptr<NSBundle> bundleWithPath(const std::string& path);
    // The running program's own bundle: the one whose Contents/MacOS holds
    // the program's executable on the machine's disk (or the path set for
    // it); nil for a program outside any bundle.
    static std::shared_ptr<NSBundle> mainBundle();
    // Tests run inside no bundle: they name the one to stand for it (empty:
    // the executable's again).
    static void setMainBundlePath(std::string path);

    const std::string& bundlePath() const { return path_; }
    // Contents/Info.plist, nil when missing or not a dictionary (then
    // infoProblem() says why, in a few words).
    const Value& infoDictionary() const { return info_; }
    const std::string& infoProblem() const { return infoProblem_; }
    const Value& objectForInfoDictionaryKey(const std::string& key) const { return info_[key]; }
    std::string bundleIdentifier() const { return info_["CFBundleIdentifier"].stringOr(""); }
    // Contents/MacOS/<CFBundleExecutable>, empty when the bundle names none.
    std::string executablePath() const;
    std::string principalClassName() const { return info_["NSPrincipalClass"].stringOr(""); }

    // pathForResource:ofType: (system path, empty when not found).
    std::string pathForResourceOfType(const std::string& name, const std::string& type) const;
    // localizedStringForKey:value:table: (table empty: "Localizable").
    std::string localizedStringForKeyValueTable(const std::string& key, const std::string& value = {}, const std::string& table = {}) const;
    // The localisation folders searched, in order ("English.lproj", ...).
    std::vector<std::string> preferredLocalizationFolders() const;

    // Parses the old-style strings format; nothing when it is not one.
    static std::optional<std::map<std::string, std::string>> parseStringsFile(std::string_view text);

private:
    explicit NSBundle(std::string path);
    const std::map<std::string, std::string>& table(const std::string& name) const;

    std::string path_;
    Value info_;
    std::string infoProblem_;
    mutable std::map<std::string, std::map<std::string, std::string>> tables_;
};
