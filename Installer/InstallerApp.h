// InstallerApp: the installer's controller. It shows one window with
// Install (or Update), Uninstall and Quit; the copying and removing is done
// as root by the InstallTool among its bundle's resources, which it runs
// through Authorization Services after the administrator's password. It
// checks the outcome by looking for the installed items itself, puts the
// session agent into (or out of) the user's login items, clears System
// Preferences' pane cache and offers to restart. Every operation ends the
// installer after its success or failure sheet.
//
// The interface comes from its files (MainMenu.ui, InstallProgressPanel.ui);
// the fields are their outlets, by name.
#pragma once

#include <memory>
#include <optional>
#include <string>

class NSBundle;
class NSFileManager;
class QDialog;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QWidget;
namespace Ui {
class installWindow;
class installProgressPanel;
}

class InstallerApp {
public:
    // The installed items, each checked by its presence.
    static constexpr const char* kExtensionsFolder = "/System/Library/Extensions";
    static constexpr const char* kStartupItemsFolder = "/Library/StartupItems";
    static constexpr const char* kPreferencePanesFolder = "/Library/PreferencePanes";
    static constexpr const char* kSysPrefsCache = "~/Library/Caches/com.apple.preferencepanes.cache";

    // Loads the interface files, as the main interface file makes the
    // controller and connects its outlets; the bundle is the installer's.
    explicit InstallerApp(std::shared_ptr<NSBundle> bundle);
    ~InstallerApp();
    InstallerApp(const InstallerApp&) = delete;
    InstallerApp& operator=(const InstallerApp&) = delete;

    void awakeFromNib();

    // ---- actions
    void doInstall();
    void doUninstall();
    void quitInstaller();
    void installSuccessSheetDidEnd(int returnCode);
    void installFailureSheetDidEnd(int returnCode);

    // ---- the checks
    bool uninstallAvailable() const;
    bool packageInstalled() const;
    // The pane's CFBundleShortVersionString among the resources; nothing
    // when absent.
    std::optional<std::string> installVersion() const;

    // Runs the InstallTool as root with the argument; YES when it answered 0.
    bool authenticatedInstall(const std::string& argument);
    void killSysPrefsCache();

    // Whether the progress indicator is animating (tests and pictures).
    bool isProgressAnimating() const;

    // ---- outlets, in the original's order
    QWidget* installWindow = nullptr;
    QTabWidget* installOrUpdate = nullptr;
    QPushButton* installButton = nullptr;
    QPushButton* quitButton = nullptr;
    QPushButton* uninstallButton = nullptr;
    QDialog* installProgressPanel = nullptr;
    QProgressBar* installProgress = nullptr;
    NSFileManager* fileMan = nullptr;

private:
    std::string localized(const std::string& english) const;
    void terminate();
    void beginProgress();
    void endProgress();

    std::shared_ptr<NSBundle> bundle_;
    std::unique_ptr<Ui::installWindow> ui_;
    std::unique_ptr<Ui::installProgressPanel> progressUi_;
};
