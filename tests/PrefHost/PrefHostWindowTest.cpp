// The preferences host: what it loads, what it refuses with one line and a
// message while it goes on, and the calls a shown and hidden pane gets.
// One test runs the real program on the built bundle.
#include "PrefHost/PrefHostWindow.h"
#include "PrefPane/PaneFixture.h"

#include "Foundation/PropertyList.h"
#include "Paths/DiskRoot.h"

#include <filesystem>
#include <fstream>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

class PrefHost : public PaneTest {
protected:
    void writeInfo(const std::string& pane, const std::string& text)
    {
        std::string host = hostPath("/Library/PreferencePanes/" + pane + "/Contents/Info.plist");
        std::filesystem::create_directories(std::filesystem::path(host).parent_path());
        std::ofstream(host) << text;
    }
    std::vector<std::string> hostLines()
    {
        std::vector<std::string> out;
        for (const auto& line : world.logLines())
            if (line.rfind("System Preferences", 0) == 0)
                out.push_back(line);
        return out;
    }
};

TEST_F(PrefHost, NamesEachPaneItCannotLoadAndShowsTheOthers)
{
    writeInfo("Broken.prefPane", "<plist><dict><key>NSPrincipalClass</key>");
    writeInfo("Classless.prefPane", "<plist><dict><key>CFBundleExecutable</key><string>Classless</string></dict></plist>");
    writeInfo("Codeless.prefPane", "<plist><dict><key>NSPrincipalClass</key><string>Nobody</string>"
                                   "<key>CFBundleExecutable</key><string>Codeless</string></dict></plist>");
    world.runAsUser(501);
    world.runAsProcess(paneProcess);
    PrefHostWindow host;
    host.loadPanesIn("/Library/PreferencePanes");
    host.loadPane("/Library/PreferencePanes/Missing.prefPane");
    EXPECT_THAT(hostLines(),
        ElementsAre("System Preferences error: Unable to load the preference pane \"/Library/PreferencePanes/Broken.prefPane\": its Info.plist "
                    "is not a property list dictionary.",
            "System Preferences error: Unable to load the preference pane \"/Library/PreferencePanes/Classless.prefPane\": its Info.plist "
            "names no principal class (NSPrincipalClass).",
            HasSubstr("System Preferences error: Unable to load the preference pane \"/Library/PreferencePanes/Codeless.prefPane\": its code "
                      "cannot be loaded ("),
            "System Preferences error: Unable to load the preference pane \"/Library/PreferencePanes/Missing.prefPane\": there is no bundle "
            "there."));
    EXPECT_THAT(host.problems(), HasSubstr("The preference pane \"/Library/PreferencePanes/Broken.prefPane\" could not be loaded"));
    ASSERT_EQ(host.paneCount(), 1u);

    ASSERT_TRUE(host.showPane());
    auto* shown = dynamic_cast<ArvelPref*>(host.shownPane());
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown->connected());
    EXPECT_THAT(world.logLines(), testing::Contains("ArvelPref unable to obtain NSDistantObject for driver configuration access."));
    host.hidePane();
    EXPECT_FALSE(shown->connected());
}

// The real host on the built bundle, as the machine starts it: it loads the
// pane's code, the pane runs its showing, and SIGTERM ends it cleanly.
TEST(PrefHostProgram, LoadsTheBuiltBundleAndEndsOnSIGTERM)
{
    namespace fs = std::filesystem;
    fs::path root = fs::temp_directory_path() / ("prefhost-" + std::to_string(getpid()));
    fs::path contents = root / "Library/PreferencePanes/Arvel.prefPane/Contents";
    fs::create_directories(contents / "MacOS");
    fs::copy_file(ARVEL_PANE_MODULE, contents / "MacOS/Arvel");
    fs::copy(std::string(ARVEL_SOURCE_FOLDER) + "/PrefPane/Resources", contents / "Resources", fs::copy_options::recursive);
    std::ofstream(contents / "Info.plist") << "<plist><dict><key>CFBundleExecutable</key><string>Arvel</string>"
                                              "<key>NSPrincipalClass</key><string>ArvelPref</string></dict></plist>";
    fs::path errors = root / "stderr";
    pid_t child = fork();
    if (child == 0) {
        setenv("ARVEL_ROOT", root.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        unsetenv("ARVEL_MACHINE");
        unsetenv("ARVEL_BUS_ADDRESS");
        freopen(errors.c_str(), "w", stderr);
        execl(ARVEL_HOST_PROGRAM, ARVEL_HOST_PROGRAM, "/Library/PreferencePanes/Arvel.prefPane", static_cast<char*>(nullptr));
        _exit(127);
    }
    auto seen = [&] {
        std::ifstream in(errors);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return text;
    };
    // Until the pane's showing has run (at most a minute, on a busy machine).
    for (int i = 0; i < 600 && seen().find("ArvelPref unable to obtain NSDistantObject for system defaults access.") == std::string::npos; ++i)
        usleep(100 * 1000);
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    std::string text = seen();
    EXPECT_THAT(text, HasSubstr("System Preferences[" + std::to_string(child) + "] ArvelPref unable to obtain NSDistantObject for driver configuration access."));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text;
    fs::remove_all(root);
}

} // namespace
