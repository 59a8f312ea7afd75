// Pictures of the installer for the README: its window for a new install
// and for an update, the progress sheet while the tool runs, and the
// success sheet; offscreen, in fixed fonts and a fixed style. A sheet is
// drawn where it sits, hanging from the top of the window. Each picture is
// also a check that the state it shows is the one it is named for.
//
// Run by scripts/screenshots (ARVEL_SCREENSHOT_FOLDER names the folder).
#include "InstallerFixture.h"

#include "AppKitGUI/WindowReporter.h"

#include <gmock/gmock.h>

#include <QApplication>
#include <QDialog>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QStyleFactory>

#include <cstdlib>

using ::testing::HasSubstr;

namespace {

class InstallerScreenshots : public InstallerTest {
protected:
    InstallerScreenshots()
    {
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
    }

    void save(const std::string& name, QWidget* sheet = nullptr)
    {
        const char* folder = std::getenv("ARVEL_SCREENSHOT_FOLDER");
        ASSERT_NE(folder, nullptr) << "ARVEL_SCREENSHOT_FOLDER names the folder for the pictures";
        QImage image = installer->installWindow->grab().toImage().convertToFormat(QImage::Format_RGB32);
        if (sheet) {
            QPixmap drawn = sheet->grab();
            QPainter painter(&image);
            const int x = (image.width() - drawn.width()) / 2;
            painter.fillRect(image.rect(), QColor(0, 0, 0, 40));
            for (int spread = 6; spread > 0; spread -= 2)
                painter.fillRect(QRect(x - spread, 0, drawn.width() + 2 * spread, drawn.height() + spread), QColor(0, 0, 0, 18));
            painter.drawPixmap(x, 0, drawn);
            painter.setPen(QColor(130, 130, 130));
            painter.drawRect(QRect(x, -1, drawn.width() - 1, drawn.height()));
        }
        const std::string path = std::string(folder) + "/" + name + ".png";
        EXPECT_TRUE(image.save(QString::fromStdString(path), "PNG")) << path;
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
