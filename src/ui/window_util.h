#pragma once

// Small helpers shared by every window of the desktop app: the caption font,
// the fixed dialog frame and sizing by the outer (frame) size.

#include <QFont>
#include <QSize>
#include <Qt>

class QWidget;

namespace vantorel::gui {

// The windows are designed around "微软雅黑"; where it is not installed the
// nearest CJK sans face takes its place so that the captions never fall back
// to a font without Chinese glyphs.
QFont uiFont(int pixelSize, bool bold = false);

// Gives `window` and every control in it `font`. Set on the window alone, the
// font would not reach the controls the skin's style sheet draws.
void setFontThroughout(QWidget& window, const QFont& font);

// Title bar with a system menu, minimize and close, but no maximize: the frame
// of the fixed-size secondary windows.
Qt::WindowFlags fixedDialogFlags();

// Gives a top-level window the outer size `outer`, frame included wherever
// the platform reports the frame, and centres it on its screen (the primary
// one when it has none yet). `fixed` also locks the size. Done again when
// the window first shows, for window managers that tell the frame only then.
void placeCentred(QWidget& window, QSize outer, bool fixed = false);

} // namespace vantorel::gui
