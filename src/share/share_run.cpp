#include "share/share_run.h"

#include "base/json_document.h"
#include "base/text.h"
#include "base/time_text.h"
#include "base/wait.h"
#include "netdisk/netdisk_api.h"
#include "netdisk/page_text.h"
#include "netdisk/share_refusals.h"
#include "records/record_store.h"
#include "share/intent_settle.h"
#include "share/rename_rules.h"

#include <chrono>

namespace vantorel {

struct ShareRun::Run {
    LoginContext login;
    ShareOptions options;
    WalkLists lists;
    std::optional<std::vector<ReshareItem>> reshare;
    RunSummary summary;
    LedgerLock lock;       // released once the run has written its last
    bool finished = false; // under ShareRun::mutex_
};

namespace {

enum class Pass { File, Folder, Selection, Reshare };

// What the caller of one entry does next.
enum class Flow { Next, End };

// Whether an fs_id is what the service gives: an unsigned decimal integer of
// at most 20 digits.
bool isDecimalFsId(std::string_view fsId) {
    return !fsId.empty() && fsId.size() <= 20 &&
           fsId.find_first_not_of("0123456789") == std::string_view::npos;
}

// The day a share time names ("2021-05-27"), in the service's clock.
std::string dayOf(std::int64_t unixSeconds) {
    return unixTimeToText(std::to_string(unixSeconds), ClockMode::TwentyFourHour).substr(0, 10);
}

class Runner {
public:
    Runner(RecordStore& ledger, ShareObserver& observer, NetdiskApi& api, LoginContext& login,
           const ShareOptions& options, const PauseFunction& pause, const ClockFunction& clock,
           std::stop_token stop)
        : ledger_(ledger), observer_(observer), api_(api), login_(login), options_(options),
          pause_(pause), clock_(clock), stop_(std::move(stop)) {}

    const RunSummary& summary() const { return summary_; }

    void run(WalkLists& lists, const std::vector<ReshareItem>* reshare) {
        // What an earlier run left unsure is settled first: the ledger must
        // know of every share already made before any item is looked up, or
        // counted against the day's limit.
        if (!settle())
            return;
        // A day whose limit is reached already sends nothing at all.
        if (!countTodaysShares() || quotaTest() == Flow::End)
            return;
        if (reshare)
            runReshare(*reshare);
        else if (login_.selectionJson == "[]")
            runFolder(lists);
        else
            runSelection();
    }

private:
    bool settle() {
        const SettleOptions options{.clock = clock_,
                                    .pause = pause_,
                                    .stop = stop_,
                                    .recorded = [this](const EntryOutcome& outcome) {
                                        ++summary_.shared;
                                        observer_.entryFinished(outcome);
                                    }};
        const Expected<SettleReport> settled = settleShareIntents(ledger_, api_, options);
        if (stopped())
            return false;
        if (!settled) {
            const auto failure = static_cast<SettleFailure>(settled.error().code);
            if (failure == SettleFailure::NotLoggedIn) {
                // As a share refused with -6: nothing can go on without a
                // new login.
                summary_.refusedErrno = -6;
                endOnFailure(RunEnd::RunRefused, settled.error().message);
            } else {
                endOnFailure(failure == SettleFailure::Ledger ? RunEnd::LedgerFailed
                                                              : RunEnd::SettleFailed,
                             settled.error().message);
            }
            return false;
        }
        return true;
    }

    void runFolder(WalkLists& lists) {
        const Status walked =
            walkFolder(api_, login_.currentPath, options_.shareType, lists, stop_);
        if (stopped())
            return;
        if (!walked) {
            // Sharing part of a folder and then saying "done" would hide
            // what was left out; the user is told which folder and why.
            endOnFailure(RunEnd::ListingFailed, walked.error().message);
            return;
        }
        observer_.setProgressMaximum(static_cast<int>(lists.files.size() + lists.folders.size()));
        const ShareType type = options_.shareType;
        if (sharesFiles(type)) {
            for (const ListEntry& file : lists.files) {
                observer_.setProgressPosition(++position_);
                if (shareItem(file, Pass::File, "0") == Flow::End ||
                    pauseAfterRequest() == Flow::End)
                    return;
            }
        }
        if (sharesFolders(type)) {
            for (const ListEntry& folder : lists.folders) {
                observer_.setProgressPosition(++position_);
                if (shareItem(folder, Pass::Folder, "1") == Flow::End ||
                    pauseAfterRequest() == Flow::End)
                    return;
            }
        }
        complete();
    }

