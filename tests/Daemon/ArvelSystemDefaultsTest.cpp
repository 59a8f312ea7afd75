#include "Common/ArvelSystemDefaultsProxy.h"
#include "Daemon/ArvelDOServer.h"
#include "Daemon/ArvelSystemDefaults.h"
#include "Paths/DiskRoot.h"
#include "tests/Daemon/DaemonFixture.h"

#include <filesystem>
#include <fstream>

namespace {

Value dict(std::initializer_list<std::pair<const std::string, Value>> entries)
{
    return Value::dictionary(entries);
}

Value calibration(int minX, int minY, int maxX, int maxY)
{
    return dict({{"MinX", minX}, {"MinY", minY}, {"MaxX", maxX}, {"MaxY", maxY}});
}

} // namespace

class TheSystemDefaults : public DaemonTest {
protected:
    std::shared_ptr<ArvelSystemDefaults> store()
    {
        releaseSharedInstances();
        return ArvelSystemDefaults::sharedInstance();
    }
};

TEST_F(TheSystemDefaults, AcceptsOnlyCalibrationsInsideTheDriversRange)
{
    auto defaults = store();
    defaults->setCalibration(calibration(0, 96, 2880, 2304));
    EXPECT_TRUE(defaults->calibration().isNil());
    defaults->setCalibration(calibration(120, 96, 2880, 3001));
    EXPECT_TRUE(defaults->calibration().isNil());
    defaults->setCalibration(dict({{"MinX", 120}, {"MinY", 96}, {"MaxX", 2880}}));
    EXPECT_TRUE(defaults->calibration().isNil());
    defaults->setCalibration(dict({{"MinX", "120"}, {"MinY", 96}, {"MaxX", 2880}, {"MaxY", 2304}}));
    EXPECT_TRUE(defaults->calibration().isNil());
    EXPECT_EQ(defaults->hidProperties(), dict({{"Arvel", Value::dictionary()}}));

    // No order between minimum and maximum is asked for; 3000 is still in.
    Value edge = calibration(3000, 1, 3000, 3000);
    edge.set("Extra", "dropped");
    defaults->setCalibration(edge);
    EXPECT_EQ(defaults->calibration(), calibration(3000, 1, 3000, 3000));
    EXPECT_EQ(defaults->hidProperties(), dict({{"Arvel", dict({{"Calibration", calibration(3000, 1, 3000, 3000)}})}}));
}

TEST_F(TheSystemDefaults, ReadsAStoredCalibrationOutsideTheRangeAsNone)
{
    world.writeSystemSettings(dict({{"PrefsVersion", 4}, {"Calibration", calibration(-1, 96, 4294967295LL, 2304)}}));
    auto defaults = store();
    EXPECT_TRUE(defaults->calibration().isNil());
    EXPECT_FALSE(defaults->preloginHIDProperties()["Arvel"].contains("Calibration"));
    EXPECT_EQ(defaults->preloginHIDProperties()["Arvel"].count(), 21u);
}

TEST_F(TheSystemDefaults, StoresExactlyTheWorkingCopy)
{
    world.writeSystemSettings(dict({{"PrefsVersion", 4}, {"Leftover", 1}}));
    auto defaults = store();
    defaults->setCalibration(calibration(120, 96, 2880, 2304));
    defaults->setLoginwindowTap(true);
    defaults->syncToDisk();
    EXPECT_EQ(world.readSystemSettings(),
        dict({{"PrefsVersion", 4}, {"Calibration", calibration(120, 96, 2880, 2304)}, {"LoginWindowTap", true}}));
    EXPECT_TRUE(defaults->loginwindowTap());
    EXPECT_EQ(defaults->preloginHIDProperties()["Arvel"]["Tap"], dict({{"Action", 1}, {"Gesture", 0}}));
    EXPECT_EQ(defaults->preloginHIDProperties()["Arvel"].count(), 22u);
    EXPECT_TRUE(world.logLines().empty());
}

TEST_F(TheSystemDefaults, ClearsTheStoredCalibrationAtOnce)
{
    world.writeSystemSettings(dict({{"PrefsVersion", 4}, {"Calibration", calibration(120, 96, 2880, 2304)}}));
    auto defaults = store();
    defaults->clearCalibration();
    EXPECT_TRUE(defaults->calibration().isNil());
    EXPECT_EQ(world.readSystemSettings(), dict({{"PrefsVersion", 4}}));
}

