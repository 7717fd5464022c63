#pragma once

#include <QColor>
#include <QWidget>

namespace vantrel {

// A filled rectangle placed in twips. Its width is kept as the float it was
// set to and only rounded to pixels for drawing, so the graph's arithmetic
// reads back exactly what it wrote.
class TwipShape : public QWidget {
    Q_OBJECT
public:
    TwipShape(float left, float top, float width, float height, const QColor& fill, bool border,
        QWidget* parent = nullptr);

    float twipLeft() const { return m_left; }
    float twipWidth() const { return m_width; }
    void setTwipWidth(float width);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void place();

    float m_left;
    float m_top;
    float m_width;
    float m_height;
    QColor m_fill;
    bool m_border;
};

} // namespace vantrel
