#include "AppKitGUI/Controls.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QWidget>

namespace {

constexpr const char* kAutoenablesProperty = "arvelAutoenablesItems";
constexpr const char* kMatrixProperty = "arvelMatrix";

QColor colourOf(TextColour colour)
{
    switch (colour) {
    case TextColour::LightGrey: return QColor(170, 170, 170);
    case TextColour::Red: return QColor(204, 0, 0);
    default: return QColor(0, 0, 0);
    }
}

QList<QRadioButton*> cellsOf(const QWidget* matrix)
{
    QList<QRadioButton*> cells = matrix->findChildren<QRadioButton*>();
    // Rows top to bottom, as the interface lays them out.
    std::sort(cells.begin(), cells.end(), [](QRadioButton* a, QRadioButton* b) { return a->y() < b->y(); });
    return cells;
}

} // namespace

void setTextColour(QWidget* field, TextColour colour)
{
    if (!field)
        return;
    QPalette palette = field->palette();
    QColor c = colourOf(colour);
    palette.setColor(QPalette::WindowText, c);
    palette.setColor(QPalette::Text, c);
    // A disabled field keeps the colour it is given: greying is the code's.
    palette.setColor(QPalette::Disabled, QPalette::WindowText, c);
    palette.setColor(QPalette::Disabled, QPalette::Text, c);
    field->setPalette(palette);
}

TextColour textColour(const QWidget* field)
{
    if (!field)
        return TextColour::Other;
    QPalette::ColorRole role = qobject_cast<const QLineEdit*>(field) ? QPalette::Text : QPalette::WindowText;
    QColor c = field->palette().color(QPalette::Active, role);
    for (TextColour colour : {TextColour::Black, TextColour::LightGrey, TextColour::Red})
        if (c == colourOf(colour))
            return colour;
    return TextColour::Other;
}

const char* textColourName(TextColour colour)
{
    switch (colour) {
    case TextColour::Black: return "black";
    case TextColour::LightGrey: return "light grey";
    case TextColour::Red: return "red";
    default: return "other";
    }
}

void setAutoenablesItems(QComboBox* popUp, bool on)
{
    if (popUp)
        popUp->setProperty(kAutoenablesProperty, on);
}

bool autoenablesItems(const QComboBox* popUp)
{
    QVariant value = popUp ? popUp->property(kAutoenablesProperty) : QVariant();
    return !value.isValid() || value.toBool();
}

void setPopUpItemEnabled(QComboBox* popUp, int index, bool enabled)
{
    auto* model = popUp ? qobject_cast<QStandardItemModel*>(popUp->model()) : nullptr;
    if (QStandardItem* item = model ? model->item(index) : nullptr)
        item->setEnabled(enabled);
}

bool isPopUpItemEnabled(const QComboBox* popUp, int index)
{
    auto* model = popUp ? qobject_cast<QStandardItemModel*>(popUp->model()) : nullptr;
    QStandardItem* item = model ? model->item(index) : nullptr;
    return item && item->isEnabled();
}

int selectedRowOfMatrix(const QWidget* matrix)
{
    if (!matrix)
        return -1;
    QList<QRadioButton*> cells = cellsOf(matrix);
    for (int row = 0; row < cells.size(); ++row)
        if (cells[row]->isChecked())
            return row;
    return -1;
}

void selectCellAtRow(QWidget* matrix, int row)
{
    if (!matrix)
        return;
    QList<QRadioButton*> cells = cellsOf(matrix);
    if (row >= 0 && row < cells.size())
        cells[row]->setChecked(true);
}

bool isControl(const QWidget* widget)
{
    if (!widget || qobject_cast<const QTabWidget*>(widget))
        return false;
    return qobject_cast<const QAbstractButton*>(widget) || qobject_cast<const QAbstractSlider*>(widget)
        || qobject_cast<const QComboBox*>(widget) || qobject_cast<const QLineEdit*>(widget) || widget->property(kMatrixProperty).toBool()
        || !widget->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly).isEmpty();
}
