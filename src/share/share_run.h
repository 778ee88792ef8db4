#pragma once

// One share run: every entry of the open folder (or every selected item) that
// the ledger does not hold yet gets a share link, an optional new name and a
// ledger row, one after another on a worker thread, with a pause after each.

#include "base/expected.h"
#include "base/wait.h"
#include "netdisk/login_context.h"
#include "records/ledger_lock.h"
#include "settings/share_options.h"
#include "share/folder_walk.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vantorel {

class NetdiskApi;
class RecordStore;

inline constexpr std::string_view kRunCompletedMessage = "分享完成!";
inline constexpr std::string_view kQuotaReachedMessage = "今日分享数量完成!";
inline constexpr std::string_view kNotLoggedInMessage =
    "未获取到登录信息,请先在浏览器中登录百度网盘";
inline constexpr std::string_view kNoLedgerMessage = "无法打开分享记录数据库:";
inline constexpr std::string_view kRecordWriteFailedMessage = "分享记录写入失败,已停止分享:";
inline constexpr std::string_view kRecordReadFailedMessage = "分享记录读取失败,已停止分享:";
inline constexpr std::string_view kSelectionUnreadableMessage =
    "无法读取页面中选中的项目,请打开文件列表页面后重试";

// Why an item whose fs_id is not a decimal integer was not shared.
inline constexpr std::string_view kInvalidFsIdReason = "项目的 fs_id 不是十进制整数,未分享";

enum class MessageIcon { None, Information, Error };

// Where a run is, for the front end to set its controls by.
enum class RunPhase {
    Started, // the worker is going
    Stopped, // a stop ended it
    // It ended by itself and the share command is free again: completed, or
    // ended on a failure. A run that reaches the daily limit reports neither
    // this nor Stopped: the user acknowledges it with the stop command.
    Done,
};

enum class EntryVerdict {
    Shared,  // a link was made and recorded
    Failed,  // the service refused the item (a failure row was written), or the item
             // could not be asked for at all (no request, no row)
    Skipped, // the ledger already held the entry
    Pending, // no verdict (or the run was refused): no row, the next run tries it
};

struct EntryOutcome {
    EntryVerdict verdict;
    std::string path; // as recorded (after a rename on success)
    std::string link;
    std::string code;
    std::string errnoText; // the service's errno of a refusal, when it gave one
    std::string reason;    // why it failed or is pending, in the user's words
};

enum class RunEnd {
    Completed,     // every pass done
    QuotaReached,  // the daily limit was reached
    Stopped,       // stop() ended it
    LedgerFailed,  // a ledger lookup or a success row failed; the run stopped there
    ListingFailed, // a folder could not be listed; nothing was shared
    RunRefused,    // the service refused the account or the session
    // The intents of an earlier run could not be settled (the share list
    // could not be read); nothing was shared, for anything might have been
    // shared twice.
    SettleFailed,
};

struct RunSummary {
    int shared = 0;
    int failed = 0;
    int skipped = 0;
    int pending = 0;
    RunEnd end = RunEnd::Completed;
    // What the user was told when the run ended on a failure.
    std::string message;
    // The errno that refused the run (RunRefused).
    int refusedErrno = 0;
};

// Why a run did not start.
enum class StartRefusal : int {
    None = 0,
    NotLoggedIn = 1,
    NoLedger = 2,
    AlreadyRunning = 3,
    SelectionUnreadable = 4, // the page gave no JSON array of selected items
    BadSettings = 5,         // a setting the service would refuse, or a bad override
    SettingsUnreadable = 6,  // set.ini cannot be read
    ServiceUnreachable = 7,  // no answer from the service, or an error page
    LedgerInUse = 8,         // another run holds the ledger's lock
};

// One ledger record to share afresh: its item as the record names it.
struct ReshareItem {
    std::int64_t recordId = 0; // the record whose share died; it stays as it is
    ListEntry entry;           // fs_id, name, path, size, MD5 and thumbnail of the record
    bool isFolder = false;
};

