#include "windows/ui/app_icon.h"

#include <QPainter>
#include <QPixmap>

namespace vantrel {

namespace {

struct Cell {
    int x, y, w, h;
    QRgb colour;
};

// Drawn on a 16-unit grid and scaled, so every size shares one picture. The colours
// are all from the classic 16-colour palette. Later cells paint over earlier ones.
constexpr Cell kCells[] = {
    { 0, 0, 16, 16, 0xff000000 },
    { 1, 1, 14, 14, 0xff808080 },
    { 2, 2, 12, 12, 0xff000000 },
    { 3, 9, 3, 4, 0xff00ff00 },
    { 7, 6, 3, 7, 0xffffff00 },
    { 11, 3, 2, 10, 0xffff0000 },
    { 3, 13, 10, 1, 0xffffffff },
};

} // namespace

QImage drawAppIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setPen(Qt::NoPen);
    const qreal u = size / 16.0;
    for (const Cell& c : kCells) {
        p.setBrush(QColor::fromRgba(c.colour));
        p.drawRect(QRectF(c.x * u, c.y * u, c.w * u, c.h * u));
    }
    return image;
}

QString appIconSvg()
{
    QString svg = QStringLiteral(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" viewBox=\"0 0 16 16\" "
        "shape-rendering=\"crispEdges\">\n");
    for (const Cell& c : kCells)
        svg += QStringLiteral("  <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"%5\"/>\n")
                   .arg(c.x)
                   .arg(c.y)
                   .arg(c.w)
                   .arg(c.h)
                   .arg(QColor::fromRgba(c.colour).name());
    return svg + QStringLiteral("</svg>\n");
}

QIcon appIcon()
{
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(drawAppIcon(32)));
    icon.addPixmap(QPixmap::fromImage(drawAppIcon(16)));
    return icon;
}

} // namespace vantrel
