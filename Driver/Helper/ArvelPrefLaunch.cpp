#include "ArvelPrefLaunch.h"

#include "Foundation/FileManager.h"
#include "Foundation/Task.h"
#include "Log/Log.h"
#include "Unix/Identity.h"

namespace {

constexpr const char* kPrefPanePath = "/Library/PreferencePanes/Arvel.prefPane";
constexpr const char* kPreferencesApplication = "/Applications/System Preferences.app";

} // namespace

int ArvelPrefLaunch::run()
{
    if (posix::geteuid() == 0) {
        logError("ArvelPrefLaunch error: Executed as root user. Abort.\n");
        return -1;
    }
    if (!fileExistsAtPath(kPrefPanePath)) {
        logError("ArvelPrefLaunch error: Unable to locate the Arvel preference pane. Abort.\n");
        return -1;
    }
    logNotice("ArvelPrefLaunch: Launching \"%@\".\n", std::string(kPrefPanePath));
    auto task = std::make_shared<NSTask>();
    task->setLaunchPath("/usr/bin/open");
    task->setArguments({"-a", kPreferencesApplication, kPrefPanePath});
    // Not waited for, and not checked: open says itself what went wrong.
    task->launch();
    return 0;
}
