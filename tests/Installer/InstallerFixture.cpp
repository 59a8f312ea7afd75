#include "InstallerFixture.h"

#include "Foundation/NSBundle.h"
#include "Foundation/PropertyList.h"
#include "Foundation/SharedInstance.h"
#include "Paths/DiskRoot.h"
#include "RunLoop/RunLoop.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

void writeText(const std::string& systemPath, const std::string& text)
{
    fs::create_directories(fs::path(hostPath(systemPath)).parent_path());
    std::ofstream(hostPath(systemPath)) << text;
}

void writePlist(const std::string& systemPath, const Value& value)
{
    fs::create_directories(fs::path(hostPath(systemPath)).parent_path());
    writePropertyListFile(hostPath(systemPath), value);
}

const char* const kItems[] = {InstallerTest::kKext, InstallerTest::kStartupItem, InstallerTest::kPane};

} // namespace

InstallerTest::InstallerTest()
{
    world.addUser("alice", 501);
    world.machine().users().setPassword("alice", "secret");
    world.machine().users().setAdministrator("alice", true);
    world.createHomeFolder("alice");
    world.startLoginWindow();
    const std::uint32_t session = world.loginSession("alice");
    world.login("alice");
    installerProcess = world.launchApplication({"installer", "com.tessmoor.Arvel.installer", kBundle, "????", session});
    world.runAsProcess(installerProcess);
    world.runAsUser(501);
    // alice's login items as her system keeps them, before Arvel's.
    writePlist(("/Users/alice/Library/Preferences/loginwindow.plist"),
        Value::dictionary({{"AutoLaunchedApplicationDictionary", Value::array({Value::dictionary({{"Path", "/Applications/iTunes.app"}})})}}));

    const std::string resources = std::string(kBundle) + "/Contents/Resources";
    writePlist((std::string(kBundle) + "/Contents/Info.plist"),
        Value::dictionary({{"CFBundleExecutable", "installer"}, {"CFBundleIdentifier", "com.tessmoor.Arvel.installer"}}));
    writeText(resources + "/InstallTool", "#!/bin/sh\n");
    writePlist((resources + "/Arvel.prefPane/Contents/Info.plist"),
        Value::dictionary({{"CFBundleIdentifier", "com.tessmoor.Arvel.prefPane"}, {"CFBundleShortVersionString", "1.1"}}));
    std::ifstream strings(std::string(ARVEL_SOURCE_FOLDER) + "/Installer/Resources/English.lproj/Localizable.strings");
    writeText(resources + "/English.lproj/Localizable.strings", std::string(std::istreambuf_iterator<char>(strings), {}));

    world.machine().authorization().setRunner([this](const std::string& path, const std::vector<std::string>& arguments, auto finished) {
        EXPECT_EQ(path, std::string(kBundle) + "/Contents/Resources/InstallTool");
        toolRuns.push_back(arguments);
        std::int32_t result = 0;
        if (tool_) {
            result = tool_(arguments);
        } else {
            for (const char* item : kItems)
                arguments == std::vector<std::string> {"--install"} ? place(item) : remove(item);
        }
        finished(0, std::string(reinterpret_cast<const char*>(&result), sizeof result));
    });
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    application = std::make_unique<GUIApplication>();
}

InstallerTest::~InstallerTest()
{
    for (auto& timer : actions)
        timer->invalidate();
    world.machine().authorization().setRunner({});
    installer.reset();
    application.reset();
    releaseSharedInstances();
}

void InstallerTest::place(const std::string& item)
{
    writePlist((item + "/Contents/Info.plist"), Value::dictionary({{"CFBundleShortVersionString", "1.1"}}));
}

void InstallerTest::remove(const std::string& item)
{
    fs::remove_all(hostPath(item));
}

bool InstallerTest::present(const std::string& item) const
{
    return fs::exists(hostPath(item));
}

void InstallerTest::start()
{
    installer = std::make_unique<InstallerApp>(NSBundle::bundleWithPath(kBundle));
    installer->awakeFromNib();
    world.runFor(0);
}

void InstallerTest::at(double seconds, std::function<void()> action)
{
    auto timer = Timer::create(seconds, false, [action = std::move(action)](Timer&) { action(); });
    RunLoop::current().addTimer(timer, kCommonRunLoopModes);
    actions.push_back(timer);
}

void InstallerTest::authorizeAt(double seconds, const std::string& password)
{
    at(seconds, [this, password] { world.machine().authorization().answer("alice", password); });
}

std::string InstallerTest::windows()
{
    world.runFor(0);
    return world.machine().windows().describe([](int pid) { return "pid " + std::to_string(pid); });
}

void InstallerTest::press(const std::string& title)
{
    world.runFor(0);
    const auto& shown = world.machine().windows().shown();
    for (auto it = shown.rbegin(); it != shown.rend(); ++it) {
        for (const auto& button : it->buttons) {
            if (button.title == title) {
                EXPECT_EQ(world.machine().windows().press(it->id, title), machine::Windows::PressResult::Pressed);
                world.runFor(0);
                return;
            }
        }
    }
    ADD_FAILURE() << "no button " << title << " on the screen:\n" << windows();
}

InstallerTest::Lines InstallerTest::installerLines() const
{
    Lines out;
    for (const auto& line : world.logLines())
        if (line.rfind("Installer", 0) == 0 || line.rfind("ArvelAgentManagement", 0) == 0)
            out.push_back(line);
    return out;
}
