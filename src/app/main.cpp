#include "app/data_dir_placeholder.h"
#include "app/program_start.h"
#include "app/program_state.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char** argv) {
    using namespace vantorel::gui;

    prepareBrowserEnvironment();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vantorel"));
    QApplication::setApplicationDisplayName(QStringLiteral("Vantorel"));
    QApplication::setApplicationVersion(QStringLiteral(VANTOREL_VERSION));

    const vantorel::Expected<AppOptions> options = parseAppOptions(QApplication::arguments());
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

    ProgramState state;
    state.options = options.value();
    state.dataDir = resolveDataDirPlaceholder(state.options.dataDir);
    state.origin = *parseServiceOrigin(state.options.origin.isEmpty()
                                           ? QString::fromLatin1(kDefaultServiceOrigin)
                                           : state.options.origin);
    state.caFile = state.options.caFile;
    return programStart(state);
}
