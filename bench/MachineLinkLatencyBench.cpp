// The bus's own round trip (org.freedesktop.DBus.Peer.Ping to the machine
// service) against a shim call that goes over the machine link (Gestalt,
// one "system.version" Call) on one private bus, measured side by side,
// interleaved, in one run. Prints the median and 99th percentile of both
// and their ratio: what the link's property-list framing and dispatch add;
// then the CPU the machine service spends on each, and their ratio.
//
//   machinelink_latency_bench [rounds]
#include "Bus/MessageBus.h"
#include "Carbon/Gestalt.h"
#include "MachineLink/MachineLink.h"
#include "MachineLink/MachineLinkProtocol.h"
#include "LatencyFigures.h"
#include "support/PrivateBus.h"

#include <sdbus-c++/sdbus-c++.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 2000;
    PrivateBus& bus = PrivateBus::shared();
    setenv(kMachineServiceVariable, kMachineLinkDefaultServiceName, 1);
    pid_t host = bus.start(MACHINE_HOST_PROGRAM, {});

    auto& connection = MessageBus::shared()->connection();
    auto busDaemon = sdbus::createProxy(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
    std::string owner;
    bool up = runLoopUntil([&] {
        try {
            busDaemon->callMethod("GetNameOwner").onInterface("org.freedesktop.DBus").withArguments(std::string(kMachineLinkDefaultServiceName)).storeResultsTo(owner);
            return true;
        } catch (const sdbus::Error&) {
            return false;
        }
    });
    if (!up) {
        std::fprintf(stderr, "machinelink_latency_bench: the machine did not come up\n");
        return 1;
    }
    auto peer = sdbus::createProxy(connection, owner, "/");
    auto ping = [&] { peer->callMethod("Ping").onInterface("org.freedesktop.DBus.Peer"); };
    SInt32 version = 0;
    auto call = [&] { (void)Gestalt(gestaltSystemVersion, &version); };

    compareWithPing(rounds, "machine link call (Gestalt)", ping, call);
    compareServingCpu(rounds, host, "link call", ping, call);

    bus.kill(host, SIGTERM);
    bus.wait(host);
    return 0;
}