    void runSelection() {
        JsonDocument selection;
        selection.parse(login_.selectionJson);
        const int n = selection.count("");
        observer_.setProgressMaximum(n);
        for (int i = 0; i < n; ++i) {
            const std::string at = "[" + std::to_string(i) + "].";
            ListEntry entry;
            entry.server_filename = selection.getText(at + "server_filename");
            entry.path = selection.getText(at + "path");
            entry.md5 = selection.getText(at + "md5");
            entry.fs_id = selection.getText(at + "fs_id");
            entry.thumbs_url3 = selection.getText(at + "thumbs.url3");
            entry.size = formatSizeText(textToInt64(selection.getText(at + "size")));
            const std::string isdir = selection.getText(at + "isdir") == "1" ? "1" : "0";
            if (shareItem(entry, Pass::Selection, isdir) == Flow::End)
                return;
            observer_.setProgressPosition(++position_);
            if (pauseAfterRequest() == Flow::End)
                return;
        }
        complete();
    }

    void runReshare(const std::vector<ReshareItem>& items) {
        observer_.setProgressMaximum(static_cast<int>(items.size()));
        for (const ReshareItem& item : items) {
            if (shareItem(item.entry, Pass::Reshare, item.isFolder ? "1" : "0") == Flow::End)
                return;
            observer_.setProgressPosition(++position_);
            if (pauseAfterRequest() == Flow::End)
                return;
        }
        complete();
    }

    Flow shareItem(const ListEntry& entry, Pass pass, const std::string& isdir) {
        sentRequest_ = false;
        if (stopped())
            return Flow::End;

        // The fs_id goes into the share request as it stands: "a,b,c" would
        // share three items under one link and record a fid that names none.
        if (!isDecimalFsId(entry.fs_id)) {
            ++summary_.failed;
            observer_.entryFinished({.verdict = EntryVerdict::Failed,
                                     .path = entry.path,
                                     .reason = std::string(kInvalidFsIdReason)});
            return Flow::Next;
        }

        // A re-share was asked for by name: that the ledger holds the item
        // is the very reason for it.
        const Expected<bool> recorded =
            pass == Pass::Reshare ? Expected<bool>(false) : lookUp(entry, pass);
        if (!recorded) {
            // Not knowing whether an item was shared must not share it twice.
            return ledgerFailed(std::string(kRecordReadFailedMessage) + recorded.error().message);
        }
        if (*recorded) {
            ++summary_.skipped;
            observer_.entryFinished({.verdict = EntryVerdict::Skipped, .path = entry.path});
            return Flow::Next;
        }

        observer_.entryStarted(entry.path);
        const ShareIntent intent = intentFor(entry, pass, isdir);
        // Without its intent, an answer that never came would leave the next
        // run no trace of the share: nothing goes out that is not noted.
        if (const Status noted = ledger_.writeIntent(intent); !noted)
            return ledgerFailed(std::string(kRecordWriteFailedMessage) + noted.error().message);
        const std::string& code = intent.code;
        sentRequest_ = true;
        const ShareReply reply = api_.createShareLink(options_.period, code, entry.fs_id);
        const std::string errnoText =
            reply.errnoValue ? std::to_string(*reply.errnoValue) : std::string();
        switch (reply.outcome) {
        case ShareOutcome::Shared:
            return recordSuccess(entry, intent, reply);
        case ShareOutcome::ItemRefused:
            return recordRefusal(entry, pass, isdir, reply, errnoText);
        case ShareOutcome::RunRefused:
            // The account or the session refused: every further item would be
            // refused the same way, and a failure row would block it for
            // good. The item stays pending for the next run; the refusal
            // says it was not shared, so its intent goes.
            (void)ledger_.dropIntent(intent.fid);
            pending(entry, reply.reason, errnoText);
            summary_.refusedErrno = reply.errnoValue.value_or(0);
            endOnFailure(RunEnd::RunRefused,
                         runRefusedMessage(Refusal{RefusalScope::Run, reply.reason, reply.advice},
                                           summary_.refusedErrno));
            return Flow::End;
        case ShareOutcome::NoVerdict:
            break;
        }
        // Nothing is known about the item (no answer, no errno, no link), or
        // the request was abandoned by a stop: nothing is recorded, and the
        // intent stays, for the next run to look for the share before it
        // tries again.
        pending(entry, reply.reason, errnoText);
        return stopped() ? Flow::End : Flow::Next;
    }

