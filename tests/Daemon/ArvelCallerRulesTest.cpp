// Who may call the daemon's published objects: other programs' proxies, each
// made as its user (the connection takes the user it is made by, as a
// socket takes its peer's credentials), against the daemon's objects
// published as root.
#include "Common/ArvelDriverAccessProxy.h"
#include "Common/ArvelSystemDefaultsProxy.h"
#include "Daemon/ArvelDOServer.h"
#include "Daemon/ArvelDriverAccess.h"
#include "Daemon/ArvelSystemDefaults.h"
#include "tests/Daemon/DaemonFixture.h"

namespace {

Value calibration(int minX, int minY, int maxX, int maxY)
{
    return Value::dictionary({{"MinX", minX}, {"MinY", minY}, {"MaxX", maxX}, {"MaxY", maxY}});
}

const Value kStored = calibration(120, 96, 2880, 2304);
const Value kOther = calibration(100, 50, 900, 700);
const Value kSafari = Value::dictionary({{"ApplicationSet", Value::dictionary({{"NECorner", Value::dictionary({{"Action", 4}})}})}});

std::string refusedChange(const std::string& selector, unsigned uid)
{
    return "ArvelDOServer error: Refused \"" + selector + "\" from UID " + std::to_string(uid)
        + ": only root or the console user may change this.";
}

std::string refusedToAllButRoot(const std::string& selector, unsigned uid)
{
    return "ArvelDOServer error: Refused \"" + selector + "\" from UID " + std::to_string(uid) + ": only root may do this.";
}

} // namespace

class TheDaemonsPublishedObjects : public DaemonTest {
protected:
    TheDaemonsPublishedObjects()
    {
        world.addUser("alice", 501);
        world.addUser("carol", 503);
        world.createHomeFolder("alice");
        world.writeSystemSettings(Value::dictionary({{"PrefsVersion", 4}, {"Calibration", kStored}}));
        world.loadDriver();
        server = ArvelDOServer::create();
        EXPECT_TRUE(server->publishObjectWithName(ArvelDriverAccess::sharedInstance(), kArvelDriverAccessName));
        EXPECT_TRUE(server->publishObjectWithName(ArvelSystemDefaults::sharedInstance(), kArvelSystemDefaultsName));
        world.runFor(1);
        world.login("alice");
        world.clearLog();
    }

    // A proxy of a program running as this user.
    template <class Proxy>
    std::shared_ptr<Proxy> proxyOf(std::uint32_t uid)
    {
        world.runAsUser(uid);
        auto proxy = Proxy::proxyForRegisteredName();
        world.runAsUser(0);
        EXPECT_NE(proxy, nullptr);
        return proxy;
    }

    std::shared_ptr<ArvelDOServer> server;
};

TEST_F(TheDaemonsPublishedObjects, AnswerAStrangersReadsAndRefuseEachOfItsChangesWithOneLine)
{
    auto store = proxyOf<ArvelSystemDefaultsProxy>(503);
    auto driver = proxyOf<ArvelDriverAccessProxy>(503);
    const Value settings = world.readSystemSettings();

    EXPECT_EQ(store->calibration(), kStored);
    EXPECT_FALSE(store->loginwindowTap());
    EXPECT_TRUE(driver->driverAvailable());
    EXPECT_EQ(driver->currentCalibration(), machine::TrackpadDriver::builtInCalibration());
    EXPECT_TRUE(world.logLines().empty());

    store->setCalibration(kOther);
    store->setLoginwindowTap(true);
    store->clearCalibration();
    store->syncFromDisk();
    store->syncToDisk();
    driver->sendDriverProperties(kSafari);
    driver->setCalibrationInProgress(true);
    EXPECT_FALSE(driver->resetDriverObservedGeometry());
    EXPECT_FALSE(driver->resetDriverToDefaultCalibration());
    EXPECT_FALSE(driver->userOnConsole());
    EXPECT_FALSE(driver->userOffConsole());
    EXPECT_EQ(world.logEntries(), (Entries {
                                      error(refusedChange("setCalibration:", 503)),
                                      error(refusedChange("setLoginwindowTap:", 503)),
                                      error(refusedChange("clearCalibration", 503)),
                                      error(refusedChange("syncFromDisk", 503)),
                                      error(refusedChange("syncToDisk", 503)),
                                      error(refusedChange("sendDriverProperties:", 503)),
                                      error(refusedChange("setCalibrationInProgress:", 503)),
                                      error(refusedChange("resetDriverObservedGeometry", 503)),
                                      error(refusedChange("resetDriverToDefaultCalibration", 503)),
                                      error(refusedToAllButRoot("userOnConsole", 503)),
                                      error(refusedToAllButRoot("userOffConsole", 503)),
                                  }));

    EXPECT_EQ(world.readSystemSettings(), settings);
    EXPECT_EQ(ArvelSystemDefaults::sharedInstance()->calibration(), kStored);
    EXPECT_FALSE(ArvelSystemDefaults::sharedInstance()->loginwindowTap());
    EXPECT_TRUE(world.driver().calls().empty());
    EXPECT_TRUE(world.driver().lastApplicationProperties().isNil());
}

