// Controls: what AppKit's controls do that Qt's widgets say otherwise.
//
//   - Text colours of captions and text fields: black, light grey (a
//     caption of a control that is off) and red (a value out of range).
//   - Pop-up buttons (QComboBox) with items enabled one by one: automatic
//     item enabling is a property of the pop-up, and with it off only the
//     code enables or disables an item; a disabled item cannot be chosen.
//   - Matrices of radio cells: a container whose radio buttons are its
//     cells, one per row in column 0.
//   - The NSControl question: which widgets are controls (a tab view is not).
#pragma once

class QComboBox;
class QWidget;

enum class TextColour { Black, LightGrey, Red, Other };

void setTextColour(QWidget* field, TextColour colour);
TextColour textColour(const QWidget* field);
const char* textColourName(TextColour colour);

void setAutoenablesItems(QComboBox* popUp, bool on);
bool autoenablesItems(const QComboBox* popUp);
void setPopUpItemEnabled(QComboBox* popUp, int index, bool enabled);
bool isPopUpItemEnabled(const QComboBox* popUp, int index);

// The selected row of a matrix (-1: none), and selecting the cell at a row.
int selectedRowOfMatrix(const QWidget* matrix);
void selectCellAtRow(QWidget* matrix, int row);

// Whether the widget is a control (a button, a slider, a text field, a
// pop-up, a matrix), not a container such as a tab view.
bool isControl(const QWidget* widget);
