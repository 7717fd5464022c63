#include "windows/ui/focus_style.h"

#include <QAbstractItemView>
#include <QPainter>
#include <QStyleOption>

namespace vantrel {

namespace {

bool hasKeyboardFocus(const QStyleOption* option)
{
    return (option->state & QStyle::State_HasFocus) && (option->state & QStyle::State_Enabled);
}

// Pens are in logical pixels, so the marks grow with the scale factor.
void drawDottedRect(QPainter* painter, const QRect& rect, const QColor& color)
{
    painter->save();
    QPen pen(color, 1, Qt::DotLine);
    pen.setCosmetic(false);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5));
    painter->restore();
}

void drawFocusFrame(QPainter* painter, const QRect& rect, const QColor& color)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(QPen(color, 2));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(QRectF(rect).adjusted(1, 1, -1, -1));
    painter->restore();
}

} // namespace

void FocusStyle::drawControl(
    ControlElement element, const QStyleOption* option, QPainter* painter, const QWidget* widget) const
{
    QProxyStyle::drawControl(element, option, painter, widget);
    if (!hasKeyboardFocus(option))
        return;
    if (element == CE_PushButton)
        drawDottedRect(
            painter, option->rect.adjusted(4, 4, -4, -4), option->palette.color(QPalette::ButtonText));
    else if (element == CE_ShapedFrame && qobject_cast<const QAbstractItemView*>(widget))
        drawFocusFrame(painter, option->rect, option->palette.color(QPalette::Highlight));
}

void FocusStyle::drawPrimitive(
    PrimitiveElement element, const QStyleOption* option, QPainter* painter, const QWidget* widget) const
{
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    if (element == PE_FrameLineEdit && hasKeyboardFocus(option))
        drawFocusFrame(painter, option->rect, option->palette.color(QPalette::Highlight));
}

void FocusStyle::drawComplexControl(
    ComplexControl control, const QStyleOptionComplex* option, QPainter* painter, const QWidget* widget) const
{
    QProxyStyle::drawComplexControl(control, option, painter, widget);
    if (control == CC_ComboBox && hasKeyboardFocus(option))
        drawFocusFrame(painter, option->rect, option->palette.color(QPalette::Highlight));
}

} // namespace vantrel
