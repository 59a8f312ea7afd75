// The pane on a real X server, worked as a person works it: the real
// System Preferences runs on Xvfb against the real arveld and agent; a
// person's script (operate-pane.py) finds the controls through the
// accessibility interface and clicks and drags them with the real pointer;
// then the driver, the HID system and alice's files must hold what she did.
//
// Skipped, with one line, where no X server or no accessibility bus can be
// started (the packages of scripts/setup are missing) or not as root.
#include "e2e/InstalledSystem.h"

#include "Foundation/PropertyList.h"
#include "support/PrivateBus.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const char* const kXvfb = "/usr/bin/Xvfb";
const char* const kPython = "/usr/bin/python3";
const char* const kBusDaemon = "/usr/bin/dbus-daemon";
const char* const kBusLauncher = "/usr/libexec/at-spi-bus-launcher";
const char* const kRegistry = "/usr/libexec/at-spi2-registryd";
const std::string kOperatePane = std::string(ARVEL_SOURCE_FOLDER) + "/tests/e2e/operate-pane.py";
const char* const kHost = "/Applications/System Preferences.app/Contents/MacOS/System Preferences";

class ThePaneOnAnXServer : public ::testing::Test {
protected:
    ~ThePaneOnAnXServer() override
    {
        // The machine first (its programs hold the display), then the rest.
        system.reset();
        for (auto it = helpers.rbegin(); it != helpers.rend(); ++it) {
            bus.kill(*it, SIGTERM);
            bus.wait(*it);
        }
    }

