#include "app/secondary_windows.h"

#include "app/main_window.h"
#include "settings/settings_window.h"
#include "ui/records_window.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QToolBar>
#include <algorithm>
#include <memory>

namespace vantorel::gui {

void placeBelowToolbar(QWidget& window, const MainWindow& main) {
    const QScreen* screen =
        main.screen() != nullptr ? main.screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    const QRect area = screen->availableGeometry();
    const QToolBar* toolbar = main.toolbar();
    const int below = toolbar->mapToGlobal(QPoint(0, toolbar->height())).y() + 8;
    const QRect outer = window.frameGeometry();
    const QRect inner = window.geometry();
    const QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(),
                         outer.right() - inner.right(), outer.bottom() - inner.bottom());
    const int top = std::clamp(below, area.top(), std::max(area.top(), area.bottom() - 200));
    const int height =
        std::max(window.minimumHeight(),
                 std::min(window.height(), area.bottom() + 1 - top - frame.top() - frame.bottom()));
    const int width = std::min(window.width(), area.width() - frame.left() - frame.right());
    window.resize(std::max(width, window.minimumWidth()), height);
    const int left = area.left() + std::max(0, (area.width() - window.frameGeometry().width()) / 2);
    window.move(left, top);
}

void installSecondaryWindows(MainWindow& window, RecordStore& ledger, const QString& dataDir) {
    // One records window at a time; 管理 brings it to the front again.
    auto records = std::make_shared<QPointer<RecordsWindow>>();
    window.setDialogOpener(kManageButton, [&ledger, &window, records](QWidget* parent) {
        if (*records != nullptr) {
            (*records)->raise();
            (*records)->activateWindow();
            return;
        }
        auto* dialog = new RecordsWindow(ledger, parent);
        dialog->setShareWork(&window.shareWork());
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        *records = dialog;
        dialog->show();
        placeBelowToolbar(*dialog, window);
    });
    window.setDialogOpener(kSettingsButton, [dataDir](QWidget* parent) {
        SettingsWindow dialog(dataDir, parent);
        dialog.exec();
    });
}

} // namespace vantorel::gui
