#pragma once

// Plugs the records and settings windows into the main window's toolbar.

#include <QString>

namespace vantorel {
class RecordStore;
}

namespace vantorel::gui {

class MainWindow;

// "管理" opens the records window on `ledger`, "设置" the settings window on
// set.ini in `dataDir`, each as a modal dialog. The ledger must outlive the
// main window.
void installSecondaryWindows(MainWindow& window, RecordStore& ledger, const QString& dataDir);

} // namespace vantorel::gui
