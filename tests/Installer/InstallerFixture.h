// The installer's tests: alice, an administrator with a password, at the
// console; the installer's bundle on the disk as its package carries it
// (an InstallTool, the pane with its version, the texts); the installer's
// window loaded offscreen on the virtual clock. The tool the machine runs
// as root is the test's own (tool()), which changes the disk as the real
// one would, or not.
#pragma once

#include "AppKitGUI/GUIApplication.h"
#include "Installer/InstallerApp.h"
#include "support/MachineHarness.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class InstallerTest : public ::testing::Test {
public:
    static constexpr const char* kBundle = "/Volumes/Arvel/Arvel Installer.app";
    static constexpr const char* kKext = "/System/Library/Extensions/Arvel.kext";
    static constexpr const char* kStartupItem = "/Library/StartupItems/Arvel";
    static constexpr const char* kPane = "/Library/PreferencePanes/Arvel.prefPane";

protected:
    using Lines = std::vector<std::string>;

    InstallerTest();
    ~InstallerTest() override;

    // Puts an item on the disk (a folder with an Info.plist), or takes it away.
    void place(const std::string& item);
    void remove(const std::string& item);
    bool present(const std::string& item) const;

    // The installer's controller, made from its bundle, awake.
    void start();
    // What the root tool does when the machine runs it: the arguments it
    // was given, and what it answers (its 4-byte result). Without one, the
    // tool installs or removes the three items and answers 0.
    using Tool = std::function<std::int32_t(const std::vector<std::string>& arguments)>;
    void tool(Tool tool) { tool_ = std::move(tool); }
    // The operator's answers to the prompt, `seconds` from now, in every
    // mode (the installer waits in a modal one).
    void at(double seconds, std::function<void()> action);
    void authorizeAt(double seconds, const std::string& password = "secret");

    std::string windows();
    void press(const std::string& title);
    Lines installerLines() const;
    // What the tool was run with, one entry a run.
    std::vector<std::vector<std::string>> toolRuns;

    MachineHarness world;
    std::unique_ptr<GUIApplication> application;
    std::unique_ptr<InstallerApp> installer;
    int installerProcess = 0;
    std::vector<std::shared_ptr<Timer>> actions;
    Tool tool_;
};
