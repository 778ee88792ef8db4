#pragma once

// The program-wide values of one run of the desktop app, made at start and
// released by exitCleanup when the main window has gone.

#include "base/expected.h"
#include "netdisk/netdisk_client.h"
#include "records/record_set.h"
#include "records/record_store.h"
#include "settings/share_options.h"

#include <QString>
#include <QStringList>
#include <QUrl>
#include <filesystem>
#include <optional>

namespace vantorel::gui {

// The app's command-line options, as given; unset when not given.
struct AppOptions {
    std::optional<QString> dataDir; // --data-dir
    std::optional<QString> origin;  // --origin: scheme and host (and port) of the service
    std::optional<QString> caFile;  // --ca-file: extra CA certificates for the service
    bool help = false;              // --help
    bool version = false;           // --version
};

// Reads the options from the program's arguments (the program name first).
// --help and --version are only noted; the caller answers them. A malformed
// origin is an error here, so that the program never starts on one.
Expected<AppOptions> parseAppOptions(const QStringList& arguments);

// The text of --help.
QString appOptionsHelp();

struct ProgramState {
    AppOptions options;
    QString dataDir;               // where linkledger.db, set.ini and the browser profile live
    ConnectionSettings connection; // the service origin and the extra CA file of every request
    QString dbPath; // dataDir + "/linkledger.db", set by the main window's created handler
    // The options of the last share start, kept when a later start rejects
    // set.ini; what a missing set.ini gives before the first one.
    ShareOptions shareOptions;
    // The ledger, connected by the main window's created handler; shared by
    // the share run and the records window. The last query's result, kept
    // for the records window, is always released before it.
    RecordStore recordStore;
    RecordSet currentRecordSet;
};

// The service origin as the browser takes it.
QUrl browserOrigin(const ProgramState& state);

// A path of the file system from a QString, without a detour through the
// local 8-bit code page.
std::filesystem::path toFilePath(const QString& text);
QString fromFilePath(const std::filesystem::path& path);

// Releases the program-wide values; runs once, after the main window is gone
// and with it the share run. The record set goes before the connection.
void exitCleanup(ProgramState& state);

} // namespace vantorel::gui
