#include "Common/ArvelAgentManagement.h"

#include "CoreFoundation/CFString.h"
#include "CoreFoundation/CFURL.h"
#include "Defaults/NSUserDefaults.h"
#include "LaunchServices/LSOpen.h"
#include "Log/Log.h"
#include "ProcessManager/Processes.h"

#include <algorithm>
#include <optional>
#include <string_view>

namespace {

constexpr std::string_view kAgentProcessName = "ArvelSessionAgent";
constexpr std::string_view kAgentBundleName = "ArvelSessionAgent.app";
constexpr const char* kLoginWindowDomain = "loginwindow";
constexpr const char* kLoginItemsKey = "AutoLaunchedApplicationDictionary";
// The original Process Manager's record: what GetProcessInformation is told
// it is given.
constexpr UInt32 kProcessInfoLength = 60;
// Open the agent as a plain background launch: not brought to the front,
// not among the recent items, no open-application event.
constexpr LSLaunchFlags kAgentLaunchFlags = kLSLaunchDefaults | kLSLaunchDontAddToRecents | kLSLaunchDontSwitch | kLSLaunchNoParams;

bool endsWith(std::string_view text, std::string_view end)
{
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

bool isAgentItem(const Value& item)
{
    const std::string* path = item["Path"].string();
    return path && endsWith(*path, kAgentBundleName);
}

// The caller's login window domain and its list of login items.
struct LoginItems {
    Value domain;
    Value::Array items;
};

// Nothing, with the line said, when there is no list to change.
std::optional<LoginItems> readLoginItems()
{
    Value domain = NSUserDefaults::standardUserDefaults()->persistentDomainForName(kLoginWindowDomain);
    const Value& list = domain[kLoginItemsKey];
    if (list.isNil()) {
        logError("ArvelAgentManagement error: Unable to find login item defaults.\n");
        return std::nullopt;
    }
    if (!list.isArray()) {
        logError("ArvelAgentManagement error: The login items (\"%s\") are no list; they are left as they are.\n", kLoginItemsKey);
        return std::nullopt;
    }
    const Value::Array& items = *list.arrayValue();
    const auto strays = std::count_if(items.begin(), items.end(), [](const Value& item) { return !item.isDictionary(); });
    if (strays)
        logError("ArvelAgentManagement error: %u login item(s) are not dictionaries; they are kept as they are.\n", static_cast<unsigned>(strays));
    return LoginItems {domain, items};
}

void writeLoginItems(LoginItems loginItems)
{
    loginItems.domain.set(kLoginItemsKey, Value(std::move(loginItems.items)));
    auto defaults = NSUserDefaults::standardUserDefaults();
    defaults->setPersistentDomainForName(loginItems.domain, kLoginWindowDomain);
    if (!defaults->synchronize())
        logError("ArvelAgentManagement error: Unable to save the login items.\n");
}

} // namespace

bool agentIsRunning()
{
    ProcessSerialNumber psn {0, kNoProcess};
    while (GetNextProcess(&psn) == noErr) {
        Str255 name {};
        ProcessInfoRec info;
        info.processInfoLength = kProcessInfoLength;
        info.processName = name;
        info.processAppSpec = nullptr;
        if (GetProcessInformation(&psn, &info) != noErr || name[0] == 0 || name[1] == 0)
            continue;
        Value processName = CFStringCreateWithPascalString(name, kCFStringEncodingMacRoman);
        if (const std::string* text = processName.string(); text && endsWith(*text, kAgentProcessName))
            return true;
    }
    return false;
}

void launchAgent()
{
    if (agentIsRunning())
        return;
    LSLaunchURLSpec spec {};
    spec.appURL = CFURLCreateWithFileSystemPath(kArvelAgentPath, kCFURLPOSIXPathStyle, true);
    spec.itemURLs = nullptr;
    spec.passThruParams = nullptr;
    spec.launchFlags = kAgentLaunchFlags;
    spec.asyncRefCon = nullptr;
    if (LSOpenFromURLSpec(&spec, nullptr) != noErr)
        logError("ArvelAgentManagement error: Unable to launch agent.\n");
}

void addAgentToLoginItems()
{
    std::optional<LoginItems> loginItems = readLoginItems();
    if (!loginItems || std::any_of(loginItems->items.begin(), loginItems->items.end(), isAgentItem))
        return;
    loginItems->items.insert(loginItems->items.begin(), Value::dictionary({{"Path", kArvelAgentPath}, {"Hide", true}}));
    writeLoginItems(std::move(*loginItems));
}

void removeAgentFromLoginItems()
{
    std::optional<LoginItems> loginItems = readLoginItems();
    if (!loginItems)
        return;
    if (std::erase_if(loginItems->items, isAgentItem) == 0)
        return;
    writeLoginItems(std::move(*loginItems));
}
