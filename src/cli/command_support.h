#pragma once

// What the command files share: reporting, the data directory and the
// ledger, the login of a command, and the exit status of a refused start.

#include "base/expected.h"
#include "cli/cli_browser.h"
#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/table_output.h"
#include "netdisk/connection.h"
#include "records/record_filter.h"
#include "records/record_store.h"
#include "share/share_run.h"
#include "share/share_session.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel::cli {

class InterruptWatcher;

// "vantorel-cli: MESSAGE" on standard error.
void report(std::string_view message);
// Not logged in: the service's message, then the ways to give a login.
void reportNotLoggedIn(bool loginGiven);

Expected<std::filesystem::path> dataDirectory(const GlobalOptions& global);

// Opens the ledger of the data directory for a records command; prints why
// not and gives the exit status when it cannot.
std::optional<int> openForRecords(const GlobalOptions& global, RecordStore& ledger);

// Every ledger column but the constant "other", as `records list` prints
// them, and one record's cells in that order.
static_assert(kLedgerColumns.back() == "other");
inline constexpr std::span<const std::string_view> listedColumns{kLedgerColumns.data(),
                                                                 kLedgerColumns.size() - 1};
std::vector<std::string> rowOf(const ShareRecord& r);

// A record id as `records list` prints it: decimal digits and nothing else.
Expected<std::int64_t> decimalRecordId(std::string_view text);

// Where the files are and how the service is reached; the error's code is
// the exit status.
Expected<SessionSettings> sessionSettings(const GlobalOptions& global, const ShareCommand& command);
// The browser side of a command: the login and the folder's address; the
// error's code is the exit status.
Expected<CommandLineBrowser> commandLineBrowser(const ShareCommand& command,
                                                const ServiceOrigin& origin, std::string selection);
// The exit status of a share that could not start, its reason reported.
int exitForRefusal(const Error& refused, bool loginGiven);
// The exit status of a run that ended.
int exitFor(const RunSummary& summary, const InterruptWatcher& interrupts);

} // namespace vantorel::cli
