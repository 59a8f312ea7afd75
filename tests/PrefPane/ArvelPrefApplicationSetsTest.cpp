// Application sets: the three kinds of ID an application chosen in the
// open sheet gives, the sorted pop-up, removing, and the corners a set
// edits.
#include "PaneFixture.h"

#include "AppKitGUI/NSOpenPanel.h"
#include "Foundation/PropertyList.h"
#include "Paths/DiskRoot.h"
#include "machine/ApplicationBundle.h"

#include <QComboBox>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class ArvelPrefApplicationSets : public PaneTest {
protected:
    void show(const Value& settings = Value::dictionary())
    {
        world.writeSystemSettings(
            Value::dictionary({{"PrefsVersion", 4}, {"Calibration", Value::dictionary({{"MinX", 1}, {"MinY", 1}, {"MaxX", 900}, {"MaxY", 900}})}}));
        world.writeUserSettings("alice", settings);
        world.setAccessibility(true);
        startDaemon();
        loadPane();
        showPane();
    }
    void app(const std::string& path, const std::string& identifier = {}, const std::string& creator = {})
    {
        std::string problem;
        ASSERT_TRUE(machine::ApplicationBundle::layOut(path, identifier, creator, &problem)) << problem;
    }
    // Add, then pick the application in the open sheet as a person would.
    void add(const std::string& folder, const std::string& name)
    {
        click("applicationSetAdd");
        auto* panel = dynamic_cast<NSOpenPanel*>(application->attachedSheet(window.get()));
        ASSERT_NE(panel, nullptr);
        ASSERT_TRUE(panel->activate(folder + "/"));
        ASSERT_TRUE(panel->activate(name));
    }
    std::vector<std::string> items() const
    {
        auto* popUp = qobject_cast<QComboBox*>(outlet("applicationSet"));
        std::vector<std::string> out;
        for (int i = 2; i < popUp->count(); ++i)
            out.push_back(popUp->itemText(i).toStdString() + (isPopUpItemEnabled(popUp, i) ? "" : " (disabled)"));
        return out;
    }
    int selected() const { return qobject_cast<QComboBox*>(outlet("applicationSet"))->currentIndex(); }
    Value sets() const
    {
        return readPropertyList(hostPath("/Users/alice/Library/Preferences/com.tessmoor.Arvel.plist")).value["ApplicationSet"];
    }
};

TEST_F(ArvelPrefApplicationSets, AChosenApplicationIsKeyedByIdentifierElseQuotedCreatorElseFileName)
{
    app("/Applications/Safari.app", "com.apple.Safari", "sfri");
    app("/Applications/Old.app", "", "ABCD");
    app("/Applications/Plain.app", "", "????");
    show();
    EXPECT_THAT(items(), ElementsAre("No custom application settings (disabled)"));
    add("Applications", "Safari.app");
    add("Applications", "Old.app");
    add("Applications", "Plain.app");
    // Again: still one set for it.
    add("Applications", "Safari.app");
    EXPECT_EQ(sets(), Value::dictionary({{"com.apple.Safari", Value::dictionary({{"ApplicationName", "Safari.app"}})},
                          {"'ABCD'Old.app", Value::dictionary({{"ApplicationName", "Old.app"}})},
                          {"Plain.app", Value::dictionary({{"ApplicationName", "Plain.app"}})}}));
    EXPECT_THAT(items(), ElementsAre("Old", "Plain", "Safari"));
    EXPECT_EQ(selected(), 4);
    EXPECT_TRUE(isEnabled("applicationSetRemove"));
    EXPECT_THAT(paneLines(), IsEmpty());
}

TEST_F(ArvelPrefApplicationSets, ThePopUpSortsByNameShowsAnEmptyNameAsItsIDAndShowingSelectsTheDefaults)
{
    auto set = [](const char* name) { return Value::dictionary({{"ApplicationName", name}}); };
    show(Value::dictionary({{"ApplicationSet", Value::dictionary({{"b", set("beta")}, {"a", set("Alpha")}, {"g", set("gamma")},
                                                   {"m", set("Mail.app")}, {"com.example.nameless", set("")}})}}));
    // An empty name sorts first and shows as the ID.
    EXPECT_THAT(items(), ElementsAre("com.example.nameless", "Alpha", "beta", "gamma", "Mail"));
    EXPECT_EQ(selected(), 0);
    EXPECT_FALSE(isEnabled("applicationSetRemove"));
    choose("applicationSet", 3);
    EXPECT_TRUE(isEnabled("applicationSetRemove"));
    hidePane();
    showPane();
    EXPECT_EQ(selected(), 0);
}

TEST_F(ArvelPrefApplicationSets, ASelectedSetEditsItsOwnCornersAndRemovingTheLastLeavesTheEmptyItem)
{
    app("/Applications/Safari.app", "com.apple.Safari");
    show(Value::dictionary({{"NWCorner", Value::dictionary({{"Action", 4}})}}));
    add("Applications", "Safari.app");
    EXPECT_EQ(qobject_cast<QComboBox*>(outlet("nwCornerAction"))->currentIndex(), 0);
    choose("nwCornerAction", 6);
    slide("cornerSize", 12);
    EXPECT_EQ(sets()["com.apple.Safari"]["NWCorner"], Value::dictionary({{"Action", 5}}));
    choose("applicationSet", 0);
    EXPECT_EQ(qobject_cast<QComboBox*>(outlet("nwCornerAction"))->currentIndex(), 5);
    EXPECT_FALSE(isEnabled("applicationSetRemove"));
    pane->removeApplicationSet(nullptr);
    choose("applicationSet", 2);
    click("applicationSetRemove");
    EXPECT_EQ(sets(), Value::dictionary());
    EXPECT_THAT(items(), ElementsAre("No custom application settings (disabled)"));
    EXPECT_EQ(selected(), 0);
    EXPECT_FALSE(isEnabled("applicationSetRemove"));
    EXPECT_EQ(readPropertyList(hostPath("/Users/alice/Library/Preferences/com.tessmoor.Arvel.plist")).value["CornerSize"], Value(12));
    EXPECT_THAT(paneLines(), ElementsAre("ArvelPref error: Remove called on non-application item."));
}

TEST_F(ArvelPrefApplicationSets, ACancelledOrEmptyChoiceChangesNothing)
{
    app("/Applications/Safari.app", "com.apple.Safari");
    show();
    click("applicationSetAdd");
    auto* panel = dynamic_cast<NSOpenPanel*>(application->attachedSheet(window.get()));
    ASSERT_NE(panel, nullptr);
    EXPECT_THAT(panel->entries(), ::testing::Contains("Applications/"));
    press("Cancel");
    world.runFor(0);
    EXPECT_TRUE(sets().isNil() || sets() == Value::dictionary());
    pane->applicationSelectPanelDidEnd(nullptr, NSOKButton);
    EXPECT_THAT(items(), ElementsAre("No custom application settings (disabled)"));
    EXPECT_THAT(paneLines(), ElementsAre("ArvelPref error: Empty selected path."));
}

} // namespace
