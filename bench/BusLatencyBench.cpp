// The bus's own round trip (org.freedesktop.DBus.Peer.Ping to arveld)
// against a distributed-objects call round trip (the system defaults'
// loginwindowTap through its proxy) on one private bus, measured side by
// side, interleaved, in one run. Prints the median and 99th percentile of
// both and their ratio. Runs as root (arveld refuses anything else).
//
//   bus_latency_bench [rounds]
#include "Bus/MessageBus.h"
#include "Common/ArvelSystemDefaultsProxy.h"
#include "LatencyFigures.h"
#include "support/PrivateBus.h"

#include <sdbus-c++/sdbus-c++.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 2000;
    if (geteuid() != 0) {
        std::printf("bus_latency_bench: arveld runs as root only; nothing measured\n");
        return 0;
    }
    PrivateBus& bus = PrivateBus::shared();
    TemporaryFolder root;
    pid_t daemon = bus.start(ARVELD_PROGRAM, {}, {"ARVEL_NO_DETACH=1", "ARVEL_ROOT=" + root.path()});
    std::shared_ptr<ArvelSystemDefaultsProxy> store;
    if (!runLoopUntil([&] { return (store = ArvelSystemDefaultsProxy::proxyForRegisteredName()) != nullptr; })) {
        std::fprintf(stderr, "bus_latency_bench: arveld did not come up\n");
        return 1;
    }

    auto& connection = MessageBus::shared()->connection();
    auto busDaemon = sdbus::createProxy(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
    std::string owner;
    busDaemon->callMethod("GetNameOwner").onInterface("org.freedesktop.DBus").withArguments(std::string(kArvelSystemDefaultsName)).storeResultsTo(owner);
    auto peer = sdbus::createProxy(connection, owner, "/");
    auto ping = [&] { peer->callMethod("Ping").onInterface("org.freedesktop.DBus.Peer"); };
    auto call = [&] { (void)store->loginwindowTap(); };

    compareWithPing(rounds, "distributed-objects call", ping, call);

    bus.kill(daemon, SIGTERM);
    bus.wait(daemon);
    return 0;
}
