// ArvelPrefLaunch: started by a user, with no arguments.
#include "ArvelPrefLaunch.h"
#include "Log/Log.h"
#include "Unix/Identity.h"

int main()
{
    posix::adoptHostProcessIdentity();
    setLogChannel(LogChannel::Syslog);
    return ArvelPrefLaunch::run();
}
