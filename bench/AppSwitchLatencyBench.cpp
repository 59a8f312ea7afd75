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

constexpr unsigned kAliceUid = 501;
constexpr unsigned kStaffGid = 20;
constexpr double kSwitchTimeoutSeconds = 5.0;
constexpr int kWarmUpSwitches = 10;

// Runs a program to its end; whether it exited 0.
bool run(const std::string& program, const std::vector<std::string>& arguments)
{
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv {const_cast<char*>(program.c_str())};
        for (const auto& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "app_switch_latency_bench: %s failed\n", program.c_str());
        return false;
    }
    return true;
}

// What "show driver-writes" answers: "N per-application dictionaries, the
// last at SECONDS".
struct DriverWrites {
    unsigned long long count = 0;
    double lastDate = 0;
};

std::optional<DriverWrites> parseDriverWrites(const std::string& text)
{
    DriverWrites writes;
    char* end = nullptr;
    writes.count = std::strtoull(text.c_str(), &end, 10);
    if (end == text.c_str())
        return std::nullopt;
    if (writes.count == 0)
        return writes;
    const char* marker = ", the last at ";
    auto at = text.find(marker);
    if (at == std::string::npos)
        return std::nullopt;
    const char* date = text.c_str() + at + std::strlen(marker);
    writes.lastDate = std::strtod(date, &end);
    if (end == date)
        return std::nullopt;
    return writes;
}

// The system running on the private bus, and the two switches.
class Rig {
public:
    ~Rig() { stop(); }

    bool start()
    {
        PrivateBus& bus = PrivateBus::shared();
        // alice's agent reaches the disk through this folder.
        chmod(work_.path().c_str(), 0755);
        root_ = work_.file("root");
        setenv("ARVEL_ROOT", root_.c_str(), 1);
        if (!layOutDisk())
            return false;
        service_ = bus.start(ARVEL_MACHINE_PROGRAM, {"serve", "--root", root_});

        auto& connection = MessageBus::shared()->connection();
        control_ = sdbus::createProxy(connection, kMachineServiceName, kMachineControlPath);
        if (!waitFor({"process", "launchd"}, "the machine service did not come up"))
            return false;
        machinePeer_ = peerOf(kMachineServiceName);
        if (!perform({"add-user", "alice", std::to_string(kAliceUid)}) || !perform({"boot"})
            || !waitFor({"log", "Daemon started."}, "arveld did not start") || !perform({"login", "alice"})
            || !waitFor({"process", "ArvelSessionAgent"}, "alice's agent did not start")
            || !waitFor({"log", "Setting driver to configuration for UID 501."}, "arveld did not push alice's settings")
            || !perform({"launch", "Finder", "com.apple.finder", "/System/Library/CoreServices/Finder.app", "MACS"})
            || !perform({"launch", "Safari", "com.apple.Safari", "/Applications/Safari.app", "sfri"}))
            return false;
        daemonPeer_ = peerOf(kArvelDriverAccessName);
        if (!machinePeer_ || !daemonPeer_ || !settle())
            return false;
        return warmUp();
    }