    // Xvfb on a free display, alice's session bus and the accessibility bus
    // and registry in it; why not, when something cannot be started.
    std::string startDisplay()
    {
        if (geteuid() != 0)
            return "not root (the machine starts alice's programs with her ids)";
        for (const char* tool : {kXvfb, kPython, kBusDaemon, kBusLauncher, kRegistry, "/usr/bin/xdotool"})
            if (access(tool, X_OK) != 0)
                return std::string(tool) + " is missing (scripts/setup installs it)";
        if (std::system("/usr/bin/python3 -c 'import pyatspi' 2>/dev/null") != 0)
            return "python3-pyatspi is missing (scripts/setup installs it)";
        for (int number = 91; number < 120 && display.empty(); ++number) {
            if (fs::exists("/tmp/.X11-unix/X" + std::to_string(number)) || fs::exists("/tmp/.X" + std::to_string(number) + "-lock"))
                continue;
            pid_t server = bus.start(kXvfb, {":" + std::to_string(number), "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
            helpers.push_back(server);
            if (eventually([&] { return fs::exists("/tmp/.X11-unix/X" + std::to_string(number)); }, 5))
                display = ":" + std::to_string(number);
        }
        if (display.empty())
            return "Xvfb did not start";
        // alice's own folder for her session's sockets.
        runtime = folder.path() + "/runtime";
        fs::create_directories(runtime);
        if (chown(runtime.c_str(), 501, 20) != 0 || chmod(runtime.c_str(), 0700) != 0 || chmod(folder.path().c_str(), 0755) != 0)
            return "unable to give alice a runtime folder";
        sessionBus = "unix:path=" + runtime + "/bus";
        const pid_t sessionDaemon = bus.startAsUser(501, kBusDaemon, {"--session", "--nofork", "--address=" + sessionBus}, sessionEnvironment());
        helpers.push_back(sessionDaemon);
        if (!eventually([&] { return fs::exists(runtime + "/bus"); }, 5))
            return "alice's session bus did not start: " + bus.output(sessionDaemon);
        helpers.push_back(bus.startAsUser(501, kBusLauncher, {"--launch-immediately"}, sessionEnvironment()));
        const std::string asked = "/usr/bin/dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress";
        if (!eventually([&] { return bus.wait(bus.startAsUser(501, "/bin/sh", {"-c", asked + " >/dev/null 2>&1"}, sessionEnvironment())) == 0; }, 10))
            return "the accessibility bus did not start";
        helpers.push_back(bus.startAsUser(501, kRegistry, {}, sessionEnvironment()));
        // The registry takes its name on the accessibility bus a moment
        // after it starts; a program started before that is never seen.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        return {};
    }

    // alice's session programs look her up as the private bus does.
    std::vector<std::string> sessionEnvironment() const
    {
        std::vector<std::string> out = environment();
        out.insert(out.end(), {"LD_PRELOAD=libnss_wrapper.so", "NSS_WRAPPER_PASSWD=" + bus.folder().file("passwd"),
                                  "NSS_WRAPPER_GROUP=" + bus.folder().file("group")});
        return out;
    }

    std::vector<std::string> environment() const
    {
        return {"DISPLAY=" + display, "DBUS_SESSION_BUS_ADDRESS=" + sessionBus, "XDG_RUNTIME_DIR=" + runtime, "QT_QPA_PLATFORM=xcb",
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1", "LANG=C.UTF-8", "HOME=" + runtime};
    }

    PrivateBus& bus = PrivateBus::shared();
    TemporaryFolder folder;
    std::vector<pid_t> helpers;
    std::string display, runtime, sessionBus;
    std::unique_ptr<InstalledSystem> system;
};

TEST_F(ThePaneOnAnXServer, ACheckBoxASliderAndACornerWorkedByAPersonReachTheDriverAndHerFile)
{
    if (std::string why = startDisplay(); !why.empty())
        GTEST_SKIP() << "no X server for the pane: " << why;
    system = std::make_unique<InstalledSystem>(std::vector<std::string> {"alice:501"});
    ASSERT_EQ(system->problem(), "");
    for (const InstalledSystem::Words& words : std::vector<InstalledSystem::Words> {
             {"--user", "alice", "write", "com.tessmoor.Arvel", "PrefsVersion", "-int", "4"},
             {"--user", "alice", "write", "NSGlobalDomain", "com.apple.trackpad.scaling", "-float", "0.875"},
             {"--any-user", "write", "-currentHost", "com.tessmoor.Arvel", "PrefsVersion", "-int", "4"},
             {"--any-user", "write", "-currentHost", "com.tessmoor.Arvel", "Calibration", "-dict", "MinX", "-int", "100", "MinY", "-int", "80",
                 "MaxX", "-int", "2900", "MaxY", "-int", "2320"}})
        ASSERT_TRUE(system->defaults(words)) << words[3];
    ASSERT_EQ(std::system(("chown -R 501:20 '" + system->root() + "/Users/alice'").c_str()), 0);
    ASSERT_TRUE(system->serve(environment())) << system->problem();
    system->ok({"add-user", "alice", "501"});
    system->ok({"accessibility", "on"});
    system->ok({"boot"});
    ASSERT_TRUE(system->waitFor({"log", "arveld: Daemon started."}));
    system->ok({"login", "alice"});
    system->ok({"open", "/Library/PreferencePanes/Arvel.prefPane"});
    ASSERT_TRUE(system->waitFor({"window", "Arvel"}, 20));

    InstalledSystem::Ran person = system->runAsUser(501, kPython, {kOperatePane}, sessionEnvironment());
    ASSERT_TRUE(person.ok) << person.output << "System Preferences wrote:\n"
                           << ::testing::PrintToString(system->consoleLines("System Preferences", system->hostPidOf(kHost)));

    SCOPED_TRACE("what the person did:\n" + person.output);
    const std::string preferences = system->root() + "/Users/alice/Library/Preferences/";
    auto setting = [&](const char* file, const char* key) { return readPropertyList(preferences + file).value[key]; };
    EXPECT_TRUE(eventually([&] { return !setting("com.tessmoor.Arvel.plist", "NWCorner").isNil(); }, 5));
    EXPECT_EQ(setting("com.tessmoor.Arvel.plist", "NWCorner"), Value::dictionary({{"Action", 3}}));
    EXPECT_EQ(setting("com.tessmoor.Arvel.plist", "MouseKeepMoving"), Value(true));
    EXPECT_EQ(setting(".GlobalPreferences.plist", "com.apple.trackpad.scaling"), Value(0.0));
    const std::string configuration = system->driverValue("configuration from the HID system");
    EXPECT_NE(configuration.find("MouseKeepMoving = 1;"), std::string::npos) << configuration;
    EXPECT_NE(configuration.find("NWCorner = {Action = 3; };"), std::string::npos) << configuration;
    const std::string hid = system->ok({"show", "hid"});
    EXPECT_NE(hid.find("  HIDTrackpadAcceleration = 0\n"), std::string::npos) << hid;
    EXPECT_EQ(system->finish(), std::vector<pid_t> {});
}

} // namespace
