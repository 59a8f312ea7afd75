// ArvelInstallSanity: run once at boot, as root, with no arguments.
#include "ArvelInstallSanity.h"
#include "Log/Log.h"
#include "Unix/Identity.h"

int main()
{
    posix::adoptHostProcessIdentity();
    setLogChannel(LogChannel::Syslog);
    ArvelInstallSanity check;
    return check.run();
}