    // One switch to the other application: the seconds from the verb to the
    // driver holding the new dictionary, nullopt when it did not come.
    std::optional<double> switchFront()
    {
        const char* name = safariInFront_ ? "Finder" : "Safari";
        const double sent = currentDate();
        if (!perform({"front", name}))
            return std::nullopt;
        safariInFront_ = !safariInFront_;
        const auto limit = std::chrono::steady_clock::now() + std::chrono::duration<double>(kSwitchTimeoutSeconds);
        for (;;) {
            auto writes = driverWrites();
            if (!writes)
                return std::nullopt;
            if (writes->count > writes_) {
                extraWrites_ += writes->count - writes_ - 1;
                writes_ = writes->count;
                // Checked after the fact, so it costs the figure nothing:
                // the dictionary that came is the one of the new front.
                const std::string& expected = safariInFront_ ? safariDictionary_ : finderDictionary_;
                if (!expected.empty() && perApplicationDictionary() != expected) {
                    std::fprintf(stderr, "app_switch_latency_bench: with %s in front the driver holds %s, not %s\n", name,
                        perApplicationDictionary().c_str(), expected.c_str());
                    return std::nullopt;
                }
                return writes->lastDate - sent;
            }
            if (std::chrono::steady_clock::now() >= limit) {
                std::fprintf(stderr, "app_switch_latency_bench: no per-application dictionary came within %g s of bringing %s to the front\n",
                    kSwitchTimeoutSeconds, name);
                return std::nullopt;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    void pingMachine() { machinePeer_->callMethod("Ping").onInterface("org.freedesktop.DBus.Peer"); }
    void pingDaemon() { daemonPeer_->callMethod("Ping").onInterface("org.freedesktop.DBus.Peer"); }

    // Dictionaries beyond the one each switch was waiting for.
    unsigned long long extraWrites() const { return extraWrites_; }

    void stop()
    {
        if (service_ <= 0)
            return;
        // The service ends every program it started before it leaves; one
        // that does not answer is told to end by signal, which it honours
        // the same way.
        if (!perform({"shutdown"}))
            PrivateBus::shared().kill(service_, SIGTERM);
        PrivateBus::shared().wait(service_);
        service_ = -1;
    }

private:
    bool layOutDisk()
    {
        // The layout script takes a build folder: one of links to the programs.
        const std::string programs = work_.file("programs");
        std::error_code error;
        for (auto [folder, program] : {std::pair {"Daemon", ARVELD_PROGRAM}, {"SessionAgent", ARVEL_AGENT_PROGRAM}, {"tools", ARVEL_DEFAULTS_PROGRAM}}) {
            std::filesystem::create_directories(programs + "/" + folder, error);
            std::filesystem::create_symlink(program, programs + "/" + folder + "/" + std::filesystem::path(program).filename().string(), error);
            if (error) {
                std::fprintf(stderr, "app_switch_latency_bench: unable to link %s: %s\n", program, error.message().c_str());
                return false;
            }
        }
        if (!run(INSTALL_LAYOUT_SCRIPT, {root_, programs, "alice:" + std::to_string(kAliceUid)}))
            return false;
        // alice's own corners for Finder; Safari's corners of its own.
        const std::vector<std::vector<std::string>> settings = {
            {"PrefsVersion", "-int", "4"},
            {"NWCorner", "-dict", "Action", "-int", "7", "Data", "-int", "65571"},
            {"ApplicationSet", "<dict><key>com.apple.Safari</key><dict><key>ApplicationName</key><string>Safari</string>"
                               "<key>NECorner</key><dict><key>Action</key><integer>4</integer></dict>"
                               "<key>SWCorner</key><dict><key>Action</key><integer>3</integer></dict></dict></dict>"},
        };
        for (const auto& setting : settings) {
            std::vector<std::string> arguments {"--user", "alice", "write", "com.tessmoor.Arvel"};
            arguments.insert(arguments.end(), setting.begin(), setting.end());
            if (!run(ARVEL_DEFAULTS_PROGRAM, arguments))
                return false;
        }
        // Written as root; alice's agent reads them as alice.
        const std::string home = root_ + "/Users/alice";
        bool given = ::chown(home.c_str(), kAliceUid, kStaffGid) == 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(home, error))
            given = ::lchown(entry.path().c_str(), kAliceUid, kStaffGid) == 0 && given;
        if (error || !given) {
            std::fprintf(stderr, "app_switch_latency_bench: unable to give %s to alice\n", home.c_str());
            return false;
        }
        return true;
    }

    // Waits until no dictionary has come for a while: what login and the
    // launches set off is over, so each switch is answered by its own.
    bool settle()
    {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        auto quietSince = std::chrono::steady_clock::now();
        std::optional<DriverWrites> last;
        for (;;) {
            auto writes = driverWrites();
            if (!writes)
                return false;
            auto now = std::chrono::steady_clock::now();
            if (!last || writes->count != last->count)
                quietSince = now;
            else if (now - quietSince >= std::chrono::milliseconds(500))
                break;
            if (now >= limit) {
                std::fprintf(stderr, "app_switch_latency_bench: dictionaries keep coming with nothing switching\n");
                return false;
            }
            last = writes;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        writes_ = last->count;
        return true;
    }

    // Learns each application's dictionary, makes sure they differ (so what
    // is measured is a change the driver sees), then switches a few more
    // times with every dictionary checked.
    bool warmUp()
    {
        for (std::string* dictionary : {&safariDictionary_, &finderDictionary_}) {
            if (!switchFront())
                return false;
            *dictionary = perApplicationDictionary();
        }
        if (safariDictionary_.empty() || safariDictionary_ == finderDictionary_) {
            std::fprintf(stderr, "app_switch_latency_bench: Safari and Finder give the driver the same dictionary: %s\n",
                safariDictionary_.c_str());
            return false;
        }
        for (int i = 0; i < kWarmUpSwitches; ++i)
            if (!switchFront())
                return false;
        extraWrites_ = 0;
        return true;
    }

    std::string perApplicationDictionary()
    {
        std::string driver;
        perform({"show", "driver"}, &driver);
        const char* marker = "per-application dictionary = ";
        auto at = driver.find(marker);
        return at == std::string::npos ? std::string() : driver.substr(at + std::strlen(marker), driver.find('\n', at) - at - std::strlen(marker));
    }

    std::optional<DriverWrites> driverWrites()
    {
        std::string answer;
        if (!perform({"show", "driver-writes"}, &answer))
            return std::nullopt;
        auto writes = parseDriverWrites(answer);
        if (!writes)
            std::fprintf(stderr, "app_switch_latency_bench: unexpected answer to show driver-writes: %s", answer.c_str());
        return writes;
    }

    bool perform(const std::vector<std::string>& words, std::string* output = nullptr, bool quiet = false)
    {
        bool ok = false;
        std::string answer;
        try {
            control_->callMethod("Perform").onInterface(kMachineControlInterface).withArguments(words).storeResultsTo(ok, answer);
        } catch (const sdbus::Error& error) {
            if (!quiet)
                std::fprintf(stderr, "app_switch_latency_bench: %s: %s\n", words[0].c_str(), error.getMessage().c_str());
            return false;
        }
        if (!ok && !quiet)
            std::fprintf(stderr, "app_switch_latency_bench: %s: %s\n", words[0].c_str(), answer.c_str());
        if (output)
            *output = answer;
        return ok;
    }

    bool waitFor(std::vector<std::string> condition, const char* problem)
    {
        condition.insert(condition.begin(), "check");
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        std::string answer;
        while (!perform(condition, &answer, true) || answer != "yes\n") {
            if (std::chrono::steady_clock::now() >= limit) {
                std::fprintf(stderr, "app_switch_latency_bench: %s\n", problem);
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    std::unique_ptr<sdbus::IProxy> peerOf(const std::string& name)
    {
        auto busDaemon = sdbus::createProxy(MessageBus::shared()->connection(), "org.freedesktop.DBus", "/org/freedesktop/DBus");
        std::string owner;
        try {
            busDaemon->callMethod("GetNameOwner").onInterface("org.freedesktop.DBus").withArguments(name).storeResultsTo(owner);
        } catch (const sdbus::Error& error) {
            std::fprintf(stderr, "app_switch_latency_bench: nobody owns %s: %s\n", name.c_str(), error.getMessage().c_str());
            return nullptr;
        }
        return sdbus::createProxy(MessageBus::shared()->connection(), owner, "/");
    }

    TemporaryFolder work_;
    std::string root_;
    pid_t service_ = -1;
    std::unique_ptr<sdbus::IProxy> control_;
    std::unique_ptr<sdbus::IProxy> machinePeer_;
    std::unique_ptr<sdbus::IProxy> daemonPeer_;
    std::string safariDictionary_, finderDictionary_;
    unsigned long long writes_ = 0;
    unsigned long long extraWrites_ = 0;
    bool safariInFront_ = false;
};

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
