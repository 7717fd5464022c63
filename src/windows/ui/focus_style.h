#pragma once

#include <QProxyStyle>

namespace vantrel {

// The toolkit's own look, plus a keyboard focus mark that can be seen: a dotted rectangle
// inside a focused button (as classic Windows draws it) and a highlight-coloured frame
// around a focused text box, drop-down or list. Nothing changes on controls without focus.
class FocusStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
        const QWidget* widget) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
        const QWidget* widget) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
        const QWidget* widget) const override;
};

} // namespace vantrel
