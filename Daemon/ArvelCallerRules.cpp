#include "ArvelCallerRules.h"

#include "ArvelConsoleUser.h"
#include "Log/Log.h"

#include <array>
#include <utility>

namespace {

using Who = ArvelCallerRules::Who;

constexpr std::array<std::pair<std::string_view, Who>, 17> kRules {{
    // The driver access object.
    {"driverAvailable", Who::Anyone},
    {"currentCalibration", Who::Anyone},
    {"readDriverObservedGeometry", Who::Anyone},
    {"sendDriverProperties:", Who::RootOrConsoleUser},
    {"resetDriverToDefaultCalibration", Who::RootOrConsoleUser},
    {"resetDriverObservedGeometry", Who::RootOrConsoleUser},
    {"setCalibrationInProgress:", Who::RootOrConsoleUser},
    {"userOnConsole", Who::RootOnly},
    {"userOffConsole", Who::RootOnly},
    // The system defaults store. syncFromDisk throws away the working copy,
    // and with it an edit the console user has made and not yet saved: it
    // changes what the next syncToDisk writes, so it is a change too.
    {"calibration", Who::Anyone},
    {"loginwindowTap", Who::Anyone},
    {"hidProperties", Who::Anyone},
    {"syncFromDisk", Who::RootOrConsoleUser},
    {"setCalibration:", Who::RootOrConsoleUser},
    {"clearCalibration", Who::RootOrConsoleUser},
    {"setLoginwindowTap:", Who::RootOrConsoleUser},
    {"syncToDisk", Who::RootOrConsoleUser},
}};

std::optional<std::uint32_t> consoleUserId()
{
    auto consoleUser = ArvelConsoleUser::sharedInstance();
    if (!consoleUser)
        return std::nullopt;
    ArvelConsoleUser::NameAndUID user = consoleUser->consoleUserNameAndUID();
    if (!user.name || user.uid == ArvelConsoleUser::kNoUserID)
        return std::nullopt;
    return user.uid;
}

} // namespace

std::optional<ArvelCallerRules::Who> ArvelCallerRules::ruleForSelector(std::string_view selector)
{
    for (const auto& [name, who] : kRules) {
        if (name == selector)
            return who;
    }
    return std::nullopt;
}

bool ArvelCallerRules::allows(const std::string& selector, std::uint32_t callerUid)
{
    const Who who = ruleForSelector(selector).value_or(Who::RootOnly);
    if (who == Who::Anyone || callerUid == 0)
        return true;
    if (who == Who::RootOrConsoleUser) {
        if (consoleUserId() == callerUid)
            return true;
        logError("ArvelDOServer error: Refused \"%@\" from UID %u: only root or the console user may change this.\n", selector,
            callerUid);
        return false;
    }
    logError("ArvelDOServer error: Refused \"%@\" from UID %u: only root may do this.\n", selector, callerUid);
    return false;
}
