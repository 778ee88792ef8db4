#pragma once

// Small helpers shared by every window of the desktop app: the caption font,
// the dialog frame, and sizing and centring a window on its screen.

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

// Title bar with a system menu, minimize, maximize and close: the frame of
// the secondary windows, which can all be resized down to their minimum.
Qt::WindowFlags dialogFlags();

// Sets the window's minimum size from its layout: at least `minimumWidth`
// wide (or what the layout needs), and as high as the layout needs at that
// width, wrapped texts included, so that no control is cut off however
// small the window is made.
void fitMinimumToLayout(QWidget& window, int minimumWidth = 0);

// Gives a top-level window the outer size `outer` (frame included wherever
// the platform reports the frame), but never less than its layout's minimum
// nor more than its screen's free area, and centres it on its screen (the
// primary one when it has none yet). Done again when the window first shows,
// when the platform knows the frame.
//
// The window is not made native before it is shown: asking a window that has
// a parent for its native handle turns every child of that parent into a
// native window of its own (Qt makes the siblings of a native widget native),
// and the main window's toolbar and status bar would then stop painting
// beside the browser's GPU surface.
void placeCentred(QWidget& window, QSize outer);

} // namespace vantorel::gui
