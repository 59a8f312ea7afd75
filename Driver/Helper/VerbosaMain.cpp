// Verbosa: "Verbosa on" or "Verbosa off", by whoever supports the machine.
#include "Log/Log.h"
#include "Unix/Identity.h"
#include "Verbosa.h"

int main(int argc, char* argv[])
{
    posix::adoptHostProcessIdentity();
    setLogChannel(LogChannel::StandardOutput);
    return Verbosa::run(argc, argv);
}
