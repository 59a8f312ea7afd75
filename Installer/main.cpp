// The installer: its window from its own bundle's interface, one operation,
// then it ends (SIGTERM, the machine's quit, ends it too).
#include "AppKitGUI/GUIApplication.h"
#include "Environment/Environment.h"
#include "Foundation/NSBundle.h"
#include "Foundation/SharedInstance.h"
#include "Installer/InstallerApp.h"
#include "Log/Log.h"
#include "RunLoop/RunLoop.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>


int main()
{
    GUIApplication::prepareProgram("installer");

    GUIApplication application;
    application.terminateOnSignals();
    {
        InstallerApp installer(NSBundle::mainBundle());
        installer.awakeFromNib();
        if (!application.isTerminated())
            application.run();
    }
    releaseSharedInstances();
    return 0;
}
