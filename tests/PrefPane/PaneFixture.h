// The pane's tests: alice at the console of a machine with the driver
// loaded, the daemon's objects in process, the pane bundle on the disk, the
// pane's view in a window standing for the host's, all on the virtual
// clock and offscreen. The verbs drive the pane's widgets by outlet name,
// as a person would.
#pragma once

#include "AppKitGUI/Controls.h"
#include "AppKitGUI/GUIApplication.h"
#include "PrefPane/ArvelPref.h"
#include "support/MachineHarness.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class DistributedNotificationCenter;
class QWidget;

class PaneTest : public ::testing::Test {
protected:
    using Lines = std::vector<std::string>;
    static constexpr const char* kPanePath = "/Library/PreferencePanes/Arvel.prefPane";

    PaneTest();
    ~PaneTest() override;

    // The daemon's two objects, published as root.
    void startDaemon();
    // The bundle as installed (with a keycap table unless told otherwise).
    void writeBundle(bool keycaps = true);
    // Loads the pane (mainViewDidLoad) into the window.
    void loadPane();
    // willSelect, then didSelect (which may run a sheet modally).
    void showPane();
    void hidePane() { pane->didUnselect(); }

    // Runs `action` that many virtual seconds from now, in every mode:
    // inside a modal run too, as a person's click would come.
    void at(double seconds, std::function<void()> action);

    // ---- widgets by outlet name (the main view and the two sheets)
    QWidget* outlet(const std::string& name) const;
    void click(const std::string& name);
    // Chooses an item as a person can: a disabled one is not taken.
    void choose(const std::string& name, int index);
    // Drags a slider to a value.
    void slide(const std::string& name, int value);
    bool isEnabled(const std::string& name) const;
    TextColour textColour(const std::string& name) const;
    std::string text(const std::string& name) const;

    // What the machine shows ("show windows"), and pressing as its
    // operator does.
    std::string windows();
    void press(const std::string& title);

    // The pane's lines so far.
    Lines paneLines() const;

    MachineHarness world;
    std::unique_ptr<GUIApplication> application;
    std::unique_ptr<QWidget> window;
    std::unique_ptr<ArvelPref> pane;
    std::vector<std::shared_ptr<void>> daemonObjects;
    int paneProcess = 0;
    std::vector<std::shared_ptr<Timer>> actions;
};
