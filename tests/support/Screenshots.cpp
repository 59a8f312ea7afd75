#include "support/Screenshots.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPixmap>
#include <QStyleFactory>
#include <QWidget>

#include <cstdlib>

namespace screenshots {

void useFixedLook()
{
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
}

QImage windowWithSheet(QWidget* window, QWidget* sheet)
{
    QImage image = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    if (!sheet)
        return image;
    QPixmap drawn = sheet->grab();
    QPainter painter(&image);
    const int x = (image.width() - drawn.width()) / 2;
    painter.fillRect(image.rect(), QColor(0, 0, 0, 40));
    for (int spread = 6; spread > 0; spread -= 2)
        painter.fillRect(QRect(x - spread, 0, drawn.width() + 2 * spread, drawn.height() + spread), QColor(0, 0, 0, 18));
    painter.drawPixmap(x, 0, drawn);
    painter.setPen(QColor(130, 130, 130));
    painter.drawRect(QRect(x, -1, drawn.width() - 1, drawn.height()));
    return image;
}

void save(const std::string& name, const QImage& image)
{
    const char* folder = std::getenv("ARVEL_SCREENSHOT_FOLDER");
    ASSERT_NE(folder, nullptr) << "ARVEL_SCREENSHOT_FOLDER names the folder for the pictures";
    const std::string path = std::string(folder) + "/" + name + ".png";
    EXPECT_TRUE(image.save(QString::fromStdString(path), "PNG")) << path;
}

} // namespace screenshots
