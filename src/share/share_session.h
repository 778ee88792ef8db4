#pragma once

// One share, from the press of the button (or the command) to its end: the
// options of set.ini, the ledger, the login, the page's selection, the run.
// Both front ends go through it; they bring the browser side and the place
// where the user sees what happens, and present what it reports.

#include "base/expected.h"
#include "netdisk/connection.h"
#include "netdisk/login_context.h"
#include "settings/share_options.h"
#include "share/intent_settle.h"
#include "share/share_run.h"

#include <filesystem>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

namespace vantorel {

class RecordStore;

struct SessionSettings {
    std::filesystem::path dataDir; // where set.ini and linkledger.db are
    ConnectionSettings connection;
    // KEY=VALUE settings for this share only, over set.ini (never written).
    std::vector<std::string> overrides;
};

// What the page could say about the selected items.
enum class SelectionState {
    Readable,   // "[]" (nothing selected: the open folder) or an array of items
    FolderOnly, // no selection, but the address names a folder
    Unreadable, // no selection and no folder: nothing to share
};

// A share that may start: everything read and checked.
struct PreparedShare {
    LoginContext login;
    ShareOptions options;
    SelectionState selection = SelectionState::Readable;
    // The folder of the address as the user knows it ("/docs"), for the
    // question whether to share it when the page gave no selection.
    std::string folder;
    // The ledger's lock, taken before the first request and handed to the
    // run; dropping the share releases it.
    std::shared_ptr<LedgerLock> lock;
};

class ShareSession {
public:
    // The ledger is shared with whoever else uses it (the records window);
    // the session opens it when it is not open.
    ShareSession(SessionSettings settings, RecordStore& ledger, ShareObserver& observer);
    ShareSession(const ShareSession&) = delete;
    ShareSession& operator=(const ShareSession&) = delete;

    const SessionSettings& settings() const { return settings_; }

    // Reads set.ini with the overrides. Fails (StartRefusal::BadSettings)
    // with the message to show when the file cannot be read or a value
    // would be refused (an extraction code the service does not take).
    Expected<ShareOptions> readOptions() const;

    // Reads the options, opens the ledger, takes its lock, and gathers the
    // login from the browser side and the token requests; `stop` cuts the
    // requests short. The error's code is a StartRefusal: BadSettings,
    // NoLedger, LedgerInUse (another run, before any request),
    // ServiceUnreachable (no answer, or an error page: nothing is known of
    // the login) or NotLoggedIn. Blocks for the requests, so a window calls
    // it off its own thread (the browser answers taken before).
    Expected<PreparedShare> prepare(BrowserSource& browser, std::stop_token stop);

    // For a page without a selection whose address names a folder: share
    // that whole folder.
    static void shareAddressFolder(PreparedShare& share);

    // Starts the run on its worker thread and returns at once; refuses as
    // ShareRun::start does, and a selection the page could not give.
    Status start(PreparedShare share);

    // Starts a run that shares these records' items afresh (ShareRun's
    // startReshare): the prepared login and options, never a rename.
    Status startReshare(PreparedShare share, std::vector<ReshareItem> items);

    // Settles the intents an earlier run left unsure, with the prepared
    // login and under its lock, as a run does before anything else: for
    // work that compares the ledger with the service's share list (a sync)
    // and must not take an unsure item for one never shared. The error's
    // code is a SettleFailure.
    Expected<SettleReport> settleIntents(PreparedShare& share, std::stop_token stop);

    // As ShareRun's: stop (and join), ask to stop from any thread, wait.
    void stop() { run_.stop(); }
    void requestStop() { run_.requestStop(); }
    void wait() { run_.wait(); }
    bool running() const { return run_.running(); }
    RunSummary summary() const { return run_.summary(); }

private:
    SessionSettings settings_;
    RecordStore& ledger_;
    ShareRun run_;
};

} // namespace vantorel
