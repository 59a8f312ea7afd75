// InstallerApp on the simulated machine: what its window offers for what is
// installed, an install and an uninstall through the administrator's
// prompt and the root tool, and every way they fail.
#include "InstallerFixture.h"

#include <gmock/gmock.h>

#include "Foundation/NSAppleScript.h"
#include "Foundation/PropertyList.h"
#include "Paths/DiskRoot.h"

#include <QProgressBar>
#include <QDialog>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>

#include <filesystem>
#include <fstream>

namespace {

const char* const kAgent = "/Library/PreferencePanes/Arvel.prefPane/Contents/Resources/ArvelSessionAgent.app";

std::string buttons(const InstallerApp& app)
{
    auto describe = [](QPushButton* button) { return button->text().toStdString() + (button->isEnabled() ? "" : " (disabled)"); };
    return describe(app.installButton) + ", " + describe(app.uninstallButton) + ", page " + std::to_string(app.installOrUpdate->currentIndex());
}

Value loginItems()
{
    return readPropertyListFile(hostPath("/Users/alice/Library/Preferences/loginwindow.plist"))["AutoLaunchedApplicationDictionary"];
}

TEST_F(InstallerTest, OffersANewInstallAnUpdateOrBothByWhatIsInstalled)
{
    start();
    EXPECT_EQ(installer->installWindow->windowTitle().toStdString(), "Arvel 1.1 Installation");
    EXPECT_TRUE(installer->installOrUpdate->tabBar()->isHidden());
    EXPECT_EQ(buttons(*installer), "Install, Uninstall (disabled), page 0");

    place(kKext);
    start();
    EXPECT_EQ(buttons(*installer), "Install, Uninstall, page 0") << "some items: a new install, and an uninstall of what is there";

    place(kStartupItem);
    place(kPane);
    start();
    EXPECT_EQ(buttons(*installer), "Update, Uninstall, page 1");
    EXPECT_EQ(windows(), "window 3 of pid 3: \"Arvel 1.1 Installation\" [Uninstall] [Quit] [Update]\n");
}

TEST_F(InstallerTest, RefusesASystemBefore10_2WithAnAlertAndNoInstallButton)
{
    world.setSystemVersion(0x1015);
    start();
    EXPECT_FALSE(installer->installButton->isEnabled());
    EXPECT_THAT(windows(), ::testing::HasSubstr("alert 2 on window 1: \"Unsupported MacOS X version\" \"Arvel can only be installed on MacOS X 10.2 "
                                                "Jaguar or later.\" [OK]"));
}

TEST_F(InstallerTest, InstallsWithTheAdministratorsPasswordThenOffersARestart)
{
    std::filesystem::create_directories(hostPath("/Users/alice/Library/Caches"));
    writePropertyListFile(hostPath("/Users/alice/Library/Caches/com.apple.preferencepanes.cache"), Value::dictionary());
    start();
    bool sheetWhileRunning = false;
    tool([&](const std::vector<std::string>&) {
        sheetWhileRunning = application->attachedSheet(installer->installWindow) == static_cast<QWidget*>(installer->installProgressPanel) && installer->isProgressAnimating();
        for (const char* item : {kKext, kStartupItem, kPane})
            place(item);
        return 0;
    });
    std::string prompt;
    at(1, [&] { prompt = windows(); });
    authorizeAt(2);
    installer->installButton->click();

    EXPECT_THAT(prompt, ::testing::HasSubstr("authorization 3 of pid 3: \"Authenticate\" \"installer requires that you type an administrator's "
                                             "name and password.\" [OK] [Cancel]\n"));
    EXPECT_EQ(toolRuns, (std::vector<std::vector<std::string>> {{"--install"}}));
    EXPECT_TRUE(sheetWhileRunning) << "the progress sheet is up and animating while the tool runs";
    EXPECT_FALSE(installer->isProgressAnimating());
    EXPECT_EQ(windows(), "window 1 of pid 3: \"Arvel 1.1 Installation\" [Uninstall (disabled)] [Quit] [Install]\n"
                         "  alert 4 on window 1: \"Installation Successful\" \"Arvel was installed successfully. You must restart your "
                         "computer to use Arvel.\" [Restart] [Restart Later]\n");
    EXPECT_FALSE(std::filesystem::exists(hostPath("/Users/alice/Library/Caches/com.apple.preferencepanes.cache")));
    EXPECT_EQ(loginItems(), Value::array({Value::dictionary({{"Path", kAgent}, {"Hide", true}}), Value::dictionary({{"Path", "/Applications/iTunes.app"}})}));
    EXPECT_EQ(installerLines(), Lines {});

    press("Restart");
    EXPECT_EQ(world.machine().restartsRequested(), 1);
    EXPECT_TRUE(application->isTerminated());
}

TEST_F(InstallerTest, AnUpdateSaysSoAndRestartLaterQuitsWithoutARestart)
{
    for (const char* item : {kKext, kStartupItem, kPane})
        place(item);
    start();
    authorizeAt(1);
    installer->installButton->click();
    EXPECT_THAT(windows(), ::testing::HasSubstr("\"Update Successful\" \"Arvel was updated successfully. You must restart your computer to use the "
                                                "new version of Arvel.\" [Restart] [Restart Later]"));
    press("Restart Later");
    EXPECT_TRUE(application->isTerminated());
    EXPECT_EQ(world.machine().restartsRequested(), 0);
}

TEST_F(InstallerTest, ACancelledOrThriceWrongPasswordFailsTheInstallButStillAddsTheLoginItem)
{
    start();
    at(1, [this] { world.machine().authorization().cancel(); });
    installer->installButton->click();
    EXPECT_EQ(installerLines(), Lines {"Installer error: Unable to obtain authorization rights."});
    EXPECT_THAT(windows(), ::testing::HasSubstr("\"Installation Failure\" \"Arvel could not be installed. Please see the Console log for errors.\" [OK]"));
    ASSERT_TRUE(loginItems().arrayValue() && !loginItems().arrayValue()->empty());
    EXPECT_EQ(loginItems().arrayValue()->front()["Path"], Value(kAgent));
    press("OK");
    EXPECT_TRUE(application->isTerminated());

    world.clearLog();
    start();
    for (double second : {1.0, 2.0, 3.0})
        authorizeAt(second, "guess");
    installer->installButton->click();
    EXPECT_EQ(installerLines(), Lines {"Installer error: Unable to obtain authorization rights."});
    EXPECT_THAT(windows(), ::testing::HasSubstr("\"Installation Failure\""));
    EXPECT_EQ(toolRuns.size(), 0u);
    EXPECT_FALSE(present(kKext) || present(kStartupItem) || present(kPane));
    EXPECT_THAT(world.machine().systemLog().describe(),
        ::testing::HasSubstr("arvel-machine[0] <Notice>: authorization: wrong name or password for \"alice\" (attempt 3 of 3); "
                             "\"system.privilege.admin\" denied to installer (pid 3)\n"));
}

TEST_F(InstallerTest, TheToolsSuccessWithAnItemMissingIsAFailure)
{
    start();
    tool([&](const std::vector<std::string>&) {
        place(kKext);
        place(kPane);
        return 0;
    });
    authorizeAt(1);
    installer->installButton->click();
    EXPECT_THAT(windows(), ::testing::HasSubstr("\"Installation Failure\""));
}

TEST_F(InstallerTest, AnUninstallLeavingAnItemIsAnErrorAndOneLeavingNoneOffersARestart)
{
    for (const char* item : {kKext, kStartupItem, kPane})
        place(item);
    start();
    tool([&](const std::vector<std::string>&) {
        remove(kKext);
        remove(kPane);
        return 0;
    });
    authorizeAt(1);
    installer->uninstallButton->click();
    EXPECT_EQ(toolRuns, (std::vector<std::vector<std::string>> {{"--uninstall"}}));
    EXPECT_THAT(windows(), ::testing::HasSubstr("\"Uninstall Error\" \"Arvel could not be removed. Please see the Console log for errors.\" [OK]"));
    press("OK");

    start();
    tool({});
    authorizeAt(1);
    installer->uninstallButton->click();
    EXPECT_THAT(windows(), ::testing::HasSubstr("\"Uninstall Successful\" \"Arvel has been removed. You must restart your computer to complete the "
                                                "uninstall.\" [Restart] [Restart Later]"));
    EXPECT_EQ(loginItems(), Value::array({Value::dictionary({{"Path", "/Applications/iTunes.app"}})}));
}

TEST_F(InstallerTest, AToolThatCannotRunOrAnswersNonZeroIsAFailure)
{
    start();
    world.failNext("AuthorizationExecuteWithPrivileges", -60031);
    authorizeAt(1);
    installer->installButton->click();
    EXPECT_EQ(installerLines(), Lines {"Installer error: Unable to execute installer tool. Error: -60031"});

    world.clearLog();
    start();
    tool([](const std::vector<std::string>&) { return 4; });
    authorizeAt(1);
    installer->installButton->click();
    EXPECT_EQ(installerLines(), Lines {});
    EXPECT_THAT(windows(), ::testing::HasSubstr("\"Installation Failure\""));
}

TEST_F(InstallerTest, RunAsRootWithoutLoginItemsOrAPaneCacheItStillInstalls)
{
    world.runAsUser(0);
    start();
    authorizeAt(1);
    installer->installButton->click();
    EXPECT_EQ(installerLines(), Lines {"ArvelAgentManagement error: Unable to find login item defaults."});
    EXPECT_THAT(windows(), ::testing::HasSubstr("\"Installation Successful\""));
}

TEST_F(InstallerTest, WithoutAFileManagerItEndsAtOnce)
{
    world.failNext("NSFileManager", 1);
    start();
    EXPECT_EQ(installerLines(), Lines {"Installer error: Unable to allocate a NSFileManager. Abort."});
    EXPECT_TRUE(application->isTerminated());
}

TEST_F(InstallerTest, WithoutItsToolItFailsBeforeAskingForAPassword)
{
    std::filesystem::remove(hostPath(std::string(kBundle) + "/Contents/Resources/InstallTool"));
    start();
    installer->installButton->click();
    EXPECT_EQ(installerLines(), (Lines {"Installer error: Unable to find the installation tool."}));
    EXPECT_EQ(world.machine().authorization().promptShown(), false);
    EXPECT_THAT(windows(), ::testing::HasSubstr("\"Installation Failure\""));
}

TEST_F(InstallerTest, OnlyTheConsolesUserOrRootRestartsTheMachine)
{
    // A program of no login session: started by hand, away from the console.
    const int elsewhere = world.machine().processes().startUnixProcess("/usr/local/bin/restarter").pid;
    world.runAsProcess(elsewhere);
    world.runAsUser(503);
    NSAppleScript("tell application \"Finder\" to restart").executeAndReturnError(nullptr);
    EXPECT_EQ(world.machine().restartsRequested(), 0);
    EXPECT_THAT(world.machine().systemLog().describe(), ::testing::HasSubstr("arvel-machine[0] <Error>: Finder: restart refused to restarter (pid 4): "
                                                                             "only the console's user and root restart the machine\n"));
    world.runAsProcess(installerProcess);
    world.runAsUser(501);
    Value error;
    EXPECT_EQ(NSAppleScript("tell application \"Finder\" to quit").executeAndReturnError(&error), Value());
    EXPECT_EQ(error["NSAppleScriptErrorNumber"], Value(-2741));
    NSAppleScript("tell application \"Finder\" to restart").executeAndReturnError(nullptr);
    EXPECT_EQ(world.machine().restartsRequested(), 1);
}

} // namespace