TEST_F(TheSystemDefaults, MigratesEarlierVersionsAndStampsThemFour)
{
    Value stored = dict({{"Calibration", calibration(120, 96, 2880, 2304)}, {"LoginWindowTap", true}});

    stored.set("PrefsVersion", 3);
    world.writeSystemSettings(stored);
    store();
    stored.set("PrefsVersion", 4);
    EXPECT_EQ(world.readSystemSettings(), stored);

    stored.set("PrefsVersion", 2);
    world.writeSystemSettings(stored);
    store();
    stored.set("PrefsVersion", 4);
    EXPECT_EQ(world.readSystemSettings(), stored);

    stored.set("PrefsVersion", 1);
    world.writeSystemSettings(stored);
    auto reset = store();
    EXPECT_EQ(world.readSystemSettings(), dict({{"PrefsVersion", 4}}));
    EXPECT_FALSE(reset->loginwindowTap());

    EXPECT_EQ(world.logEntries(), (Entries {notice("ArvelSystemDefaults: Migrating from version 3 preferences."),
                                      notice("ArvelSystemDefaults: Migrating from version 2 preferences."),
                                      notice("ArvelSystemDefaults: Found incompatible preference version 1, resetting preferences.")}));
}

TEST_F(TheSystemDefaults, LeavesCurrentAndLaterVersionsUntouched)
{
    for (int version : {0, 4, 5}) {
        Value stored = dict({{"PrefsVersion", version}, {"Other", "kept"}});
        world.writeSystemSettings(stored);
        auto before = std::filesystem::last_write_time(hostPath(MachineHarness::systemSettingsPath()));
        store();
        EXPECT_EQ(world.readSystemSettings(), stored) << version;
        EXPECT_EQ(std::filesystem::last_write_time(hostPath(MachineHarness::systemSettingsPath())), before);
    }
    EXPECT_TRUE(world.logLines().empty());
}

TEST_F(TheSystemDefaults, SetsAnUnreadableDomainAsideBeforeStampingAnEmptyOne)
{
    std::string path = hostPath(MachineHarness::systemSettingsPath());
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    {
        std::ofstream(path) << "<?xml version=\"1.0\"?><plist><dict><key>Calibration</key>";
    }
    auto defaults = store();
    EXPECT_TRUE(defaults->calibration().isNil());
    EXPECT_EQ(world.readSystemSettings(), dict({{"PrefsVersion", 4}}));
    EXPECT_TRUE(std::filesystem::exists(path + ".unreadable"));
    auto lines = world.logLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0].starts_with("Preferences error: ")) << lines[0];
    EXPECT_EQ(lines[1], "ArvelSystemDefaults error: Unable to load system defaults.");
}

TEST_F(TheSystemDefaults, ReportsAWriteThatOnlyRootMayMake)
{
    auto defaults = store();
    world.clearLog();
    world.machine().setEffectiveUserId(501);
    defaults->setLoginwindowTap(true);
    defaults->syncToDisk();
    world.machine().setEffectiveUserId(0);
    // The refused change stays pending, so reading back cannot synchronize either.
    EXPECT_EQ(world.logLines(), (Lines {"ArvelSystemDefaults error: Unable to save system defaults.",
                                    "ArvelSystemDefaults error: Unable to synchronize system defaults."}));
}

TEST_F(TheSystemDefaults, ServesThePaneThroughItsPublishedName)
{
    auto server = ArvelDOServer::create();
    auto defaults = store();
    ASSERT_TRUE(server->publishObjectWithName(defaults, kArvelSystemDefaultsName));
    auto pane = ArvelSystemDefaultsProxy::proxyForRegisteredName();
    ASSERT_NE(pane, nullptr);
    pane->setCalibration(calibration(130, 100, 2800, 2200));
    pane->setLoginwindowTap(true);
    pane->syncToDisk();
    EXPECT_EQ(world.readSystemSettings(),
        dict({{"PrefsVersion", 4}, {"Calibration", calibration(130, 100, 2800, 2200)}, {"LoginWindowTap", true}}));
    EXPECT_EQ(pane->calibration(), calibration(130, 100, 2800, 2200));
    EXPECT_TRUE(pane->loginwindowTap());
    EXPECT_EQ(pane->hidProperties(), defaults->hidProperties());
    pane->clearCalibration();
    EXPECT_TRUE(defaults->calibration().isNil());

    server.reset();
    EXPECT_TRUE(pane->calibration().isNil());
    EXPECT_FALSE(pane->loginwindowTap());
}
