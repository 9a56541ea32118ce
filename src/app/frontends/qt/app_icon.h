// The application icon, built into the program from the PNG files that
// tools/make_icons.py draws.
#pragma once

#include <QIcon>

namespace torvane {

// The icon with its 16, 32 and 48 pixel images.
QIcon LoadAppIcon();

// The icon's standard size, drawn in the about box (32 x 32).
inline constexpr int kStandardIconSize = 32;

}  // namespace torvane