// How the run's effects reach the front end. Calls come from the worker
// thread; implementations forward them to their own thread as they need.
class ShareObserver {
public:
    virtual ~ShareObserver() = default;
    virtual void setProgressMaximum(int) {}
    virtual void setProgressPosition(int) {}
    virtual void runPhase(RunPhase) {}
    // Shows a message and returns once the user has closed it, or at once
    // when `stop` is requested (the front end may be closing).
    virtual void showMessage(std::string_view /*text*/, MessageIcon, std::stop_token /*stop*/) {}
    // Right before the share request of an entry the ledger does not hold
    // yet; `path` as listed or selected.
    virtual void entryStarted(std::string_view /*path*/) {}
    // Right before each pause after an entry.
    virtual void pauseStarted(std::chrono::milliseconds /*length*/) {}
    virtual void entryFinished(const EntryOutcome&) {}
    // The last call of a run, whatever ended it.
    virtual void runFinished(const RunSummary&) {}
};

// Makes the web API client a run talks through, on the worker thread. The
// client sends and rewrites `login.cookieText`; `stop` aborts a request in
// flight.
using NetdiskApiFactory =
    std::function<std::unique_ptr<NetdiskApi>(LoginContext& login, std::stop_token stop)>;

// The pause after each entry: waits `duration` unless `stop` is requested
// first. Runs use waitFor; a test may count the pauses without waiting.
using PauseFunction = std::function<WaitResult(std::stop_token stop, std::chrono::milliseconds)>;

// The time now, in Unix seconds; the daily limit counts the shares of its
// day. Runs use the system clock; a test may fix it.
using ClockFunction = std::function<std::int64_t()>;

// The refusal of a run whose ledger lock could not be taken (a LockFailure
// error): LedgerInUse, or NoLedger with the reason.
Error lockRefusal(const Error& failed);

// The lock of the ledger's file; one that holds nothing for a ledger in
// memory, which is this process's alone.
Expected<LedgerLock> lockLedger(const RecordStore& ledger);

class ShareRun {
public:
    // Without `pause` the run waits with waitFor; without `clock` it reads
    // the system clock.
    ShareRun(RecordStore& ledger, ShareObserver& observer, NetdiskApiFactory makeApi,
             PauseFunction pause = {}, ClockFunction clock = {});
    ~ShareRun(); // stops a run still going
    ShareRun(const ShareRun&) = delete;
    ShareRun& operator=(const ShareRun&) = delete;

    // Starts a run on a worker thread and returns at once. The login and the
    // options are copies the run keeps to itself. Refuses, with the message
    // to show and a StartRefusal code, when the login has no bdstoken (every
    // share would be refused), when the ledger is not open (nothing would be
    // recorded), or when the selection is neither "[]" nor a JSON array (the
    // page could not say what is selected, and sharing nothing would look
    // like success). A run holds the ledger's lock (ledger_lock.h) from its
    // start to its end: `lock` when it holds it already, else the run takes
    // it, and refuses (LedgerInUse) when another run has it.
    Status start(LoginContext login, ShareOptions options, LedgerLock lock = {});

    // Starts a run over these records' items instead of the page's: each
    // gets a fresh link with the options' code and period and a new success
    // row, its old row untouched. They were asked for by name, so the
    // ledger's already-recorded test does not apply; nothing is renamed.
    // Refusal classes, the daily limit, the pause and stop apply as in every
    // run. Refuses as start() does (the selection aside).
    Status startReshare(LoginContext login, ShareOptions options, std::vector<ReshareItem> items,
                        LedgerLock lock = {});

    // Ends the run: the pause returns, a request in flight is aborted, no
    // further entry is started, and the worker is joined. A success already
    // answered by the service is still recorded, so its link is never lost.
    // Without a run it does nothing.
    void stop();

    // Asks the run to end without waiting for it (safe from any thread,
    // also while another thread waits for the run).
    void requestStop();

    // Waits until the run has ended (its runFinished call has returned).
    // From the worker thread itself it returns at once.
    void wait();

    bool running() const;
    RunSummary summary() const;

private:
    struct Run;
    Status startLocked(LoginContext login, ShareOptions options,
                       std::optional<std::vector<ReshareItem>> reshare, LedgerLock ledgerLock);
    void execute(std::stop_token stop, Run& run);
    bool onWorkerThread() const; // with mutex_ held
    void joinWorker();

    RecordStore& ledger_;
    ShareObserver& observer_;
    NetdiskApiFactory makeApi_;
    PauseFunction pause_;
    ClockFunction clock_;
    mutable std::mutex mutex_;
    std::condition_variable ended_; // signalled when a run has finished
    std::unique_ptr<Run> run_;
    // The worker stays here until it is joined, so that a stop request
    // reaches it whoever is waiting for the run.
    std::jthread worker_;
    std::thread::id workerId_;
};

} // namespace vantorel
