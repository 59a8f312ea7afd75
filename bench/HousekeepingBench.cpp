// The default-button mover's house keeping with 500 applications running:
// what one pass costs the agent in CPU and in calls to the machine, with
// this program as the agent on a machine service over a private bus (the
// mover watching every application, the Process Manager's table armed as
// the agent's application event target arms it).
//
//   housekeeping_bench [passes] [applications]
#include "Bus/MessageBus.h"
#include "Carbon/CarbonEvents.h"
#include "Foundation/PropertyListFile.h"
#include "LatencyFigures.h"
#include "MachineLink/MachineLink.h"
#include "MachineLink/MachineLinkProtocol.h"
#include "Paths/DiskRoot.h"
#include "RunLoop/Clock.h"
#include "RunLoop/RunLoop.h"
#include "SessionAgent/ArvelDefaultButton.h"
#include "support/PrivateBus.h"
#include "support/TemporaryFolder.h"

#include <sdbus-c++/sdbus-c++.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

double ownCpuMicroseconds()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

OSStatus heard(EventHandlerCallRef, EventRef, void*)
{
    return noErr;
}

} // namespace

int main(int argc, char** argv)
{
    const int passes = argc > 1 ? std::max(5, std::atoi(argv[1])) : 50;
    const int applications = argc > 2 ? std::max(1, std::atoi(argv[2])) : 500;
    TemporaryFolder disk;
    setenv("ARVEL_ROOT", disk.path().c_str(), 1);
    setDiskRoot(disk.path());
    PrivateBus& bus = PrivateBus::shared();
    setenv(kMachineServiceVariable, kMachineLinkDefaultServiceName, 1);
    pid_t host = bus.start(MACHINE_HOST_PROGRAM, {});

    auto control = sdbus::createProxy(MessageBus::shared()->connection(), kMachineLinkDefaultServiceName, "/org/arvel/MachineHost");
    auto verb = [&](std::vector<std::string> words) {
        std::string answer;
        control->callMethod("Verb").onInterface("org.arvel.MachineHost").withArguments(words).storeResultsTo(answer);
        return answer;
    };
    if (!runLoopUntil([&] {
            try {
                verb({"log"});
                return true;
            } catch (const sdbus::Error&) {
                return false;
            }
        })) {
        std::fprintf(stderr, "housekeeping_bench: the machine did not come up\n");
        return 1;
    }
    verb({"start-process", "/System/Library/CoreServices/loginwindow.app/Contents/MacOS/loginwindow console"});
    for (int i = 0; i < applications; ++i)
        verb({"launch", "Application" + std::to_string(i), "com.example.application" + std::to_string(i)});
    // The option on for the user this program runs as.
    auto& link = MachineLink::shared();
    std::string home = link.effectiveUserHome();
    writePropertyListFile(hostPath(home + "/Library/Preferences/com.tessmoor.Arvel.plist"),
        Value::dictionary({{"PrefsVersion", 4}, {"MoveToDefaultButton", true}}), nullptr, true);

    EventTypeSpec front {kEventClassApplication, kEventAppFrontSwitched};
    InstallEventHandler(GetApplicationEventTarget(), NewEventHandlerUPP(heard), 1, &front, nullptr, nullptr);
    auto mover = ArvelDefaultButton::sharedInstance();
    if (!mover) {
        std::fprintf(stderr, "housekeeping_bench: no default-button mover\n");
        return 1;
    }
    RunLoop::current().runUntilDate(currentDate() + 0.5);
    auto timer = Timer::create(30, true, [](Timer&) {});
    mover->houseKeeping(*timer); // the first pass may still watch what start-up missed

    std::vector<double> cpu, calls;
    for (int i = 0; i < passes; ++i) {
        double before = ownCpuMicroseconds();
        std::uint64_t asked = link.callsMade();
        mover->houseKeeping(*timer);
        cpu.push_back(ownCpuMicroseconds() - before);
        calls.push_back(static_cast<double>(link.callsMade() - asked));
    }
    LatencyFigures c = figuresOf(cpu), n = figuresOf(calls);
    std::printf("%d house keeping passes with %d applications running, %zu watched\n", passes, applications,
        mover->watchedPIDs().size());
    std::printf("agent CPU per pass:              median %8.1f us   p99 %8.1f us\n", c.median, c.p99);
    std::printf("machine calls per pass:          median %8.0f      max %8.0f\n", n.median,
        *std::max_element(calls.begin(), calls.end()));

    mover.reset();
    releaseSharedInstances();
    bus.kill(host, SIGTERM);
    bus.wait(host);
    return 0;
}
