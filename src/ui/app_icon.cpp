#include "ui/app_icon.h"

#include <QPainter>
#include <QPixmap>

namespace vantrel {

namespace {

// Drawn on a 16-unit grid and scaled, so both sizes share one picture. The colours
// are all from the classic 16-colour palette.
QPixmap drawIcon(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    const qreal u = size / 16.0;
    auto cell = [u](qreal x, qreal y, qreal w, qreal h) { return QRectF(x * u, y * u, w * u, h * u); };

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0));
    p.drawRect(cell(0, 0, 16, 16));
    p.setBrush(QColor(128, 128, 128));
    p.drawRect(cell(1, 1, 14, 14));
    p.setBrush(QColor(0, 0, 0));
    p.drawRect(cell(2, 2, 12, 12));

    p.setBrush(QColor(0, 255, 0));
    p.drawRect(cell(3, 9, 3, 4));
    p.setBrush(QColor(255, 255, 0));
    p.drawRect(cell(7, 6, 3, 7));
    p.setBrush(QColor(255, 0, 0));
    p.drawRect(cell(11, 3, 2, 10));

    p.setBrush(QColor(255, 255, 255));
    p.drawRect(cell(3, 13, 10, 1));
    return pixmap;
}

} // namespace

QIcon appIcon()
{
    QIcon icon;
    icon.addPixmap(drawIcon(32));
    icon.addPixmap(drawIcon(16));
    return icon;
}

} // namespace vantrel
