#pragma once

// The program-wide values of one run of the desktop app, made at start and
// released by exitCleanup when the main window has gone.

#include "base/expected.h"
#include "records/record_store.h"

#include <QString>
#include <QStringList>
#include <QUrl>

namespace vantorel::gui {

// The service the app talks to unless --origin names another.
inline constexpr const char* kDefaultServiceOrigin = "https://pan.baidu.com";

// The app's command-line options, as given.
struct AppOptions {
    QString dataDir;        // --data-dir
    QString origin;         // --origin: scheme and host (and port) of the service
    QString caFile;         // --ca-file: extra CA certificates for the service
    QString screenshotFile; // --screenshot: save the main window there once loaded, then quit
    bool help = false;      // --help
    bool version = false;   // --version
};

// Reads the options from the program's arguments (the program name first).
// --help and --version are only noted; the caller answers them.
Expected<AppOptions> parseAppOptions(const QStringList& arguments);

// The text of --help.
QString appOptionsHelp();

// Checks an origin: http or https, a host, an optional port and nothing else
// (a lone "/" path is dropped). Gives it back in its normal form.
Expected<QUrl> parseServiceOrigin(const QString& text);

struct ProgramState {
    AppOptions options;
    QString dataDir; // where linkledger.db, set.ini and the browser profile live
    QUrl origin;     // the service origin every page and request uses
    QString caFile;  // CA file handed to the web requests
    QString dbPath;  // dataDir + "/linkledger.db", set by the main window's created handler
    // The ledger at dbPath: one connection for the share run and the records
    // window alike.
    RecordStore ledger;
};

// Releases the program-wide values; runs once, after the main window is gone.
void exitCleanup(ProgramState& state);

} // namespace vantorel::gui
