#include "app/program_share_work.h"

#include "app/browser_answers.h"
#include "base/time_text.h"
#include "netdisk/netdisk_client.h"
#include "share/share_sync.h"

#include <memory>
#include <mutex>

namespace vantorel::gui {

namespace {

// What the share list work and a re-share run report, turned into the
// window's progress. Calls come from the thread doing the work.
class WorkProgress final : public ShareObserver, public ShareSyncObserver {
public:
    explicit WorkProgress(const ShareWorkReporter& report) : report_(report) {}

    void syncPageStored(int, std::size_t sharesListed, std::size_t) override {
        report_({.done = sharesListed, .total = 0, .ledgerChanged = true});
    }
    void cancelBatchDone(std::size_t cancelled, std::size_t total) override {
        report_({.done = cancelled, .total = total, .ledgerChanged = true});
    }

    void setProgressMaximum(int maximum) override {
        total_ = static_cast<std::size_t>(std::max(maximum, 0));
        report_({.done = done_, .total = total_});
    }
    void entryFinished(const EntryOutcome&) override {
        ++done_;
        report_({.done = done_, .total = total_, .ledgerChanged = true});
    }
    // The run's boxes (分享完成!, a refusal) become the work's outcome; a
    // re-share never waits on a box of its own.
    void showMessage(std::string_view text, MessageIcon icon, std::stop_token) override {
        std::lock_guard lock(mutex_);
        message_ = std::string(text);
        failed_ = icon == MessageIcon::Error;
    }
    std::pair<std::string, bool> lastMessage() {
        std::lock_guard lock(mutex_);
        return {message_, failed_};
    }

private:
    const ShareWorkReporter& report_;
    std::size_t done_ = 0;
    std::size_t total_ = 0;
    std::mutex mutex_;
    std::string message_;
    bool failed_ = false;
};

Expected<std::string> sync(ShareSession& session, PreparedShare& share, RecordStore& ledger,
                           WorkProgress& progress, std::stop_token stop) {
    // What an earlier run left unsure is settled first, as a run does: its
    // share would otherwise match no row.
    if (const Expected<SettleReport> settled = session.settleIntents(share, stop); !settled) {
        return settled.error();
    }
    NetdiskClient client(session.settings().connection, share.login, stop);
    const SyncSummary summary =
        syncShares(client, ledger, share.login.userName, unixSecondsNow(), &progress, stop);
    if (!summary.ok()) {
        return Error{"同步状态失败: " + summary.error, summary.errorCode};
    }
    std::string text = "同步完成: " + std::to_string(summary.sharesListed) + " 个分享, " +
                       std::to_string(summary.rowsMatched) + " 条记录已对上, " +
                       std::to_string(summary.rowsGone) + " 条已失效";
    if (!summary.complete) {
        text += " (分享列表未读完,没有记录被标为已失效)";
    }
    return text;
}

Expected<std::string> cancel(ShareSession& session, PreparedShare& share, RecordStore& ledger,
                             const std::vector<std::int64_t>& ids, WorkProgress& progress,
                             std::stop_token stop) {
    NetdiskClient client(session.settings().connection, share.login, stop);
    const CancelSummary summary = cancelRecordShares(client, ledger, ids, share.login.userName,
                                                     unixSecondsNow(), &progress, stop);
    if (!summary.ok()) {
        return Error{"取消分享失败 (已取消 " + std::to_string(summary.cancelled) +
                         " 个): " + summary.error,
                     summary.errorCode};
    }
    std::string text = "已取消 " + std::to_string(summary.cancelled) + " 个分享";
    if (!summary.notCancellable.empty()) {
        text += ", " + std::to_string(summary.notCancellable.size()) +
                " 条记录无法取消 (未同步、分享失败或已失效)";
    }
    return text;
}

Expected<std::string> reshare(ShareSession& session, PreparedShare share, RecordStore& ledger,
                              const std::vector<std::int64_t>& ids, WorkProgress& progress,
                              std::stop_token stop) {
    Expected<ReshareChoice> chosen = chooseReshareItems(ledger, ids);
    if (!chosen) {
        return chosen.error();
    }
    if (chosen->items.empty()) {
        return Error{"所选记录中没有已过期、已屏蔽或已失效的分享。请先同步状态。", 0};
    }
    if (Status started = session.startReshare(std::move(share), std::move(chosen->items));
        !started) {
        return started.error();
    }
    {
        const std::stop_callback stopRun(stop, [&session] { session.requestStop(); });
        session.wait();
    }
    const RunSummary summary = session.summary();
    std::string text = "重新分享: 已分享 " + std::to_string(summary.shared) + " · 失败 " +
                       std::to_string(summary.failed);
    if (summary.pending > 0) {
        text += " · 待下次 " + std::to_string(summary.pending);
    }
    if (!chosen->notEligible.empty()) {
        text += " · " + std::to_string(chosen->notEligible.size()) +
                " 条的分享仍有效或未同步,未重新分享";
    }
    const auto [message, failed] = progress.lastMessage();
    if (failed || summary.end == RunEnd::RunRefused || summary.end == RunEnd::LedgerFailed) {
        return Error{text + "\n" + (summary.message.empty() ? message : summary.message), 0};
    }
    if (summary.end == RunEnd::QuotaReached && !message.empty()) {
        text += " (" + message + ")";
    }
    return text;
}

} // namespace

ProgramShareWork::ProgramShareWork(BrowserSource& browser, RecordStore& ledger,
                                   SessionSettings settings)
    : browser_(browser), ledger_(ledger), settings_(std::move(settings)) {}

Expected<ShareWorkJob> ProgramShareWork::prepare(ShareWork work,
                                                 std::vector<std::int64_t> recordIds) {
    auto browser = std::make_shared<BrowserAnswers>(browser_, BrowserAnswers::Selection::NotNeeded);
    return ShareWorkJob(
        [work, ids = std::move(recordIds), browser, &ledger = ledger_, settings = settings_](
            std::stop_token stop, const ShareWorkReporter& report) -> Expected<std::string> {
            WorkProgress progress(report);
            ShareSession session(settings, ledger, progress);
            // The same options, ledger and login as a share run, so that a
            // re-share uses the code and period of set.ini.
            Expected<PreparedShare> prepared = session.prepare(*browser, stop);
            if (!prepared) {
                return prepared.error();
            }
            switch (work) {
            case ShareWork::Sync:
                return sync(session, *prepared, ledger, progress, stop);
            case ShareWork::Cancel:
                return cancel(session, *prepared, ledger, ids, progress, stop);
            case ShareWork::Reshare:
                return reshare(session, std::move(*prepared), ledger, ids, progress, stop);
            }
            return Error{"unknown work", 0};
        });
}

} // namespace vantorel::gui
