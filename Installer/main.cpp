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

namespace {

int endPipe[2] = {-1, -1};

void askToEnd(int)
{
    char byte = 1;
    [[maybe_unused]] auto written = write(endPipe[1], &byte, 1);
}

} // namespace

int main()
{
    setLogChannel(LogChannel::Console);
    setLogProcessName("installer");
    if (!environmentValue(kQtPlatformVariable) && !environmentValue(kDisplayVariable) && !environmentValue(kWaylandDisplayVariable))
        setenv(kQtPlatformVariable, "offscreen", 1);

    GUIApplication application;
    if (pipe2(endPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        std::signal(SIGTERM, askToEnd);
        std::signal(SIGINT, askToEnd);
        RunLoop::current().addFileDescriptorSource(
            FileDescriptorSource::create(endPipe[0], FileDescriptorSource::Readable, [&application](int, int) { application.terminate(); }),
            kCommonRunLoopModes);
    }
    {
        InstallerApp installer(NSBundle::mainBundle());
        installer.awakeFromNib();
        if (!application.isTerminated())
            application.run();
    }
    releaseSharedInstances();
    return 0;
}
