// PrefHostWindow: the preferences host's window and the panes it holds.
//
// Each pane is a bundle (.prefPane): its Info.plist names its principal
// class (NSPrincipalClass) and its code (CFBundleExecutable, a module in
// Contents/MacOS/), which the host loads and whose class it makes with the
// bundle. The host shows one pane at a time: willSelect, the view shown,
// didSelect; hiding it (another pane chosen, or the host quitting)
// didUnselect. A pane that cannot be loaded is named in one line and in
// the window, and the host goes on with the others.
#pragma once

#include <QWidget>

#include <memory>
#include <string>
#include <vector>

class NSBundle;
class NSPreferencePane;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QStackedWidget;

class PrefHostWindow final : public QWidget {
public:
    PrefHostWindow();
    ~PrefHostWindow() override;

    // Loads the pane at a system path; false (with its line and message)
    // when it cannot be loaded.
    bool loadPane(const std::string& path);
    // Every pane in a folder (system path), in name order.
    void loadPanesIn(const std::string& folder);

    // Shows the pane loaded from the path (the first pane when empty).
    bool showPane(const std::string& path = {});
    // Hides the pane shown, as quitting does.
    void hidePane();

    NSPreferencePane* shownPane() const;
    std::size_t paneCount() const { return panes_.size(); }
    // The messages shown for panes that could not be loaded.
    std::string problems() const;

private:
    struct Pane;
    void fail(const std::string& path, const std::string& why);

    std::vector<std::unique_ptr<Pane>> panes_;
    Pane* shown_ = nullptr;
    QHBoxLayout* bar_;
    QLabel* message_;
    QStackedWidget* views_;
    std::vector<std::string> problems_;
};
