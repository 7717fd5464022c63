#include "windows/ui/form_layout.h"

#include "core/twips.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <cmath>

namespace vantrel {

int px(double twips)
{
    return static_cast<int>(std::lround(twips / kTwipsPerPixel));
}

QRect twipRect(int left, int top, int width, int height)
{
    return { px(left), px(top), px(width), px(height) };
}

QFont formFont(bool bold)
{
    QFont font;
    font.setFamilies({ QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans") });
    font.setPointSizeF(8.25);
    font.setBold(bold);
    return font;
}

QColor formGrey()
{
    return { 224, 224, 224 };
}

void setFormBackground(QWidget* widget)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, formGrey());
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

void setBold(QWidget* widget, bool bold)
{
    QFont font = widget->font();
    font.setBold(bold);
    widget->setFont(font);
}

QLabel* makeLabel(
    QWidget* parent, const QString& name, const QString& text, const QRect& geometry, Qt::Alignment alignment)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(geometry);
    label->setAlignment(alignment);
    return label;
}

QPushButton* placeButton(QPushButton* button, const QString& name, const QRect& geometry)
{
    button->setObjectName(name);
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

QPushButton* makeButton(QWidget* parent, const QString& name, const QString& text, const QRect& geometry)
{
    return placeButton(new QPushButton(text, parent), name, geometry);
}

void yieldOnce()
{
    QCoreApplication::processEvents();
}

} // namespace vantrel
