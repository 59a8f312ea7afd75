// Pictures of the installer for the README: its window for a new install
// and for an update, the progress sheet while the tool runs, and the
// success sheet; offscreen, in fixed fonts and a fixed style. A sheet is
// drawn where it sits, hanging from the top of the window. Each picture is
// also a check that the state it shows is the one it is named for.
//
// Run by scripts/screenshots (ARVEL_SCREENSHOT_FOLDER names the folder).
#include "InstallerFixture.h"

#include "AppKitGUI/WindowReporter.h"
#include "support/Screenshots.h"

#include <gmock/gmock.h>

#include <QApplication>
#include <QDialog>
#include <QPushButton>


using ::testing::HasSubstr;

namespace {

class InstallerScreenshots : public InstallerTest {
protected:
    InstallerScreenshots() { screenshots::useFixedLook(); }

    void save(const std::string& name, QWidget* sheet = nullptr)
    {
        screenshots::save(name, screenshots::windowWithSheet(installer->installWindow, sheet));
    }

    QWidget* alert()
    {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->isVisible() && widget->property(WindowReporter::kKindProperty).toString() == QStringLiteral("alert"))
                return widget;
        return nullptr;
    }
};

TEST_F(InstallerScreenshots, TheWindowForANewInstallAndItsSheets)
{
    start();
    EXPECT_EQ(installer->installButton->text().toStdString(), "Install");
    save("installer-new-install");
    tool([&](const std::vector<std::string>&) {
        EXPECT_TRUE(installer->isProgressAnimating());
        save("installer-progress", installer->installProgressPanel);
        for (const char* item : {kKext, kStartupItem, kPane})
            place(item);
        return 0;
    });
    authorizeAt(1);
    installer->installButton->click();
    EXPECT_THAT(windows(), HasSubstr("\"Installation Successful\""));
    QWidget* shown = alert();
    ASSERT_NE(shown, nullptr);
    save("installer-success", shown);
}

TEST_F(InstallerScreenshots, TheWindowForAnUpdate)
{
    for (const char* item : {kKext, kStartupItem, kPane})
        place(item);
    start();
    EXPECT_EQ(installer->installButton->text().toStdString(), "Update");
    save("installer-update");
}

} // namespace
