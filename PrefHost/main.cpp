// System Preferences: the preferences host. It loads the preference panes
// of /Library/PreferencePanes, or the one whose path it is given (as
// `open -a "System Preferences" PANE` passes it), shows the first (or the
// given) one, and runs until it is told to end (SIGTERM: the machine's
// quit), when it hides the pane shown, so the pane lets go of what it holds.
#include "AppKitGUI/GUIApplication.h"
#include "Environment/Environment.h"
#include "Foundation/SharedInstance.h"
#include "Log/Log.h"
#include "PrefHost/PrefHostWindow.h"
#include "RunLoop/RunLoop.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>


int main(int argc, char** argv)
{
    GUIApplication::prepareProgram("System Preferences");

    GUIApplication application;
    application.terminateOnSignals();
    {
        PrefHostWindow window;
        std::string given = argc > 1 ? argv[1] : "";
        if (given.empty())
            window.loadPanesIn("/Library/PreferencePanes");
        else
            window.loadPane(given);
        window.show();
        window.showPane();
        application.run();
        window.hidePane();
    }
    releaseSharedInstances();
    return 0;
}
