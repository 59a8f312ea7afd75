#include "Foundation/NSBundle.h"

#include "Defaults/CFPreferences.h"
#include "Foundation/PropertyList.h"
#include "Paths/DiskRoot.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// Info.plist and strings files are small; anything larger is not read.
constexpr std::uintmax_t kMaxBundleFileBytes = 1024 * 1024;

std::optional<std::string> readSmallFile(const std::string& systemPath)
{
    std::error_code error;
    const std::string host = hostPath(systemPath);
    if (!fs::is_regular_file(host, error) || fs::file_size(host, error) > kMaxBundleFileBytes || error)
        return std::nullopt;
    std::ifstream in(host, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The folder names a language is shipped under.
std::vector<std::string> foldersFor(const std::string& language)
{
    static const std::map<std::string, std::string> names = {{"en", "English"}, {"fr", "French"}, {"de", "German"}, {"ja", "Japanese"},
        {"es", "Spanish"}, {"it", "Italian"}, {"nl", "Dutch"}};
    std::vector<std::string> out {language + ".lproj"};
    for (const auto& [code, name] : names) {
        if (language == code)
            out.push_back(name + ".lproj");
        else if (language == name)
            out.push_back(code + ".lproj");
    }
    return out;
}

} // namespace

std::shared_ptr<NSBundle> NSBundle::bundleWithPath(const std::string& path)
{
    std::error_code error;
    if (path.empty() || !fs::is_directory(hostPath(path), error))
        return nullptr;
    return std::shared_ptr<NSBundle>(new NSBundle(normalizeSystemPath(path)));
}

NSBundle::NSBundle(std::string path) : path_(std::move(path))
{
    const std::string infoPath = path_ + "/Contents/Info.plist";
    std::optional<std::string> text = readSmallFile(infoPath);
    if (!text) {
        std::error_code error;
        infoProblem_ = fs::exists(hostPath(infoPath), error) ? "its Info.plist cannot be read" : "it has no Contents/Info.plist";
        return;
    }
    std::optional<Value> info = propertyListFromData(*text);
    if (!info || !info->isDictionary()) {
        infoProblem_ = "its Info.plist is not a property list dictionary";
        return;
    }
    info_ = std::move(*info);
}

std::string NSBundle::executablePath() const
{
    const std::string* name = info_["CFBundleExecutable"].string();
    if (!name || name->empty() || name->find('/') != std::string::npos || *name == "..")
        return {};
    return path_ + "/Contents/MacOS/" + *name;
}

std::vector<std::string> NSBundle::preferredLocalizationFolders() const
{
    std::vector<std::string> out;
    auto add = [&](const std::string& language) {
        for (const std::string& folder : foldersFor(language))
            if (std::find(out.begin(), out.end(), folder) == out.end())
                out.push_back(folder);
    };
    Value languages = CFPreferencesCopyAppValue("AppleLanguages", kCFPreferencesAnyApplication);
    if (const Value::Array* list = languages.arrayValue()) {
        for (const Value& language : *list)
            if (const std::string* name = language.string(); name && !name->empty() && name->find('/') == std::string::npos)
                add(*name);
    }
    add("English");
    return out;
}

std::string NSBundle::pathForResourceOfType(const std::string& name, const std::string& type) const
{
    if (name.empty() || name.find('/') != std::string::npos || type.find('/') != std::string::npos)
        return {};
    const std::string file = type.empty() ? name : name + "." + type;
    const std::string resources = path_ + "/Contents/Resources/";
    // A resource is a file, or a bundle (a folder) such as a pane the
    // installer carries.
    auto isResource = [](const std::string& systemPath) {
        std::error_code error;
        const fs::file_status status = fs::status(hostPath(systemPath), error);
        return fs::is_regular_file(status) || fs::is_directory(status);
    };
    for (const std::string& folder : preferredLocalizationFolders()) {
        const std::string candidate = resources + folder + "/" + file;
        if (isResource(candidate))
            return candidate;
    }
    if (isResource(resources + file))
        return resources + file;
    return {};
}

const std::map<std::string, std::string>& NSBundle::table(const std::string& name) const
{
    auto cached = tables_.find(name);
    if (cached != tables_.end())
        return cached->second;
    std::map<std::string, std::string>& out = tables_[name];
    const std::string path = pathForResourceOfType(name, "strings");
    std::optional<std::string> text = path.empty() ? std::nullopt : readSmallFile(path);
    if (!text)
        return out;
    if (auto parsed = parseStringsFile(*text)) {
        out = std::move(*parsed);
    } else if (auto plist = propertyListFromData(*text); plist && plist->isDictionary()) {
        for (const auto& [key, value] : *plist->dictionaryValue())
            if (const std::string* s = value.string())
                out[key] = *s;
    }
    return out;
}

std::string NSBundle::localizedStringForKeyValueTable(const std::string& key, const std::string& value, const std::string& tableName) const
{
    const auto& strings = table(tableName.empty() ? "Localizable" : tableName);
    auto it = strings.find(key);
    if (it != strings.end())
        return it->second;
    return value.empty() ? key : value;
}

std::optional<std::map<std::string, std::string>> NSBundle::parseStringsFile(std::string_view text)
{
    // UTF-8, optionally with its byte-order mark.
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    std::map<std::string, std::string> out;
    std::size_t i = 0;
    auto skipSpace = [&]() -> bool {
        for (;;) {
            while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
                ++i;
            if (text.substr(i, 2) == "/*") {
                std::size_t end = text.find("*/", i + 2);
                if (end == std::string_view::npos)
                    return false;
                i = end + 2;
            } else if (text.substr(i, 2) == "//") {
                std::size_t end = text.find('\n', i);
                i = end == std::string_view::npos ? text.size() : end + 1;
            } else {
                return true;
            }
        }
    };
    auto quoted = [&](std::string& into) -> bool {
        if (i >= text.size() || text[i] != '"')
            return false;
        for (++i; i < text.size(); ++i) {
            char c = text[i];
            if (c == '"') {
                ++i;
                return true;
            }
            if (c == '\\') {
                if (++i >= text.size())
                    return false;
                char e = text[i];
                into += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
            } else {
                into += c;
            }
        }
        return false;
    };
    for (;;) {
        if (!skipSpace())
            return std::nullopt;
        if (i >= text.size())
            return out;
        std::string key, value;
        if (!quoted(key) || !skipSpace() || i >= text.size() || text[i++] != '=' || !skipSpace() || !quoted(value) || !skipSpace()
            || i >= text.size() || text[i++] != ';')
            return std::nullopt;
        out[std::move(key)] = std::move(value);
    }
}

namespace {

std::string& mainBundlePath()
{
    static std::string path;
    return path;
}

} // namespace

void NSBundle::setMainBundlePath(std::string path)
{
    mainBundlePath() = std::move(path);
}

std::shared_ptr<NSBundle> NSBundle::mainBundle()
{
    if (!mainBundlePath().empty())
        return bundleWithPath(mainBundlePath());
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return nullptr;
    const std::filesystem::path macOS = executable.parent_path();
    const std::filesystem::path contents = macOS.parent_path();
    if (macOS.filename() != "MacOS" || contents.filename() != "Contents")
        return nullptr;
    const std::string system = systemPathForHostPath(contents.parent_path().string());
    return system.empty() ? nullptr : bundleWithPath(system);
}
