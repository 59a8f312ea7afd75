#include "Installer/InstallerApp.h"

#include "AppKitGUI/Alerts.h"
#include "AppKitGUI/GUIApplication.h"
#include "Carbon/Gestalt.h"
#include "Common/ArvelAgentManagement.h"
#include "Foundation/FileManager.h"
#include "Foundation/NSAppleScript.h"
#include "Foundation/NSBundle.h"
#include "Log/Log.h"
#include "Security/Authorization.h"

#include "ui_InstallProgressPanel.h"
#include "ui_MainMenu.h"

#include <QDialog>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

// NSNoTabsBezelBorder: the pages are switched by the program only.
constexpr int kNoTabsBezelBorder = 4;

std::string item(const char* folder, const char* name)
{
    return std::string(folder) + "/" + name;
}

} // namespace

InstallerApp::InstallerApp(std::shared_ptr<NSBundle> bundle) : bundle_(std::move(bundle))
{
    installWindow = new QWidget;
    ui_ = std::make_unique<Ui::installWindow>();
    ui_->setupUi(installWindow);
    installWindow->setFixedSize(installWindow->size());
    installOrUpdate = ui_->installOrUpdate;
    installButton = ui_->installButton;
    quitButton = ui_->quitButton;
    uninstallButton = ui_->uninstallButton;
    installProgressPanel = new QDialog;
    progressUi_ = std::make_unique<Ui::installProgressPanel>();
    progressUi_->setupUi(installProgressPanel);
    installProgressPanel->setWindowFlag(Qt::WindowCloseButtonHint, false);
    installProgress = progressUi_->installProgress;
    QObject::connect(installButton, &QPushButton::clicked, [this] { doInstall(); });
    QObject::connect(uninstallButton, &QPushButton::clicked, [this] { doUninstall(); });
    QObject::connect(quitButton, &QPushButton::clicked, [this] { quitInstaller(); });
}

InstallerApp::~InstallerApp()
{
    delete installProgressPanel;
    delete installWindow;
}

std::string InstallerApp::localized(const std::string& english) const
{
    return bundle_ ? bundle_->localizedStringForKeyValueTable(english) : english;
}

void InstallerApp::terminate()
{
    if (GUIApplication* application = GUIApplication::shared())
        application->terminate();
}

bool InstallerApp::uninstallAvailable() const
{
    return fileExistsAtPath(item(kExtensionsFolder, "Arvel.kext")) || fileExistsAtPath(item(kStartupItemsFolder, "Arvel")) ||
        fileExistsAtPath(item(kPreferencePanesFolder, "Arvel.prefPane"));
}

bool InstallerApp::packageInstalled() const
{
    return fileExistsAtPath(item(kExtensionsFolder, "Arvel.kext")) && fileExistsAtPath(item(kStartupItemsFolder, "Arvel")) &&
        fileExistsAtPath(item(kPreferencePanesFolder, "Arvel.prefPane"));
}

std::optional<std::string> InstallerApp::installVersion() const
{
    const std::string pane = bundle_ ? bundle_->pathForResourceOfType("Arvel.prefPane", "") : std::string();
    auto paneBundle = pane.empty() ? nullptr : NSBundle::bundleWithPath(pane);
    if (!paneBundle)
        return std::nullopt;
    const std::string* version = paneBundle->objectForInfoDictionaryKey("CFBundleShortVersionString").string();
    return version ? std::optional<std::string>(*version) : std::nullopt;
}

void InstallerApp::awakeFromNib()
{
    fileMan = NSFileManager::defaultManager();
    if (!fileMan) {
        logError("Installer error: Unable to allocate a NSFileManager. Abort.\n");
        terminate();
        return;
    }
    if (std::optional<std::string> version = installVersion())
        installWindow->setWindowTitle(QString::fromStdString(stringWithFormat(localized("%@ Installation"), *version)));
    // The tab view's type: no tabs, the pages switched by the program.
    static_assert(kNoTabsBezelBorder == 4);
    installOrUpdate->tabBar()->hide();
    if (!uninstallAvailable())
        uninstallButton->setEnabled(false);
    if (packageInstalled()) {
        installButton->setText(QString::fromStdString(localized("Update")));
        installOrUpdate->setCurrentIndex(1);
    } else {
        installOrUpdate->setCurrentIndex(0);
    }
    if (QScreen* screen = installWindow->screen())
        installWindow->move(screen->availableGeometry().center() - installWindow->rect().center());
    installWindow->show();
    installWindow->raise();
    installWindow->activateWindow();

    SInt32 version = 0;
    if (Gestalt(gestaltSystemVersion, &version) == noErr && version <= 0x101F) {
        NSBeginCriticalAlertSheet({localized("Unsupported MacOS X version"), {}, {}, {}, installWindow, {},
            localized("Arvel can only be installed on MacOS X 10.2 Jaguar or later.")});
        installButton->setEnabled(false);
    }
}

void InstallerApp::quitInstaller()
{
    terminate();
}

bool InstallerApp::isProgressAnimating() const
{
    // A bar without a range is the indeterminate, animated indicator.
    return installProgress->minimum() == 0 && installProgress->maximum() == 0;
}

