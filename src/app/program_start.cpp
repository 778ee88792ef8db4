#include "app/program_start.h"

#include "app/browser_view.h"
#include "app/main_window.h"
#include "app/program_state.h"
#include "app/toolbar_icons.h"
#include "app/ui_wait.h"
#include "ui/secondary_windows.h"
#include "ui/window_util.h"

#include <QApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QTimer>
#include <QWebEngineLoadingInfo>
#include <cstdio>
#include <cstdlib>

#if defined(__unix__) || defined(__APPLE__)
#include <unistd.h>
#endif

namespace vantorel::gui {

namespace {

void showLoadFailure(const QString& text, const QString& details) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("信息："), text, QMessageBox::Ok);
    box.setInformativeText(details);
    box.exec();
}

// Saves a picture of the window once the first page has settled, then ends
// the program; used to make screenshots without a person at the screen.
void scheduleScreenshot(MainWindow& window, const QString& file) {
    auto taken = std::make_shared<bool>(false);
    const auto take = [&window, file, taken] {
        if (*taken) {
            return;
        }
        *taken = true;
        waitPumping(800); // let the page paint
        const bool saved = window.grab().save(file);
        if (!saved) {
            std::fprintf(stderr, "vantorel: cannot save the screenshot to %s\n", qPrintable(file));
        }
        QCoreApplication::exit(saved ? 0 : 1);
    };
    QObject::connect(window.browserView()->page(), &QWebEnginePage::loadFinished, &window,
                     [take](bool) { QTimer::singleShot(0, take); });
    QTimer::singleShot(30'000, &window, take);
}

} // namespace

void prepareBrowserEnvironment() {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
#if defined(__unix__) || defined(__APPLE__)
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) {
        std::fputs("vantorel: running as root: the browser's sandbox is switched off\n", stderr);
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
#endif
}

int programStart(ProgramState& state, const StartHooks& hooks) {
    QApplication::setWindowIcon(programIcon());
    QFont font = QApplication::font();
    font.setFamilies(uiFont(12).families());
    QApplication::setFont(font);

    Expected<std::unique_ptr<MainWindow>> loaded = MainWindow::load(state, hooks.controller);
    if (!loaded) {
        const QString text = QStringLiteral("载入启动窗口失败");
        const QString details = QString::fromStdString(loaded.error().message);
        if (hooks.reportLoadFailure) {
            hooks.reportLoadFailure(text, details);
        } else {
            showLoadFailure(text, details);
        }
        // The state is left as it is: the process ends right away.
        return -1;
    }
    std::unique_ptr<MainWindow> window = std::move(loaded.value());
    window->onCreated();
    installSecondaryWindows(*window, state.ledger, state.dataDir);
    QObject::connect(
        window.get(), &MainWindow::programEnding, qApp, [] { QCoreApplication::exit(0); },
        Qt::QueuedConnection);
    if (!state.options.screenshotFile.isEmpty()) {
        scheduleScreenshot(*window, state.options.screenshotFile);
    }
    window->show();

    const int code = QApplication::exec();
    // The window (pages, profile, later the run) goes before the state it
    // uses.
    window.reset();
    exitCleanup(state);
    return code;
}

} // namespace vantorel::gui
