#pragma once

#include <QIcon>

namespace vantrel {

// The program's window icon, drawn at 32 and 16 pixels: three rising bars on a dark tile.
QIcon appIcon();

} // namespace vantrel
