// arveld, the root daemon: started at boot as root, with no arguments.
#include "Daemon/arveld.h"
#include "Unix/Identity.h"

int main()
{
    posix::adoptHostProcessIdentity();
    return arveldMain();
}
