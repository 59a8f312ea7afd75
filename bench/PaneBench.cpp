// The pane as real processes on a private bus: alice's System Preferences
// showing the Arvel pane against the real arveld and agent.
//
// 1. From a control's action to the HID system holding the new
//    configuration: the operator clicks the "keep moving" check box (the
//    click verb, which the host carries out as a person's click); timed
//    from just before the verb to the moment the HID system model took the
//    configuration ("show hid-writes", the model's own date on the
//    machine's clock, the same clock as this program's). Against it, the
//    bus's round trip (Peer.Ping to the machine service) times k, the
//    round trips the path makes, counted: the verb itself, the pane's call
//    for the daemon's system part of the configuration, and for each
//    configuration the HID system got the two machine link calls that
//    wrote it (the HID system found in the registry, then its properties
//    set).
// 2. The idle pane's CPU: the host's user and system time over a quiet
//    spell.
// 3. The calibration sheet's observed-geometry calls a second: the
//    driver's calls of that index over a spell with the sheet up.
//
// Prints Google Benchmark's line, then a table. Needs root: the agent and
// the host run with alice's ids.
//
//   pane_bench [--actions=N] [benchmark flags]   (default 200 actions)
#include "LatencyFigures.h"
#include "SystemRig.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace {

using rig::Rig;

Rig* theRig = nullptr;
std::vector<double> theActions, thePings;
double theRoundTrips = 0;
bool theActionFailed = false;

std::optional<std::pair<unsigned long long, double>> hidWrites()
{
    std::string answer;
    if (!theRig->perform({"show", "hid-writes"}, &answer))
        return std::nullopt;
    unsigned long long count = 0;
    double date = 0;
    if (std::sscanf(answer.c_str(), "%llu configuration(s), the last at %lf", &count, &date) != 2)
        return std::nullopt;
    return std::pair {count, date};
}

// One click; the seconds until the HID system held what it caused, and the
// round trips on the way.
std::optional<double> clickToHID(double* roundTrips)
{
    auto before = hidWrites();
    const double sent = currentDate();
    std::string answer;
    if (!before || !theRig->perform({"click", "System Preferences", "mouseKeepMoving"}, &answer))
        return std::nullopt;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        auto now = hidWrites();
        if (!now)
            return std::nullopt;
        if (now->first > before->first) {
            // The verb, the daemon's system part, and each HID write
            // (found, then written).
            *roundTrips = 1 + 1 + 2 * static_cast<double>(now->first - before->first);
            return now->second - sent;
        }
        if (std::chrono::steady_clock::now() >= limit) {
            std::fprintf(stderr, "bench: the HID system got nothing within 5 s of a click (%s)\n", answer.c_str());
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void ControlActionToHIDAgainstBusRoundTrip(benchmark::State& state)
{
    for (auto _ : state) {
        double k = 0;
        std::optional<double> seconds = clickToHID(&k);
        if (!seconds) {
            theActionFailed = true;
            state.SkipWithError("a click did not reach the HID system");
            break;
        }
        state.SetIterationTime(std::max(0.0, *seconds));
        theActions.push_back(*seconds * 1e6);
        theRoundTrips = std::max(theRoundTrips, k);
        thePings.push_back(microseconds([] { theRig->pingMachine(); }));
    }
    if (theActions.empty())
        return;
    state.counters["action_median_us"] = figuresOf(theActions).median;
    state.counters["ping_median_us"] = figuresOf(thePings).median;
    state.counters["round_trips"] = theRoundTrips;
    state.counters["ratio"] = figuresOf(theActions).median / (theRoundTrips * figuresOf(thePings).median);
}

// User and system time of a host process, in clock ticks.
std::optional<unsigned long long> cpuTicks(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    auto close = text.rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long user = 0, system = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            user = std::stoull(field);
        if (i == 15)
            system = std::stoull(field);
    }
    return user + system;
}

// The driver's calls of observed geometry (index 7) so far.
std::size_t geometryCalls()
{
    std::string driver;
    theRig->perform({"show", "driver"}, &driver);
    auto at = driver.find("calls:");
    std::istringstream calls(driver.substr(at == std::string::npos ? driver.size() : at + 6, driver.find('\n', at) - at));
    std::size_t count = 0;
    for (std::string call; calls >> call;)
        count += call == "7";
    return count;
}

} // namespace

