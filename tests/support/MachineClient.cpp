// machine-client VERB: a program of the machine on the bus named by the
// environment (ARVEL_MACHINE names the machine service), for what a test
// process cannot do to itself.
//   power   registers for system power messages and ends at once, without
//           deregistering, as a program that dies does;
//   detach  goes daemon as arveld does, then waits to be killed;
//   session  prints its login session as the Core Graphics and Security
//           calls see it ("<dictionary> <status> <id>");
//   identity UID  prints who it is ("uid euid home hosteuid": the machine's
//           ids, the home of the effective one, the host process's real
//           effective id), then what seteuid(UID) answers and who it is
//           after it.
//   driver  tries what is root's on the trackpad driver: prints what
//           opening its user client and writing a per-application
//           dictionary answer ("open e00002c1 write e00002c1").
//   launch-agent  opens the session agent as the pane does, unless it runs.
//   open ARGUMENT...  runs /usr/bin/open as the pane does: prints what it
//           wrote, then "status N".
// Prints "ok" and exits 0 when the verb is done, 1 when it failed.
#include "Common/ArvelAgentManagement.h"
#include "CoreGraphics/CGSession.h"
#include "Foundation/Task.h"
#include "Foundation/FileManager.h"
#include "Security/AuthSession.h"
#include "IOKit/IOKitLib.h"
#include "IOKit/IOPMLib.h"
#include "Unix/Identity.h"

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

void ignoreMessage(void*, io_service_t, natural_t, void*) {}

} // namespace

// The sanitized build's leak check, where there is one.
extern "C" void __lsan_do_leak_check() __attribute__((weak));

int main(int argc, char** argv)
{
    // This program switches its effective id, after which the leak checker
    // can no longer stop and read the process at exit: check now, which also
    // leaves out the check at exit.
    if (__lsan_do_leak_check)
        __lsan_do_leak_check();
    std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "power") {
        IONotificationPortRef port = nullptr;
        io_object_t notifier = 0;
        io_connect_t root = IORegisterForSystemPower(nullptr, &port, ignoreMessage, &notifier);
        std::printf(root ? "ok\n" : "failed\n");
        return root ? 0 : 1;
    }
    if (verb == "detach") {
        posix::adoptHostProcessIdentity();
        if (posix::daemon(1, 1) != 0) {
            std::printf("failed\n");
            return 1;
        }
        for (;;)
            ::pause();
    }
    if (verb == "session") {
        SecuritySessionId id = 0;
        OSStatus status = SessionGetInfo(callerSecuritySession, &id, nullptr);
        std::printf("%s %d %u\n", CGSessionCopyCurrentDictionary().description().c_str(), static_cast<int>(status),
            static_cast<unsigned>(id));
        return 0;
    }
    if (verb == "driver") {
        posix::adoptHostProcessIdentity();
        io_service_t driver = IOServiceGetMatchingService(MACH_PORT_NULL, IOServiceMatching("Arvel"));
        io_connect_t connection = 0;
        kern_return_t opened = IOServiceOpen(driver, mach_task_self(), 0, &connection);
        kern_return_t written = IORegistryEntrySetCFProperties(driver,
            Value::dictionary({{"ApplicationSet", Value::dictionary({{"NWCorner", Value::dictionary({{"Action", 7}})}})}}));
        std::printf("open %x write %x\n", static_cast<unsigned>(opened), static_cast<unsigned>(written));
        return 0;
    }
    if (verb == "identity") {
        posix::adoptHostProcessIdentity();
        auto who = [] {
            std::printf("%u %u %s %u\n", static_cast<unsigned>(posix::getuid()), static_cast<unsigned>(posix::geteuid()),
                expandTildeInPath("~").c_str(), static_cast<unsigned>(::geteuid()));
        };
        who();
        std::printf("%d\n", posix::seteuid(static_cast<posix::uid_t>(std::stoul(argc > 2 ? argv[2] : "0"))));
        who();
        return 0;
    }
    if (verb == "launch-agent") {
        launchAgent();
        std::printf("ok\n");
        return 0;
    }
    if (verb == "open") {
        NSTask task;
        task.setLaunchPath("/usr/bin/open");
        task.setArguments(std::vector<std::string>(argv + 2, argv + argc));
        auto output = NSPipe::pipe();
        task.setStandardOutput(output);
        if (auto exception = task.launch()) {
            std::printf("%s\n", exception->reason.c_str());
            return 1;
        }
        const Value::Bytes said = output->fileHandleForReading().availableData();
        std::printf("%sstatus %d\n", std::string(said.begin(), said.end()).c_str(), task.terminationStatus());
        return 0;
    }
    std::printf("unknown verb\n");
    return 1;
}
