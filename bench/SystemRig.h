// The whole system running as real processes on one private bus, for the
// benchmarks that measure it from outside: arvel-machine serving a disk
// laid out as an install leaves it, arveld started at boot as root, and
// each user's ArvelSessionAgent started at the user's login with the user's
// ids. alice has corners of her own and an application set for Safari; the
// other users (the rig's extra users) have the defaults. Needs root.
#pragma once

#include "Bus/MessageBus.h"
#include "Common/ArvelDriverAccessProtocol.h"
#include "RunLoop/Clock.h"
#include "service/MachineService.h"
#include "support/PrivateBus.h"
#include "support/TemporaryFolder.h"

#include <sdbus-c++/sdbus-c++.h>

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

namespace rig {

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
        std::fprintf(stderr, "bench: %s failed\n", program.c_str());
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
    // Users besides alice (name, uid), each logged in after her with an
    // agent of their own; the last one ends on the console.
    explicit Rig(std::vector<std::pair<std::string, unsigned>> extraUsers = {}) : extraUsers_(std::move(extraUsers)) {}
    ~Rig() { stop(); }

    // The system up, every user logged in; with applications, Finder and
    // Safari launched in the console's session and switched a few times, so
    // that each then gives the driver its own dictionary (switchFront()).
    bool start(bool applications = true)
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
            || !logInExtraUsers())
            return false;
        if (applications
            && (!perform({"launch", "Finder", "com.apple.finder", "/System/Library/CoreServices/Finder.app", "MACS"})
                || !perform({"launch", "Safari", "com.apple.Safari", "/Applications/Safari.app", "sfri"})))
            return false;
        daemonPeer_ = peerOf(kArvelDriverAccessName);
        if (!machinePeer_ || !daemonPeer_ || !settle())
            return false;
        return !applications || warmUp();
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
                    std::fprintf(stderr, "bench: with %s in front the driver holds %s, not %s\n", name,
                        perApplicationDictionary().c_str(), expected.c_str());
                    return std::nullopt;
                }
                return writes->lastDate - sent;
            }
            if (std::chrono::steady_clock::now() >= limit) {
                std::fprintf(stderr, "bench: no per-application dictionary came within %g s of bringing %s to the front\n",
                    kSwitchTimeoutSeconds, name);
                return std::nullopt;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    // Fast user switching to this user: what it cost (link calls served,
    // news sent, per-application dictionaries the driver got), counted once
    // nothing more comes; nothing when it did not settle.
    struct Cost {
        unsigned long long calls = 0, news = 0, dictionaries = 0;
    };
    std::optional<Cost> switchConsoleTo(const std::string& user)
    {
        auto before = traffic();
        if (!before || !perform({"switch", user}) || !settle())
            return std::nullopt;
        auto after = traffic();
        if (!after)
            return std::nullopt;
        return Cost {after->calls - before->calls, after->news - before->news, after->dictionaries - before->dictionaries};
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
    bool logInExtraUsers()
    {
        for (const auto& [name, uid] : extraUsers_) {
            std::string pushed = "Setting driver to configuration for UID " + std::to_string(uid) + ".";
            if (!perform({"add-user", name, std::to_string(uid)}) || !perform({"login", name})
                || !waitFor({"log", pushed}, "arveld did not push a user's settings"))
                return false;
        }
        return true;
    }

    std::optional<Cost> traffic()
    {
        std::string link;
        auto writes = driverWrites();
        if (!writes || !perform({"show", "link"}, &link))
            return std::nullopt;
        Cost cost;
        if (std::sscanf(link.c_str(), "%llu calls served, %llu news sent", &cost.calls, &cost.news) != 2)
            return std::nullopt;
        cost.dictionaries = writes->count;
        return cost;
    }

    bool layOutDisk()
    {
        // The layout script takes this build's folder of programs.
        const std::string programs = ARVEL_BUILD_FOLDER;
        std::error_code error;
        std::vector<std::string> layout {root_, programs, "alice:" + std::to_string(kAliceUid)};
        for (const auto& [name, uid] : extraUsers_)
            layout.push_back(name + ":" + std::to_string(uid));
        if (!run(INSTALL_LAYOUT_SCRIPT, layout))
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
        // The machine is calibrated: a pane shown comes up without its sheet.
        if (!run(ARVEL_DEFAULTS_PROGRAM, {"--any-user", "write", "-currentHost", "com.tessmoor.Arvel", "Calibration", "-dict", "MinX", "-int",
                "100", "MinY", "-int", "80", "MaxX", "-int", "2900", "MaxY", "-int", "2320"}))
            return false;
        // Written as root; alice's agent reads them as alice.
        const std::string home = root_ + "/Users/alice";
        bool given = ::chown(home.c_str(), kAliceUid, kStaffGid) == 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(home, error))
            given = ::lchown(entry.path().c_str(), kAliceUid, kStaffGid) == 0 && given;
        if (error || !given) {
            std::fprintf(stderr, "bench: unable to give %s to alice\n", home.c_str());
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
                std::fprintf(stderr, "bench: dictionaries keep coming with nothing switching\n");
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
            std::fprintf(stderr, "bench: Safari and Finder give the driver the same dictionary: %s\n",
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
            std::fprintf(stderr, "bench: unexpected answer to show driver-writes: %s", answer.c_str());
        return writes;
    }

public:
    // One verb of the machine's command line, answered by the service.
    bool perform(const std::vector<std::string>& words, std::string* output = nullptr, bool quiet = false)
    {
        bool ok = false;
        std::string answer;
        try {
            control_->callMethod("Perform").onInterface(kMachineControlInterface).withArguments(words).storeResultsTo(ok, answer);
        } catch (const sdbus::Error& error) {
            if (!quiet)
                std::fprintf(stderr, "bench: %s: %s\n", words[0].c_str(), error.getMessage().c_str());
            return false;
        }
        if (!ok && !quiet)
            std::fprintf(stderr, "bench: %s: %s\n", words[0].c_str(), answer.c_str());
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
                std::fprintf(stderr, "bench: %s\n", problem);
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

private:
    std::unique_ptr<sdbus::IProxy> peerOf(const std::string& name)
    {
        auto busDaemon = sdbus::createProxy(MessageBus::shared()->connection(), "org.freedesktop.DBus", "/org/freedesktop/DBus");
        std::string owner;
        try {
            busDaemon->callMethod("GetNameOwner").onInterface("org.freedesktop.DBus").withArguments(name).storeResultsTo(owner);
        } catch (const sdbus::Error& error) {
            std::fprintf(stderr, "bench: nobody owns %s: %s\n", name.c_str(), error.getMessage().c_str());
            return nullptr;
        }
        return sdbus::createProxy(MessageBus::shared()->connection(), owner, "/");
    }

    std::vector<std::pair<std::string, unsigned>> extraUsers_;
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

} // namespace rig
