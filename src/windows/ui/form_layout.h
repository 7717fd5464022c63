#pragma once

#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>
#include <Qt>

class QLabel;
class QPushButton;
class QWidget;

namespace vantrel {

// Pixels for a length in twips (15 to a pixel), to the nearest pixel. The
// forms are laid out in whole pixels' worth of twips, which this keeps exact;
// the comparison bars' fractional widths are why it rounds.
int px(double twips);

// A rectangle given in twips, each side converted on its own.
QRect twipRect(int left, int top, int width, int height);

// The face of the forms' text: 8.25 pt sans.
QFont formFont(bool bold = false);

// The light grey behind every form.
QColor formGrey();

// Fills the widget's background with the form grey.
void setFormBackground(QWidget* widget);

void setBold(QWidget* widget, bool bold = true);

// QLabel's own alignment unless told otherwise.
QLabel* makeLabel(QWidget* parent, const QString& name, const QString& text, const QRect& geometry,
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter);

// Names and places a button that Enter and Esc never press: the forms have no default button.
QPushButton* placeButton(QPushButton* button, const QString& name, const QRect& geometry);
QPushButton* makeButton(QWidget* parent, const QString& name, const QString& text, const QRect& geometry);

// Lets the windows repaint and take input while a transfer waits.
void yieldOnce();

} // namespace vantrel
