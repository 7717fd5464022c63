#pragma once

#include <QIcon>
#include <QImage>
#include <QString>

namespace vantrel {

// The program's window icon, drawn at 32 and 16 pixels: three rising bars on a dark tile.
QIcon appIcon();

// The same drawing at any size, and as SVG: the installed icons are made from these
// at build time, so the menu's icon and the window's never drift apart.
QImage drawAppIcon(int size);
QString appIconSvg();

} // namespace vantrel