int main(int argc, char** argv)
{
    int actions = 200;
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--actions=", 10) == 0)
            actions = std::max(1, std::atoi(argv[i] + 10));
        else
            rest.push_back(argv[i]);
    }
    if (geteuid() != 0) {
        std::fprintf(stderr, "pane_bench: alice's programs run with her ids: run it as root\n");
        return 1;
    }
    int restCount = static_cast<int>(rest.size());
    benchmark::Initialize(&restCount, rest.data());

    Rig rig;
    theRig = &rig;
    std::string opened;
    if (!rig.start(false) || !rig.perform({"accessibility", "on"}) || !rig.perform({"open", "/Library/PreferencePanes/Arvel.prefPane"}, &opened)
        || !rig.waitFor({"window", "Arvel"}, "the pane did not show"))
        return 1;
    const pid_t host = static_cast<pid_t>(std::atol(opened.c_str() + std::min(opened.size(), opened.find("host pid ") + 9)));
    // The first showing ends once its five loads have pushed.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    benchmark::RegisterBenchmark("ControlActionToHIDAgainstBusRoundTrip", ControlActionToHIDAgainstBusRoundTrip)
        ->Iterations(actions)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
    benchmark::RunSpecifiedBenchmarks();
    if (theActionFailed || theActions.empty())
        return 1;

    // Idle: nothing but the pane on the screen.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double idleSeconds = 3;
    auto idleBefore = cpuTicks(host);
    std::this_thread::sleep_for(std::chrono::duration<double>(idleSeconds));
    auto idleAfter = cpuTicks(host);

    // Calibrating: the sheet up for a spell.
    std::string answer;
    if (!rig.perform({"choose", "System Preferences", "mainPrefTabs", "Advanced"}, &answer)
        || !rig.perform({"click", "System Preferences", "reCalibrate"}, &answer)
        || !rig.waitFor({"window", "Calibrate the trackpad"}, "the calibration sheet did not show"))
        return 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const double sheetSeconds = 3;
    const std::size_t callsBefore = geometryCalls();
    const double from = currentDate();
    std::this_thread::sleep_for(std::chrono::duration<double>(sheetSeconds));
    const std::size_t callsAfter = geometryCalls();
    const double spell = currentDate() - from;
    rig.perform({"press", "System Preferences", "Cancel"}, &answer);

    const double median = figuresOf(theActions).median, ping = figuresOf(thePings).median;
    std::printf("\n%-44s %12s %12s\n", "", "median", "99th");
    std::printf("%-44s %10.0f us %10.0f us\n", "control action -> HID system holds it", median, figuresOf(theActions).p99);
    std::printf("%-44s %10.0f us %10.0f us\n", "Peer.Ping to the machine service", ping, figuresOf(thePings).p99);
    std::printf("%-44s %12.0f\n", "k, round trips on the path (counted)", theRoundTrips);
    std::printf("%-44s %12.2f   (target: at most 1.3)\n", "action / (k x ping), medians", median / (theRoundTrips * ping));
    if (idleBefore && idleAfter)
        std::printf("%-44s %12llu ticks in %g s (target: none)\n", "idle pane CPU (user + system)", *idleAfter - *idleBefore, idleSeconds);
    std::printf("%-44s %12.1f   (target: 10, no more)\n", "calibration sheet: geometry calls a second",
        static_cast<double>(callsAfter - callsBefore) / spell);
    return 0;
}
