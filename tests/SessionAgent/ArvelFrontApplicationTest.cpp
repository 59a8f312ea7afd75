#include "SessionAgentFixture.h"

class TheFrontApplication : public SessionAgentTest {
protected:
    int editor = 0, words = 0, plain = 0, mail = 0;

    TheFrontApplication()
    {
        editor = launch("Editor", "com.example.editor", "ttxt");
        words = launch("Words", "com.example.words", "WRDS");
        plain = launch("Plain", "", "????");
        mail = launch("Mail", "com.apple.mail", "emal");
        world.bringToFront(mail);
        saveSettings(Value::dictionary({{"ApplicationSet", Value::dictionary({
            {"com.example.editor", Value::dictionary({{"ApplicationName", "Editor"}, {"NWCorner", corner(3)}})},
            {"'ttxt'Editor.app", Value::dictionary({{"ApplicationName", "Editor by creator"}, {"NWCorner", corner(4)}})},
            {"'WRDS'Words.app", Value::dictionary({{"ApplicationName", "Words"}, {"NECorner", corner(1, 1 << 16)}})},
            {"Plain.app", Value::dictionary({{"SWCorner", corner(7, 35 | 1 << 16)}})},
        })}}));
        publishDaemon();
        startAgent();
        world.runFor(1);
        takeAgentLines();
    }

    Lines switchTo(int pid)
    {
        world.bringToFront(pid);
        world.runFor(1);
        return takeAgentLines();
    }
};

TEST_F(TheFrontApplication, KeysBySetBundleIdentifierThenCreatorThenBareBundleName)
{
    EXPECT_EQ(switchTo(editor), (Lines {
        "ArvelFrontApplication: Front application switch.",
        "ArvelSessionAgent: Front process key \"com.example.editor\".",
        "ArvelSessionAgent: Custom configuration for application \"Editor\".",
    }));
    EXPECT_EQ(lastSent(), applicationSet(corner(3), corner(0), corner(0), corner(0)));

    // A bundle identifier without a set gives way to the creator form.
    EXPECT_EQ(switchTo(words), (Lines {
        "ArvelFrontApplication: Front application switch.",
        "ArvelSessionAgent: Front process key \"'WRDS'Words.app\".",
        "ArvelSessionAgent: Custom configuration for application \"Words\".",
    }));
    EXPECT_EQ(lastSent(), applicationSet(corner(0), corner(1, 1 << 16), corner(0), corner(0)));

    EXPECT_EQ(switchTo(plain), (Lines {
        "ArvelFrontApplication: Front application switch.",
        "ArvelSessionAgent: Front process key \"Plain.app\".",
        "ArvelSessionAgent: Custom configuration for application \"\".",
    }));
    EXPECT_EQ(lastSent(), applicationSet(corner(0), corner(0), corner(7, 35 | 1 << 16), corner(0)));
}

TEST_F(TheFrontApplication, SendsTheEmptyFormForAnApplicationWithoutASetEvenRightAfterOneWithASet)
{
    switchTo(editor);
    std::size_t sent = sendCount();
    EXPECT_EQ(switchTo(mail), (Lines {
        "ArvelFrontApplication: Front application switch.",
        "ArvelSessionAgent: Front process key \"'emal'Mail.app\".",
        "ArvelSessionAgent: Default configuration for front application.",
    }));
    EXPECT_EQ(lastSent(), emptyForm());
    EXPECT_EQ(sendCount(), sent + 1);
}

TEST_F(TheFrontApplication, SendsNothingWithoutAKeyOrADriver)
{
    std::size_t sent = sendCount();
    int tool = world.launchApplication({"Tool", "", "", "", aliceSession});
    EXPECT_EQ(switchTo(tool), (Lines {
        "ArvelFrontApplication: Front application switch.",
        "ArvelSessionAgent: Unable to determine front process key.",
    }));
    int bundleOnly = world.launchApplication({"Bundle", "com.example.bundle", "/Applications/Bundle.app", "", aliceSession});
    EXPECT_EQ(switchTo(bundleOnly), (Lines {
        "ArvelFrontApplication: Front application switch.",
        "ArvelSessionAgent: Unable to determine front process key.",
    }));
    world.unloadDriver();
    world.runFor(1);
    EXPECT_EQ(switchTo(editor), (Lines {
        "ArvelFrontApplication: Front application switch.",
        "ArvelSessionAgent: Driver is not loaded, no application configuration push.",
    }));
    EXPECT_EQ(sendCount(), sent);
}

TEST_F(TheFrontApplication, ReReadsTheSettingsOnThePrefChangeOfItsOwnSessionBeforePushing)
{
    switchTo(editor);
    saveSettings(Value::dictionary({{"ApplicationSet", Value::dictionary({
        {"com.example.editor", Value::dictionary({{"ApplicationName", "Editor"}, {"SECorner", corner(7, 12 | 1 << 19)}})},
    })}}));
    // Another login session's pane, and a program in none, say so for their own sessions.
    DistributedNotificationCenter bobsPane(aliceSession + 1);
    bobsPane.postNotificationName(kArvelPrefChangeNotification);
    daemonCentre->postNotificationName(kArvelPrefChangeNotification);
    const std::size_t sent = sendCount();
    world.runFor(1);
    EXPECT_EQ(sendCount(), sent);
    EXPECT_EQ(lastSent(), applicationSet(corner(3), corner(0), corner(0), corner(0))) << "nothing changes until alice's pane says so";

    postPrefChange();
    world.runFor(1);
    EXPECT_EQ(lastSent(), applicationSet(corner(0), corner(0), corner(0), corner(7, 12 | 1 << 19)));
}

TEST_F(TheFrontApplication, SendsNothingForAnApplicationThatQuitBeforeTheLookUp)
{
    std::size_t sent = sendCount();
    world.bringToFront(editor);
    world.quitApplication(editor);
    world.runFor(1);
    EXPECT_EQ(takeAgentLines(), (Lines {
        "ArvelFrontApplication: Front application switch.",
        "ArvelSessionAgent: Unable to obtain front process PSN.",
        "ArvelDefaultButton: Unable to obtain switched front process pid.",
    }));
    EXPECT_EQ(sendCount(), sent);
}
