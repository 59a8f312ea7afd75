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

namespace {

int endPipe[2] = {-1, -1};

void askToEnd(int)
{
    char byte = 1;
    [[maybe_unused]] auto written = write(endPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char** argv)
{
    setLogChannel(LogChannel::Console);
    setLogProcessName("System Preferences");
    if (!environmentValue(kQtPlatformVariable) && !environmentValue(kDisplayVariable) && !environmentValue(kWaylandDisplayVariable))
        setenv(kQtPlatformVariable, "offscreen", 1);

    GUIApplication application;
    // A signal only writes a byte; the run loop ends the program.
    if (pipe2(endPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        std::signal(SIGTERM, askToEnd);
        std::signal(SIGINT, askToEnd);
        RunLoop::current().addFileDescriptorSource(
            FileDescriptorSource::create(endPipe[0], FileDescriptorSource::Readable, [&application](int, int) { application.terminate(); }),
            kCommonRunLoopModes);
    }
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
