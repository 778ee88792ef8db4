// `vantorel-cli shares`: the ledger's shares against the service's share
// list: sync their states, list them by state, cancel them, share afresh
// the items whose links died.

#include "base/time_text.h"
#include "cli/command_support.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "netdisk/netdisk_client.h"
#include "records/share_states.h"
#include "share/share_sync.h"

#include <cstdio>
#include <iostream>
#include <memory>
#include <unistd.h>

namespace vantorel::cli {
namespace {

// Record ids as typed, each a decimal number; the error's code is the exit
// status.
Expected<std::vector<std::int64_t>> parseIds(const std::vector<std::string>& texts) {
    std::vector<std::int64_t> ids;
    for (const std::string& text : texts) {
        auto id = decimalRecordId(text);
        if (!id)
            return Error{id.error().message, exit_status::usage};
        ids.push_back(*id);
    }
    return ids;
}

// The named ids, then those of the ledger's records in each of `states`.
Expected<std::vector<std::int64_t>> chosenIds(RecordStore& ledger,
                                              const std::vector<std::string>& texts,
                                              const std::vector<ShareState>& states) {
    auto ids = parseIds(texts);
    if (!ids)
        return ids;
    for (const ShareState state : states) {
        auto inState = recordIdsInState(ledger, state);
        if (!inState)
            return Error{inState.error().message, exit_status::ledger};
        ids->insert(ids->end(), inState->begin(), inState->end());
    }
    return ids;
}

// Progress of a sync or a cancel on standard error: redrawn on a terminal,
// nothing between the start and the summary otherwise.
class SyncProgress final : public ShareSyncObserver {
public:
    explicit SyncProgress(bool terminal) : terminal_(terminal) {}
    ~SyncProgress() override {
        if (drawn_)
            std::fputc('\n', stderr);
    }
    void syncPageStored(int page, std::size_t listed, std::size_t matched) override {
        draw("同步: 第 " + std::to_string(page) + " 页, " + std::to_string(listed) + " 个分享, " +
             std::to_string(matched) + " 条记录已对上");
    }
    void cancelBatchDone(std::size_t cancelled, std::size_t total) override {
        draw("取消: " + std::to_string(cancelled) + "/" + std::to_string(total));
    }

private:
    void draw(const std::string& line) {
        if (!terminal_)
            return;
        std::fprintf(stderr, "\r\x1b[K%s", line.c_str());
        std::fflush(stderr);
        drawn_ = true;
    }
    bool terminal_;
    bool drawn_ = false;
};

// A command that talks to the service with the login of `share`: the
// session's ledger, settings and login, and Ctrl-C cutting it short.
class ServiceCommand {
public:
    ServiceCommand(const GlobalOptions& global, const LoginOptions& login)
        : global_(global), observer_(stdout, stderr, isatty(STDERR_FILENO) != 0) {
        command_.login = login;
    }

    // Opens the ledger and reads the chosen ids into `ids`: those typed,
    // then those of the records in each of `states`. The exit status when
    // it cannot, its reason reported.
    std::optional<int> choose(const std::vector<std::string>& texts,
                              const std::vector<ShareState>& states,
                              std::vector<std::int64_t>& ids) {
        if (auto failed = openForRecords(global_, ledger_))
            return failed;
        auto chosen = chosenIds(ledger_, texts, states);
        if (!chosen) {
            report(chosen.error().message);
            return chosen.error().code;
        }
        ids = std::move(*chosen);
        return std::nullopt;
    }
    RecordStore& ledger() { return ledger_; }

    // Gathers the login; the exit status when there is none.
    std::optional<int> logIn() {
        auto settings = sessionSettings(global_, command_);
        if (!settings) {
            report(settings.error().message);
            return settings.error().code;
        }
        connection_ = settings->connection;
        auto browser = commandLineBrowser(command_, connection_.origin, "[]");
        if (!browser) {
            report(browser.error().message);
            return browser.error().code;
        }
        session_ = std::make_unique<ShareSession>(std::move(*settings), ledger_, observer_);
        interrupts_.onInterrupt([this] {
            stop_.request_stop();
            session_->requestStop();
        });
        auto prepared = session_->prepare(*browser, stop_.get_token());
        if (interrupts_.interrupted())
            return interrupts_.exitStatus();
        if (!prepared)
            return exitForRefusal(prepared.error(), browser->loginGiven());
        loginGiven_ = browser->loginGiven();
        prepared_ = std::move(*prepared);
        return std::nullopt;
    }

    ~ServiceCommand() { interrupts_.onInterrupt({}); }