TEST_F(TheDaemonsPublishedObjects, LetTheConsoleUserChangeTheSettingsAndTheDriverButNotSayWhoIsOnTheConsole)
{
    auto store = proxyOf<ArvelSystemDefaultsProxy>(501);
    auto driver = proxyOf<ArvelDriverAccessProxy>(501);
    auto stranger = proxyOf<ArvelSystemDefaultsProxy>(503);

    // A stranger's reload would throw away the edit the pane has not saved yet.
    store->setCalibration(kOther);
    stranger->syncFromDisk();
    store->syncToDisk();
    driver->sendDriverProperties(kSafari);
    driver->setCalibrationInProgress(true);
    EXPECT_FALSE(driver->userOffConsole());

    EXPECT_EQ(world.logEntries(),
        (Entries {error(refusedChange("syncFromDisk", 503)), error(refusedToAllButRoot("userOffConsole", 501))}));
    EXPECT_EQ(world.readSystemSettings()["Calibration"], kOther);
    EXPECT_EQ(world.driver().lastApplicationProperties(), kSafari);
    EXPECT_TRUE(world.driver().calibrationMode());
    EXPECT_EQ(world.driver().userOnConsole(), std::nullopt);
}

TEST_F(TheDaemonsPublishedObjects, LetOnlyRootChangeAnythingOnceTheConsoleUserHasLeft)
{
    auto alice = proxyOf<ArvelDriverAccessProxy>(501);
    auto root = proxyOf<ArvelDriverAccessProxy>(0);
    world.showLoginWindow();

    alice->sendDriverProperties(kSafari);
    EXPECT_TRUE(world.driver().lastApplicationProperties().isNil());
    EXPECT_TRUE(root->userOffConsole());
    root->sendDriverProperties(kSafari);

    EXPECT_EQ(world.logEntries(), (Entries {error(refusedChange("sendDriverProperties:", 501))}));
    EXPECT_EQ(world.driver().userOnConsole(), false);
    EXPECT_EQ(world.driver().lastApplicationProperties(), kSafari);
}

TEST_F(TheDaemonsPublishedObjects, AreTheOnlyObjectsTheirClientsTalkTo)
{
    // Another user's program took the daemon's name before the daemon could.
    server.reset();
    world.runAsUser(503);
    auto impostor = ArvelDOServer::create();
    ASSERT_TRUE(impostor->publishObjectWithName(ArvelSystemDefaults::sharedInstance(), kArvelSystemDefaultsName));
    world.runAsUser(501);
    world.clearLog();

    EXPECT_EQ(ArvelSystemDefaultsProxy::proxyForRegisteredName(), nullptr);
    EXPECT_EQ(world.logEntries(), (Entries {error("Connection error: \"com.tessmoor.Arvel.DaemonSystemDefaults\" is owned by UID 503, "
                                                  "not root; not using it.")}));
    world.runAsUser(0);
}
