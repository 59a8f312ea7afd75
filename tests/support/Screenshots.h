// What the README's pictures share: a fixed look, so that they come out the
// same on every machine, a window with its sheet hanging from the top of
// it, and the picture saved in the folder scripts/screenshots names
// (ARVEL_SCREENSHOT_FOLDER).
#pragma once

#include <QImage>

#include <string>

class QWidget;

namespace screenshots {

// The Fusion style and DejaVu Sans 9 for the whole application.
void useFixedLook();
// The window as drawn; with a sheet, the window dims a little behind it and
// the sheet casts a shadow.
QImage windowWithSheet(QWidget* window, QWidget* sheet = nullptr);
// NAME.png in the pictures' folder; a failed test when there is none or the
// picture cannot be written.
void save(const std::string& name, const QImage& image);

} // namespace screenshots
