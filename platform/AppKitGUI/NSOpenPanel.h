// NSOpenPanel: choosing a file on the machine's disk, run as a sheet.
//
// The panel browses the machine's disk (system paths, under the disk
// root): folders to open, and the files of the types asked for, which it
// offers for choosing. An application bundle (a folder named "*.app") is a
// file of the types "app" and "APPL", chosen rather than opened. Nothing
// outside the disk root is shown, and a link is not followed out of it.
// The prompt button chooses the selected item (answer 1), Cancel answers 0.
#pragma once

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class QLabel;
class QListWidget;
class QPushButton;

inline constexpr int NSOKButton = 1;
inline constexpr int NSCancelButton = 0;

class NSOpenPanel final : public QDialog {
public:
    // A new panel, owned by whoever shows it (it deletes itself after its
    // sheet ends).
    static NSOpenPanel* openPanel();

    void setPrompt(const std::string& prompt);
    void setAllowsMultipleSelection(bool on) { multiple_ = on; }

    using DidEnd = std::function<void(NSOpenPanel* panel, int returnCode)>;
    // beginSheetForDirectory:file:types:modalForWindow:modalDelegate:didEndSelector:contextInfo:
    // directory empty: the disk's top.
    void beginSheetForDirectoryFileTypesModalForWindow(const std::string& directory, const std::string& file,
        std::vector<std::string> types, QWidget* documentWindow, DidEnd didEnd);

    // The chosen items' system paths.
    std::vector<std::string> filenames() const { return chosen_; }

    // The folder shown (system path) and what it offers, for tests.
    const std::string& directory() const { return directory_; }
    std::vector<std::string> entries() const;
    // Opens a folder of the list, or chooses a file, by its name.
    bool activate(const std::string& name);
    void select(const std::string& name);

private:
    NSOpenPanel();
    void show(const std::string& directory);
    bool offers(const std::string& hostPath, bool isFolder) const;
    void finish(int code);

    QLabel* where_;
    QListWidget* list_;
    QPushButton* prompt_;
    QPushButton* cancel_;
    std::string directory_ = "/";
    std::vector<std::string> types_;
    std::vector<std::string> chosen_;
    DidEnd didEnd_;
    bool multiple_ = false;
};
