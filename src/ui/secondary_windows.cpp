#include "ui/secondary_windows.h"

#include "app/main_window.h"
#include "settings/settings_window.h"
#include "ui/records_window.h"

namespace vantorel::gui {

void installSecondaryWindows(MainWindow& window, RecordStore& ledger, const QString& dataDir) {
    window.setDialogOpener(kManageButton, [&ledger](QWidget* parent) {
        RecordsWindow dialog(ledger, parent);
        dialog.exec();
    });
    window.setDialogOpener(kSettingsButton, [dataDir](QWidget* parent) {
        SettingsWindow dialog(dataDir, parent);
        dialog.exec();
    });
}

} // namespace vantorel::gui