    std::unique_ptr<NetdiskClient> client() {
        return std::make_unique<NetdiskClient>(connection_, prepared_.login, stop_.get_token());
    }
    const std::string& userName() const { return prepared_.login.userName; }
    std::stop_token stopToken() const { return stop_.get_token(); }
    bool interrupted() const { return interrupts_.interrupted(); }
    const InterruptWatcher& interrupts() const { return interrupts_; }
    ShareSession& session() { return *session_; }
    PreparedShare& prepared() { return prepared_; }

    // The exit status of work that ended on `error` (its errno in `code`).
    int exitForError(const std::string& error, int code) const {
        if (interrupted())
            return interrupts_.exitStatus();
        if (code == -6) {
            reportNotLoggedIn(loginGiven_);
            return exit_status::notLoggedIn;
        }
        report(error);
        return exit_status::failure;
    }

private:
    InterruptWatcher interrupts_; // before any thread starts
    const GlobalOptions& global_;
    ShareCommand command_;
    RecordStore ledger_;
    ConsoleObserver observer_;
    ConnectionSettings connection_;
    std::stop_source stop_;
    std::unique_ptr<ShareSession> session_;
    PreparedShare prepared_;
    bool loginGiven_ = false;
};

std::string checkedText(std::int64_t unixSeconds) {
    return unixTimeToText(std::to_string(unixSeconds), ClockMode::TwentyFourHour);
}

} // namespace

int runSharesSync(const GlobalOptions& global, const LoginOptions& login) {
    ServiceCommand command(global, login);
    if (auto failed = command.logIn())
        return *failed;
    if (command.userName().empty()) {
        report("the service did not name the account; without it no record can be marked gone");
    }
    // An item an earlier run left unsure is settled first: otherwise its
    // share would be matched to no row, and a later run share it again.
    const Expected<SettleReport> settled =
        command.session().settleIntents(command.prepared(), command.stopToken());
    if (command.interrupted())
        return command.interrupts().exitStatus();
    if (!settled) {
        switch (static_cast<SettleFailure>(settled.error().code)) {
        case SettleFailure::NotLoggedIn:
            return command.exitForError(settled.error().message, -6);
        case SettleFailure::Ledger:
            report(settled.error().message);
            return exit_status::ledger;
        case SettleFailure::Service:
            break;
        }
        report(settled.error().message);
        return exit_status::failure;
    }
    if (settled->recorded > 0)
        std::printf("上次未完成的分享: %d 个已记录\n", settled->recorded);
    const auto client = command.client();
    SyncSummary summary;
    {
        SyncProgress progress(isatty(STDERR_FILENO) != 0);
        summary = syncShares(*client, command.ledger(), command.userName(), unixSecondsNow(),
                             &progress, command.stopToken());
    }
    std::printf("%d 页, %zu 个分享, %zu 条记录已对上, %zu 条已失效\n", summary.pages,
                summary.sharesListed, summary.rowsMatched, summary.rowsGone);
    if (!summary.ok())
        return command.exitForError(summary.error, summary.errorCode);
    if (summary.stopped || command.interrupted())
        return command.interrupts().exitStatus();
    if (!summary.complete)
        report("the share list was not read to its end; no record was marked gone");
    return exit_status::completed;
}

int runSharesList(const GlobalOptions& global, const std::optional<std::string>& state,
                  const std::string& format) {
    ShareStateFilter filter;
    if (state) {
        filter.state = parseShareState(*state);
        if (!filter.state) {
            report("unknown state: " + *state + " (active, expired, blocked or gone)");
            return exit_status::usage;
        }
    }
    RecordStore ledger;
    if (auto failed = openForRecords(global, ledger))
        return *failed;
    ShareStates states(ledger);
    auto rows = states.select(filter);
    if (!rows) {
        report(rows.error().message);
        return exit_status::ledger;
    }
    Table table;
    table.columns = {"id",        "state",    "days_left", "views", "saves",
                     "downloads", "shareid",  "checked",   "path",  "beforename",
                     "sharelink", "password", "sharetime", "fid",   "username"};
    table.numericColumns = {"id", "days_left", "views", "saves", "downloads", "shareid"};
    const std::int64_t now = unixSecondsNow();
    for (const RecordWithState& row : *rows) {
        const ShareRecord& r = row.record;
        std::vector<std::string> cells(table.columns.size());
        cells[0] = std::to_string(r.id);
        if (const auto& s = row.status) {
            cells[1] = std::string(shareStateName(s->state));
            if (auto days = daysLeft(*s, now))
                cells[2] = std::to_string(*days);
            cells[3] = std::to_string(s->views);
            cells[4] = std::to_string(s->saves);
            cells[5] = std::to_string(s->downloads);
            cells[6] = s->shareId ? std::to_string(s->shareId) : std::string();
            cells[7] = checkedText(s->checkedAt);
        }
        cells[8] = r.path;
        cells[9] = r.beforename;
        cells[10] = r.sharelink;
        cells[11] = r.password;
        cells[12] = r.sharetime;
        cells[13] = r.fid;
        cells[14] = r.username;
        table.rows.push_back(std::move(cells));
    }
    const TableFormat f = format == "csv"    ? TableFormat::Csv
                          : format == "json" ? TableFormat::Json
                                             : TableFormat::Tsv;
    writeTable(std::cout, table, f, isatty(STDOUT_FILENO) != 0);
    std::cout.flush();
    return std::cout ? exit_status::completed : exit_status::failure;
}

int runSharesCancel(const GlobalOptions& global, const LoginOptions& login,
                    const std::vector<std::string>& idTexts, bool expired, bool yes) {
    if (idTexts.empty() && !expired) {
        report("name the records to cancel: record ids, or --expired");
        return exit_status::usage;
    }
    ServiceCommand command(global, login);
    std::vector<ShareState> states;
    if (expired)
        states.push_back(ShareState::Expired);
    std::vector<std::int64_t> ids;
    if (auto failed = command.choose(idTexts, states, ids))
        return *failed;
    if (ids.empty()) {
        std::printf("没有要取消的分享\n");
        return exit_status::completed;
    }
    if (!yes) {
        // A cancel cannot be undone; a script must say --yes, for there is
        // nobody to ask.
        if (isatty(STDIN_FILENO) == 0) {
            report("refusing to cancel " + std::to_string(ids.size()) +
                   " shares without --yes: standard input is not a terminal");
            return exit_status::usage;
        }
        std::fprintf(stderr, "确定取消 %zu 个分享吗? 取消后链接立即失效 [y/N] ", ids.size());
        std::string answer;
        std::getline(std::cin, answer);
        if (answer != "y" && answer != "Y" && answer != "yes") {
            report("nothing was cancelled");
            return exit_status::usage;
        }
    }
    if (auto failed = command.logIn())
        return *failed;
    const auto client = command.client();
    CancelSummary summary;
    {
        SyncProgress progress(isatty(STDERR_FILENO) != 0);
        summary = cancelRecordShares(*client, command.ledger(), ids, command.userName(),
                                     unixSecondsNow(), &progress, command.stopToken());
    }
    for (const std::int64_t id : summary.notCancellable)
        report("record " + std::to_string(id) +
               ": not cancelled (no live share of this account known; run shares sync first)");
    std::printf("已取消 %zu 个分享\n", summary.cancelled);
    if (!summary.ok())
        return command.exitForError(summary.error, summary.errorCode);
    if (summary.stopped || command.interrupted())
        return command.interrupts().exitStatus();
    return exit_status::completed;
}

int runSharesReshare(const GlobalOptions& global, const LoginOptions& login,
                     const std::vector<std::string>& idTexts, bool expired, bool gone) {
    if (idTexts.empty() && !expired && !gone) {
        report("name the records to share afresh: record ids, --expired or --gone");
        return exit_status::usage;
    }
    ServiceCommand command(global, login);
    std::vector<ShareState> states;
    if (expired)
        states.push_back(ShareState::Expired);
    if (gone)
        states.push_back(ShareState::Gone);
    std::vector<std::int64_t> ids;
    if (auto failed = command.choose(idTexts, states, ids))
        return *failed;
    auto choice = chooseReshareItems(command.ledger(), ids);
    if (!choice) {
        report(choice.error().message);
        return exit_status::ledger;
    }
    for (const std::int64_t id : choice->notEligible)
        report("record " + std::to_string(id) +
               ": not shared afresh (its link is active, it was never synced, or it is no share)");
    if (choice->items.empty()) {
        std::printf("没有要重新分享的记录\n");
        return exit_status::completed;
    }
    if (auto failed = command.logIn())
        return *failed;
    if (Status started =
            command.session().startReshare(std::move(command.prepared()), choice->items);
        !started)
        return exitForRefusal(started.error(), true);
    if (command.interrupted())
        command.session().requestStop();
    command.session().wait();
    return exitFor(command.session().summary(), command.interrupts());
}

} // namespace vantorel::cli
