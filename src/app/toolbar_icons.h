#pragma once

// The toolbar's pictures and the program icon, drawn by the program itself.

#include <QIcon>

namespace vantorel::gui {

// The 32 x 32 picture of toolbar button `index` (0 to 7); a null icon for any
// other index.
QIcon toolbarIcon(int index);

// The program's window icon.
QIcon programIcon();

} // namespace vantorel::gui