void InstallerApp::beginProgress()
{
    if (GUIApplication* application = GUIApplication::shared())
        application->beginSheetModalForWindow(installProgressPanel, installWindow);
    installProgress->setRange(0, 0);
}

void InstallerApp::endProgress()
{
    installWindow->raise();
    installWindow->activateWindow();
    installProgress->setRange(0, 100);
    if (GUIApplication* application = GUIApplication::shared())
        application->endSheet(installProgressPanel);
    GUIApplication::orderOut(installProgressPanel);
}

void InstallerApp::doInstall()
{
    const bool update = packageInstalled();
    beginProgress();
    const bool succeeded = authenticatedInstall("--install");
    // Whatever the tool did: a pane cache naming an old pane, or a login
    // item missing, would outlive this installer.
    killSysPrefsCache();
    addAgentToLoginItems();
    endProgress();
    if (succeeded && packageInstalled()) {
        NSBeginAlertSheet({localized(update ? "Update Successful" : "Installation Successful"), localized("Restart"), localized("Restart Later"), {},
            installWindow, [this](int code) { installSuccessSheetDidEnd(code); },
            localized(update ? "Arvel was updated successfully. You must restart your computer to use the new version of Arvel."
                             : "Arvel was installed successfully. You must restart your computer to use Arvel.")});
    } else {
        NSBeginCriticalAlertSheet({localized("Installation Failure"), {}, {}, {}, installWindow, [this](int code) { installFailureSheetDidEnd(code); },
            localized("Arvel could not be installed. Please see the Console log for errors.")});
    }
}

void InstallerApp::doUninstall()
{
    beginProgress();
    const bool succeeded = authenticatedInstall("--uninstall");
    killSysPrefsCache();
    removeAgentFromLoginItems();
    endProgress();
    if (succeeded && !uninstallAvailable()) {
        NSBeginAlertSheet({localized("Uninstall Successful"), localized("Restart"), localized("Restart Later"), {}, installWindow,
            [this](int code) { installSuccessSheetDidEnd(code); },
            localized("Arvel has been removed. You must restart your computer to complete the uninstall.")});
    } else {
        // Only OK: the failure's end quits without a restart, so a Restart
        // button here would not do what it says.
        NSBeginCriticalAlertSheet({localized("Uninstall Error"), {}, {}, {}, installWindow, [this](int code) { installFailureSheetDidEnd(code); },
            localized("Arvel could not be removed. Please see the Console log for errors.")});
    }
}

void InstallerApp::installSuccessSheetDidEnd(int returnCode)
{
    if (returnCode == 1) {
        // Its error is of no use: the installer ends either way.
        Value ignored;
        NSAppleScript("tell application \"Finder\" to restart").executeAndReturnError(&ignored);
    }
    terminate();
}

void InstallerApp::installFailureSheetDidEnd(int)
{
    terminate();
}

void InstallerApp::killSysPrefsCache()
{
    const std::string cache = expandTildeInPath(kSysPrefsCache);
    if (fileExistsAtPath(cache) && !(fileMan ? fileMan->removeFileAtPath(cache) : removeFileAtPath(cache)))
        logError("Installer error: Unable to remove system preferences cache file.\n");
}

bool InstallerApp::authenticatedInstall(const std::string& argument)
{
    const std::string tool = bundle_ ? bundle_->pathForResourceOfType("InstallTool", "") : std::string();
    if (tool.empty()) {
        logError("Installer error: Unable to find the installation tool.\n");
        return false;
    }
    AuthorizationRef authorization = nullptr;
    if (AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, &authorization) != errAuthorizationSuccess) {
        logError("Installer error: Unable to create an AuthorizationRef.\n");
        return false;
    }
    AuthorizationItem right {kAuthorizationRightExecute, 0, nullptr, 0};
    AuthorizationRights rights {1, &right};
    const AuthorizationFlags flags = kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights | kAuthorizationFlagPreAuthorize;
    if (AuthorizationCopyRights(authorization, &rights, nullptr, flags, nullptr) != errAuthorizationSuccess) {
        AuthorizationFree(authorization, kAuthorizationFlagDefaults);
        logError("Installer error: Unable to obtain authorization rights.\n");
        return false;
    }
    std::vector<char> given(argument.begin(), argument.end());
    given.push_back('\0');
    char* arguments[] = {given.data(), nullptr};
    FILE* pipe = nullptr;
    const OSStatus status = AuthorizationExecuteWithPrivileges(authorization, tool.c_str(), kAuthorizationFlagDefaults, arguments, &pipe);
    if (status != errAuthorizationSuccess) {
        AuthorizationFree(authorization, kAuthorizationFlagDefaults);
        logError("Installer error: Unable to execute installer tool. Error: %d\n", static_cast<int>(status));
        return false;
    }
    std::int32_t result = 0;
    if (pipe) {
        if (std::fread(&result, sizeof result, 1, pipe) != 1)
            result = 0; // nothing read counts as success; the items are checked after
        std::fclose(pipe);
    }
    AuthorizationFree(authorization, kAuthorizationFlagDefaults);
    return result == 0;
}