    // Files by MD5, folders and selected items by fid. A file without an
    // MD5 goes by its fid too: the empty MD5 is every folder's, so it would
    // count as recorded as soon as one folder was. Only a link counts for
    // it, so that a failed file is tried again as every other file is.
    Expected<bool> lookUp(const ListEntry& entry, Pass pass) {
        if (pass != Pass::File)
            return ledger_.findByFid(entry.fs_id);
        if (entry.md5.empty())
            return ledger_.findSharedByFid(entry.fs_id);
        return ledger_.findByMd5(entry.md5);
    }

    void pending(const ListEntry& entry, const std::string& reason, const std::string& errnoText) {
        ++summary_.pending;
        observer_.entryFinished({.verdict = EntryVerdict::Pending,
                                 .path = entry.path,
                                 .errnoText = errnoText,
                                 .reason = reason});
    }

    Flow recordRefusal(const ListEntry& entry, Pass pass, const std::string& isdir,
                       const ShareReply& reply, const std::string& errnoText) {
        ShareRecord row = baseRecord(entry, isdir);
        row.path = entry.path;
        row.sharelink = std::string(kFailedLinkText);
        if (pass == Pass::Selection || pass == Pass::Reshare) {
            row.size = entry.size;
            row.md5 = entry.md5;
        }
        if (pass != Pass::Folder)
            row.pic = entry.thumbs_url3;
        // A lost failure row only means the item is tried again later, so
        // the run goes on.
        (void)ledger_.recordOutcome(row);
        ++summary_.failed;
        observer_.entryFinished({.verdict = EntryVerdict::Failed,
                                 .path = entry.path,
                                 .errnoText = errnoText,
                                 .reason = reply.reason});
        return stopped() ? Flow::End : Flow::Next;
    }

    // What the item's success row will hold, noted before its request.
    ShareIntent intentFor(const ListEntry& entry, Pass pass, const std::string& isdir) const {
        ShareIntent intent;
        intent.fid = entry.fs_id;
        intent.isdir = isdir;
        intent.path = entry.path;
        intent.name = entry.server_filename;
        if (pass != Pass::Folder) {
            intent.size = entry.size;
            intent.md5 = entry.md5;
            intent.pic = entry.thumbs_url3;
        }
        intent.username = login_.userName;
        intent.code = makeExtractionCode(options_.password);
        intent.period = options_.period;
        intent.time = clock_();
        return intent;
    }

    Flow recordSuccess(const ListEntry& entry, const ShareIntent& intent, const ShareReply& reply) {
        std::string sharedPath = entry.path;
        std::string newName;
        // Renaming is a request of its own; after a stop the link is recorded
        // under the name the item still has. The journal hears of the rename
        // first, so that a run cut short here is not followed by one that
        // renames the item a second time.
        if (options_.renameMode != RenameMode::None && !stopped()) {
            const std::string wanted = newNameFor(entry, options_);
            if (ledger_.markRenaming(entry.fs_id, wanted, reply.link, reply.shareTime)) {
                const RenameReply renamed = api_.renameItem(entry.path, wanted);
                // The ledger must say what the service holds: a refused
                // rename, or one whose end is unknown, keeps the old path
                // and no new name.
                if (renamed.renamed) {
                    newName = wanted;
                    sharedPath = renamedPath(entry.path, wanted);
                }
            }
        }

        const ShareRecord row =
            successRowOf(intent, reply.link, reply.shareTime, sharedPath, newName);
        if (const Status written = ledger_.recordOutcome(row); !written) {
            // Without its row the item would be shared again by the next run;
            // the user keeps the link from this message instead.
            return ledgerFailed(std::string(kRecordWriteFailedMessage) + sharedPath + " " +
                                row.sharelink + " (" + written.error().message + ")");
        }
        ++sharedToday_;
        ++summary_.shared;
        observer_.entryFinished({.verdict = EntryVerdict::Shared,
                                 .path = sharedPath,
                                 .link = row.sharelink,
                                 .code = row.password});
        return stopped() ? Flow::End : quotaTest();
    }

