#pragma once

// Plugs the records and settings windows into the main window's toolbar.

#include <QString>

class QWidget;

namespace vantorel {
class RecordStore;
}

namespace vantorel::gui {

class MainWindow;

// "管理" opens the records window on `ledger`, beside the main window and not
// modal, so that the toolbar (stop, progress) stays visible and in reach;
// pressed again, it brings the open one to the front. "设置" opens the
// settings window on set.ini in `dataDir` as a modal dialog. The ledger must
// outlive the main window.
void installSecondaryWindows(MainWindow& window, RecordStore& ledger, const QString& dataDir);

// Moves and sizes a shown `window` so that it starts below the main window's
// toolbar and stays on the screen.
void placeBelowToolbar(QWidget& window, const MainWindow& main);

} // namespace vantorel::gui
