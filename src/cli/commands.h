#pragma once

// The commands of vantorel-cli over the core. Each returns the process exit
// status.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vantorel::cli {

namespace exit_status {
inline constexpr int completed = 0;
inline constexpr int failure = 1;
inline constexpr int usage = 2;
inline constexpr int quota = 3;
inline constexpr int notLoggedIn = 4;
inline constexpr int ledger = 5;
inline constexpr int refused = 6;     // the service refused the account or the session
inline constexpr int ledgerInUse = 7; // another share run holds the ledger
// Ended by a signal: 128 + its number, as a shell reports it.
inline constexpr int interrupted = 130; // SIGINT, Ctrl-C
} // namespace exit_status

struct GlobalOptions {
    std::optional<std::filesystem::path> dataDir;
    std::optional<std::string> origin;
    std::optional<std::string> caFile;
    const char* argv0 = nullptr;
};

struct LoginOptions {
    std::optional<std::string> cookies;
    std::optional<std::filesystem::path> cookieFile;
    // Seconds one request to the service may take; 0: the default (15 s).
    int timeoutSeconds = 0;
};

struct ShareCommand {
    LoginOptions login;
    std::optional<std::string> path;
    std::optional<std::filesystem::path> selectionFile;
    std::vector<std::string> overrides; // KEY=VALUE
};

struct RecordQuery {
    bool failed = false;
    bool shared = false;
    std::string user;
    std::string name;
    std::string since;
    std::string until;
};

int runShare(const GlobalOptions& global, const ShareCommand& command);
int runWhoami(const GlobalOptions& global, const LoginOptions& login);
int runRecordsList(const GlobalOptions& global, const RecordQuery& query,
                   const std::string& format);
int runRecordsExport(const GlobalOptions& global, const RecordQuery& query,
                     const std::filesystem::path& file, const std::string& format,
                     const std::string& columns);
// `ids` as typed: decimal record ids, anything else refused (exit 2).
int runRecordsDelete(const GlobalOptions& global, const std::vector<std::string>& ids);
int runRecordsClear(const GlobalOptions& global, const std::optional<std::string>& confirm);
// `shares`: the ledger's shares on the service (shares_command.cpp).
int runSharesSync(const GlobalOptions& global, const LoginOptions& login);
// `state`: active, expired, blocked or gone; reads the ledger alone.
int runSharesList(const GlobalOptions& global, const std::optional<std::string>& state,
                  const std::string& format);
// Asks for confirmation naming the count unless `yes`; refuses (exit 2)
// without a terminal to ask on.
int runSharesCancel(const GlobalOptions& global, const LoginOptions& login,
                    const std::vector<std::string>& ids, bool expired, bool yes);
int runSharesReshare(const GlobalOptions& global, const LoginOptions& login,
                     const std::vector<std::string>& ids, bool expired, bool gone);
int runSettingsShow(const GlobalOptions& global);
int runSettingsSet(const GlobalOptions& global, const std::string& key, const std::string& value);

} // namespace vantorel::cli