    ShareRecord baseRecord(const ListEntry& entry, const std::string& isdir) const {
        ShareRecord row;
        row.isdir = isdir;
        row.beforename = entry.server_filename;
        row.fid = entry.fs_id;
        row.username = login_.userName;
        return row;
    }

    // The limit is the account's for the day: the shares it made today in
    // earlier runs count too.
    bool countTodaysShares() {
        if (options_.dailyLimit < 1)
            return true;
        day_ = dayOf(clock_());
        const Expected<std::int64_t> made = ledger_.countSharesOnDay(login_.userName, day_);
        if (!made) {
            ledgerFailed(std::string(kRecordReadFailedMessage) + made.error().message);
            return false;
        }
        sharedToday_ = *made;
        return true;
    }

    Flow quotaTest() {
        if (options_.dailyLimit < 1)
            return Flow::Next;
        // A run that goes past midnight counts the new day's shares, this
        // run's among them, from the ledger.
        if (dayOf(clock_()) != day_ && !countTodaysShares())
            return Flow::End;
        if (sharedToday_ >= options_.dailyLimit) {
            observer_.showMessage(kQuotaReachedMessage, MessageIcon::None, stop_);
            summary_.end = RunEnd::QuotaReached;
            return Flow::End;
        }
        return Flow::Next;
    }

    // The pause spaces the requests to the service; an entry that sent none
    // (skipped as recorded) does not wait.
    Flow pauseAfterRequest() {
        if (!sentRequest_)
            return stopped() ? Flow::End : Flow::Next;
        return pause();
    }

    Flow pause() {
        const auto interval =
            std::chrono::milliseconds(static_cast<std::int64_t>(options_.intervalSeconds) * 1000);
        observer_.pauseStarted(interval);
        if (pause_)
            pause_(stop_, interval);
        else
            waitFor(stop_, interval);
        // The token, not the wait's result, decides: a stop that came during
        // the wait ends the run as stopped either way.
        return stopped() ? Flow::End : Flow::Next;
    }

    Flow ledgerFailed(const std::string& message) {
        endOnFailure(RunEnd::LedgerFailed, message);
        return Flow::End;
    }

    void endOnFailure(RunEnd end, const std::string& message) {
        summary_.end = end;
        summary_.message = message;
        observer_.showMessage(message, MessageIcon::Error, stop_);
        observer_.runPhase(RunPhase::Done);
    }

    void complete() {
        if (stopped())
            return;
        observer_.showMessage(kRunCompletedMessage, MessageIcon::Information, stop_);
        observer_.runPhase(RunPhase::Done);
        observer_.setProgressPosition(0);
        summary_.end = RunEnd::Completed;
    }

    bool stopped() {
        if (stop_.stop_requested()) {
            if (summary_.end == RunEnd::Completed)
                summary_.end = RunEnd::Stopped;
            return true;
        }
        return false;
    }

