// How long an application switch takes to reach the driver, against the
// bus's own round trip, on one private bus with the whole system running as
// real processes: arvel-machine serving a disk laid out as an install leaves
// it, arveld started at boot as root, alice's ArvelSessionAgent started at
// her login as alice (501).
//
// The front alternates between Safari, which has an application set of its
// own, and Finder, which has none (both with creators), so every switch
// hands the driver a different per-application dictionary. A switch is
// timed from just before the "front" verb goes to the service to the moment
// the driver model took the new dictionary: the model notes that moment on
// the machine's clock, the same clock as this program's, and "show
// driver-writes" answers it, so asking every millisecond whether it has
// come does not add to the figure. Between switches, Peer.Ping to the
// machine service and to the daemon measure the bus's own round trip.
//
// Prints Google Benchmark's line (its counters hold the figures), then a
// table: median and 99th percentile of each, and the switch's ratio to the
// ping to the service. Needs root: the agent runs with alice's ids.
//
//   app_switch_latency_bench [--switches=N] [benchmark flags]   (default 500 switches)
#include "Bus/MessageBus.h"
#include "Common/ArvelDriverAccessProtocol.h"
#include "RunLoop/Clock.h"
#include "service/MachineService.h"
#include "LatencyFigures.h"
#include "SystemRig.h"
#include "support/PrivateBus.h"

#include <benchmark/benchmark.h>
#include <sdbus-c++/sdbus-c++.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using rig::Rig;
using rig::kAliceUid;

struct Samples {
    std::vector<double> switches, machinePings, daemonPings;
    unsigned long long extraWrites = 0;
};

Rig* theRig = nullptr;
Samples theSamples;
bool theSwitchFailed = false;

// One iteration: a switch (its time is the iteration's), a ping to the
// machine service, a ping to the daemon.
void AppSwitchToDriverAgainstBusRoundTrip(benchmark::State& state)
{
    Samples samples;
    for (auto _ : state) {
        std::optional<double> seconds = theRig->switchFront();
        if (!seconds) {
            theSwitchFailed = true;
            state.SkipWithError("a switch did not reach the driver");
            break;
        }
        state.SetIterationTime(std::max(0.0, *seconds));
        samples.switches.push_back(*seconds * 1e6);
        samples.machinePings.push_back(microseconds([] { theRig->pingMachine(); }));
        samples.daemonPings.push_back(microseconds([] { theRig->pingDaemon(); }));
    }
    if (theSwitchFailed)
        return;
    LatencyFigures s = figuresOf(samples.switches), m = figuresOf(samples.machinePings), d = figuresOf(samples.daemonPings);
    state.counters["switch_median_us"] = s.median;
    state.counters["switch_p99_us"] = s.p99;
    state.counters["ping_median_us"] = m.median;
    state.counters["ping_p99_us"] = m.p99;
    state.counters["daemon_ping_median_us"] = d.median;
    state.counters["daemon_ping_p99_us"] = d.p99;
    state.counters["ratio_median"] = s.median / m.median;
    state.counters["ratio_p99"] = s.p99 / m.p99;
    samples.extraWrites = theRig->extraWrites();
    theSamples = std::move(samples);
}

// "--switches=N" is this program's; the rest is Google Benchmark's.
int takeSwitches(int& argc, char** argv)
{
    int switches = 500;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--switches=", 11) == 0)
            switches = std::max(10, std::atoi(argv[i] + 11));
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    return switches;
}

} // namespace

int main(int argc, char** argv)
{
    const int switches = takeSwitches(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (geteuid() != 0) {
        std::printf("app_switch_latency_bench: needs root (the session agent runs as alice, UID 501); nothing measured\n");
        return 0;
    }
    Rig rig;
    if (!rig.start())
        return 1;
    theRig = &rig;
    benchmark::RegisterBenchmark("AppSwitchToDriverAgainstBusRoundTrip", AppSwitchToDriverAgainstBusRoundTrip)
        ->Iterations(switches)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    theRig = nullptr;
    rig.stop();

    if (theSwitchFailed)
        return 1;
    const Samples& samples = theSamples;
    if (samples.switches.empty())
        return 0; // left out by --benchmark_filter
    LatencyFigures s = figuresOf(samples.switches), m = figuresOf(samples.machinePings), d = figuresOf(samples.daemonPings);
    std::printf("\n%zu application switches (Safari and Finder in turn) on one private bus\n", samples.switches.size());
    std::printf("switch to driver (front verb):   median %8.1f us   p99 %8.1f us\n", s.median, s.p99);
    std::printf("bus round trip (Ping, service):  median %8.1f us   p99 %8.1f us\n", m.median, m.p99);
    std::printf("bus round trip (Ping, arveld):   median %8.1f us   p99 %8.1f us\n", d.median, d.p99);
    std::printf("ratio (switch / service ping):   median %8.2f      p99 %8.2f\n", s.median / m.median, s.p99 / m.p99);
    if (samples.extraWrites)
        std::printf("(%llu dictionaries came beyond one per switch)\n", samples.extraWrites);
    return 0;
}
