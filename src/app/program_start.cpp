#include "app/program_start.h"

#include "app/browser_view.h"
#include "app/chinese_locale.h"
#include "app/main_window.h"
#include "app/program_state.h"
#include "app/secondary_windows.h"
#include "app/toolbar_icons.h"
#include "base/data_dir.h"
#include "base/http_request.h"
#include "base/service_origin.h"
#include "ui/ui_wait.h"
#include "ui/window_util.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <optional>
#include <string>

#if defined(__unix__) || defined(__APPLE__)
#include <unistd.h>
#endif

#ifndef VANTOREL_VERSION
#define VANTOREL_VERSION "0"
#endif

namespace vantorel::gui {

namespace {

const QString kLoadFailedText = QStringLiteral("载入启动窗口失败");

void showLoadFailure(const QString& text, const QString& details) {
    std::fprintf(stderr, "vantorel: %s: %s\n", qPrintable(text), qPrintable(details));
    QMessageBox box(QMessageBox::Critical, QStringLiteral("信息："), text, QMessageBox::Ok);
    box.setInformativeText(details);
    box.exec();
}

void reportLoadFailure(const StartHooks& hooks, const QString& details) {
    if (hooks.reportLoadFailure) {
        hooks.reportLoadFailure(kLoadFailedText, details);
    } else {
        showLoadFailure(kLoadFailedText, details);
    }
}

std::optional<std::string> utf8(const std::optional<QString>& text) {
    if (!text) {
        return std::nullopt;
    }
    return text->toStdString();
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

    Expected<std::unique_ptr<MainWindow>> loaded = MainWindow::load(state);
    if (!loaded) {
        reportLoadFailure(hooks, QString::fromStdString(loaded.error().message));
        // The state is left as it is: the process ends right away.
        return -1;
    }
    std::unique_ptr<MainWindow> window = std::move(loaded.value());
    window->onCreated();
    installSecondaryWindows(*window, state.recordStore, state.dataDir);
    QObject::connect(
        window.get(), &MainWindow::programEnding, qApp, [] { QCoreApplication::exit(0); },
        Qt::QueuedConnection);
    window->show();
    if (hooks.onShown) {
        QTimer::singleShot(0, window.get(),
                           [&hooks, &window, &state] { hooks.onShown(*window, state); });
    }

    const int code = QApplication::exec();
    // The window goes first: it stops and joins a share run still going, so
    // the ledger is closed only once nothing writes to it.
    window.reset();
    exitCleanup(state);
    return code;
}

int runProgram(int argc, char** argv, const StartHooks& hooks) {
    prepareBrowserEnvironment();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vantorel"));
    QApplication::setApplicationDisplayName(QStringLiteral("Vantorel"));
    QApplication::setApplicationVersion(QStringLiteral(VANTOREL_VERSION));
    if (!installChineseLocale(app)) {
        std::fputs("vantorel: Qt's Chinese translations are missing (qt6-translations-l10n): "
                   "standard buttons stay in English\n",
                   stderr);
    }

    const Expected<AppOptions> options = parseAppOptions(QApplication::arguments());
    if (!options) {
        std::fprintf(stderr, "vantorel: %s\n", options.error().message.c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(qPrintable(appOptionsHelp()), stdout);
        return 0;
    }
    if (options->version) {
        std::printf("vantorel %s\n", VANTOREL_VERSION);
        return 0;
    }
    Expected<ServiceOrigin> origin = resolveServiceOrigin(utf8(options->origin));
    if (!origin) {
        std::fprintf(stderr, "vantorel: %s\n", origin.error().message.c_str());
        return 2;
    }
    Expected<std::string> caFile = resolveCaFile(utf8(options->caFile));
    if (!caFile) {
        std::fprintf(stderr, "vantorel: %s\n", caFile.error().message.c_str());
        return 2;
    }
    if (const Status trusted = trustExtraCaFile(QString::fromStdString(*caFile)); !trusted) {
        std::fprintf(stderr, "vantorel: --ca-file: %s\n", trusted.error().message.c_str());
        return 2;
    }
    std::optional<std::filesystem::path> dataDirOption;
    if (options->dataDir) {
        dataDirOption = toFilePath(*options->dataDir);
    }
    const Expected<std::filesystem::path> dataDir =
        resolveDataDir(dataDirOption, argc > 0 ? argv[0] : nullptr);
    if (!dataDir) {
        reportLoadFailure(hooks, QString::fromStdString(dataDir.error().message));
        return -1;
    }

    ProgramState state;
    state.options = options.value();
    state.dataDir = fromFilePath(*dataDir);
    state.connection = ConnectionSettings{.origin = std::move(*origin), .caFile = *caFile};
    return programStart(state, hooks);
}

} // namespace vantorel::gui
