#include "windows/compare/twip_shape.h"

#include "windows/ui/form_layout.h"

#include <QPainter>
#include <algorithm>

namespace vantrel {

TwipShape::TwipShape(
    float left, float top, float width, float height, const QColor& fill, bool border, QWidget* parent)
    : QWidget(parent)
    , m_left(left)
    , m_top(top)
    , m_width(width)
    , m_height(height)
    , m_fill(fill)
    , m_border(border)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    place();
}

void TwipShape::setTwipWidth(float width)
{
    m_width = width;
    place();
    update();
}

void TwipShape::place()
{
    const int left = px(m_left);
    // Both edges rounded, so a bar ends where its twips say whatever its start.
    const int right = px(static_cast<double>(m_left) + m_width);
    setGeometry(left, px(m_top), std::max(0, right - left), px(m_height));
}

void TwipShape::paintEvent(QPaintEvent*)
{
    if (width() <= 0 || height() <= 0)
        return;
    QPainter painter(this);
    painter.fillRect(rect(), m_fill);
    if (m_border) {
        painter.setPen(Qt::black);
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

} // namespace vantrel