    RecordStore& ledger_;
    ShareObserver& observer_;
    NetdiskApi& api_;
    LoginContext& login_;
    const ShareOptions& options_;
    const PauseFunction& pause_;
    const ClockFunction& clock_;
    RunSummary summary_;
    std::stop_token stop_;
    int position_ = 0;
    bool sentRequest_ = false;     // the entry in hand asked the service
    std::string day_;              // the day the limit counts
    std::int64_t sharedToday_ = 0; // by the account on day_, this run's shares included
};

} // namespace

Error lockRefusal(const Error& failed) {
    const bool inUse = failed.code == static_cast<int>(LockFailure::InUse);
    return Error{inUse ? failed.message : std::string(kNoLedgerMessage) + failed.message,
                 static_cast<int>(inUse ? StartRefusal::LedgerInUse : StartRefusal::NoLedger)};
}

Expected<LedgerLock> lockLedger(const RecordStore& ledger) {
    const std::filesystem::path file = ledger.path();
    if (file.empty() || file == ":memory:")
        return LedgerLock();
    return LedgerLock::acquire(file);
}

ShareRun::ShareRun(RecordStore& ledger, ShareObserver& observer, NetdiskApiFactory makeApi,
                   PauseFunction pause, ClockFunction clock)
    : ledger_(ledger), observer_(observer), makeApi_(std::move(makeApi)), pause_(std::move(pause)),
      clock_(std::move(clock)) {
    if (!clock_)
        clock_ = unixSecondsNow;
}

ShareRun::~ShareRun() {
    stop();
}

Status ShareRun::start(LoginContext login, ShareOptions options, LedgerLock ledgerLock) {
    std::lock_guard lock(mutex_);
    return startLocked(std::move(login), std::move(options), std::nullopt, std::move(ledgerLock));
}

Status ShareRun::startReshare(LoginContext login, ShareOptions options,
                              std::vector<ReshareItem> items, LedgerLock ledgerLock) {
    options.renameMode = RenameMode::None;
    std::lock_guard lock(mutex_);
    return startLocked(std::move(login), std::move(options), std::move(items),
                       std::move(ledgerLock));
}

Status ShareRun::startLocked(LoginContext login, ShareOptions options,
                             std::optional<std::vector<ReshareItem>> reshare,
                             LedgerLock ledgerLock) {
    if (run_ && !run_->finished)
        return Error{"a share run is already in progress",
                     static_cast<int>(StartRefusal::AlreadyRunning)};
    if (worker_.joinable())
        worker_.join();
    if (login.bdstoken.empty())
        return Error{std::string(kNotLoggedInMessage), static_cast<int>(StartRefusal::NotLoggedIn)};
    if (!ledger_.isOpen()) {
        return Error{std::string(kNoLedgerMessage) + ledger_.notOpenReason(),
                     static_cast<int>(StartRefusal::NoLedger)};
    }
    if (!reshare && login.selectionJson != "[]" && !isSelectionArray(login.selectionJson))
        return Error{std::string(kSelectionUnreadableMessage),
                     static_cast<int>(StartRefusal::SelectionUnreadable)};
    if (!ledgerLock.held()) {
        Expected<LedgerLock> taken = lockLedger(ledger_);
        if (!taken)
            return lockRefusal(taken.error());
        ledgerLock = std::move(*taken);
    }

    run_ = std::make_unique<Run>();
    run_->lock = std::move(ledgerLock);
    run_->login = std::move(login);
    run_->options = std::move(options);
    run_->reshare = std::move(reshare);
    Run* run = run_.get();
    worker_ = std::jthread([this, run](std::stop_token stop) { execute(std::move(stop), *run); });
    workerId_ = worker_.get_id();
    return {};
}

void ShareRun::execute(std::stop_token stop, Run& run) {
    RunSummary summary;
    observer_.runPhase(RunPhase::Started);
    {
        std::unique_ptr<NetdiskApi> api = makeApi_(run.login, stop);
        Runner runner(ledger_, observer_, *api, run.login, run.options, pause_, clock_, stop);
        runner.run(run.lists, run.reshare ? &*run.reshare : nullptr);
        summary = runner.summary();
        std::lock_guard lock(mutex_);
        run.summary = summary;
    }
    if (summary.end == RunEnd::Stopped)
        observer_.runPhase(RunPhase::Stopped);
    observer_.runFinished(summary);
    {
        std::lock_guard lock(mutex_);
        run.lock = LedgerLock();
        run.finished = true;
    }
    ended_.notify_all();
}

bool ShareRun::onWorkerThread() const {
    return workerId_ == std::this_thread::get_id();
}

void ShareRun::stop() {
    requestStop();
    wait();
    joinWorker();
}

void ShareRun::requestStop() {
    std::lock_guard lock(mutex_);
    worker_.request_stop();
}

void ShareRun::wait() {
    std::unique_lock lock(mutex_);
    if (onWorkerThread())
        return;
    ended_.wait(lock, [this] { return !run_ || run_->finished; });
}

void ShareRun::joinWorker() {
    std::jthread worker;
    {
        std::lock_guard lock(mutex_);
        if (worker_.joinable() && !onWorkerThread())
            worker = std::move(worker_);
    }
    if (worker.joinable())
        worker.join();
}

bool ShareRun::running() const {
    std::lock_guard lock(mutex_);
    return run_ && !run_->finished;
}

RunSummary ShareRun::summary() const {
    std::lock_guard lock(mutex_);
    return run_ ? run_->summary : RunSummary{};
}

} // namespace vantorel
