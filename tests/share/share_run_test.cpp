#include "named_case.h"
#include "netdisk/netdisk_api.h"
#include "netdisk/share_refusals.h"
#include "records/record_store.h"
#include "share/share_run.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace vantorel;
using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

namespace {

using vantorel::test::CaseName;
using vantorel::test::PrintTo;

constexpr std::string_view kHost = "pan.baidu.com";
constexpr std::string_view kToken = "0123456789abcdef0123456789abcdef";
constexpr std::string_view kUser = "tester";
constexpr std::string_view kShareTime = "2024-05-01 12:00:00";
// Failure guard only: far longer than any run here needs, far shorter than
// the 60 s pauses of the stop tests.
constexpr auto kGuard = 30s;

std::string linkFor(std::string_view fsId) {
    return "https://" + std::string(kHost) + "/s/1" + std::string(fsId);
}

ShareReply sharedReply(std::string_view fsId) {
    return {.outcome = ShareOutcome::Shared,
            .link = linkFor(fsId),
            .shareTime = std::string(kShareTime),
            .errnoValue = 0};
}

// A refusal as the client reads it: by the class of its errno.
ShareReply refusedReply(int errnoValue = 115, bool runHasShared = false) {
    const Refusal refusal = classifyShareRefusal(errnoValue, runHasShared);
    return {.outcome = refusal.scope == RefusalScope::Run ? ShareOutcome::RunRefused
                                                          : ShareOutcome::ItemRefused,
            .errnoValue = errnoValue,
            .reason = std::string(refusal.reason),
            .advice = std::string(refusal.advice)};
}

std::string lastPiece(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

ListEntry fileEntry(const std::string& path, const std::string& fsId, std::string md5 = {}) {
    return {.server_filename = lastPiece(path),
            .path = path,
            .local_ctime = "1700000000",
            .fs_id = fsId,
            .md5 = md5.empty() ? "md5-" + fsId : std::move(md5),
            .size = "1.0K",
            .thumbs_url3 = "https://thumb.example/" + fsId};
}

ListEntry folderEntry(const std::string& path, const std::string& fsId) {
    return {.server_filename = lastPiece(path),
            .path = path,
            .local_ctime = "1700000000",
            .fs_id = fsId};
}

// ---------------------------------------------------------------------------
// The service: a folder tree keyed by the encoded dir a listing asks for, a
// scripted reply per fs_id (a success by default), rename answers and a log
// of every request. It outlives the runs; each run gets its own FakeApi.

struct ShareRequest {
    std::string period, code, fsId;
};
struct RenameRequest {
    std::string path, newName;
};

class FakeService {
public:
    std::map<std::string, Listing> tree;
    // Folders whose listing fails, with the reason.
    std::map<std::string, std::string> failingDirs;
    std::map<std::string, ShareReply> shareReplies; // by fs_id
    std::set<std::string> refusedRenames;           // by path
    // Shares that block until the run's stop is requested, then answer
    // slowReply (by default nothing: the request was abandoned).
    std::set<std::string> slowShares;
    ShareReply slowReply;
    // Run inside the request, on the worker, before the answer.
    std::function<void(std::string_view dir)> onListing;
    std::function<void(std::string_view fsId)> onShare;

    std::atomic<int> apisMade{0};

    // The account's share list, newest first, as the run's first look at it
    // finds it; empty unless a test fills it.
    std::vector<ServiceShare> shareList;
    std::optional<Error> shareListError; // the share list cannot be read

    // Read while no run is going, or under waitFor.
    std::vector<std::string> log; // every request, in order
    std::vector<std::string> listedDirs;
    std::vector<ShareRequest> shares;
    std::vector<RenameRequest> renames;

    std::vector<std::string> sharedIds() const {
        std::vector<std::string> ids;
        for (const ShareRequest& s : shares)
            ids.push_back(s.fsId);
        return ids;
    }

    Expected<Listing> list(std::string_view dir) {
        note([&] {
            log.push_back("list " + std::string(dir));
            listedDirs.emplace_back(dir);
        });
        if (onListing)
            onListing(dir);
        if (const auto refused = failingDirs.find(std::string(dir)); refused != failingDirs.end())
            return Error{refused->second};
        const auto found = tree.find(std::string(dir));
        return found == tree.end() ? Listing{} : found->second;
    }

    ShareReply share(std::string_view period, std::string_view code, std::string_view fsId,
                     const std::stop_token& stop) {
        const bool slow = slowShares.contains(std::string(fsId));
        note([&] {
            log.push_back("share " + std::string(fsId));
            shares.push_back({std::string(period), std::string(code), std::string(fsId)});
            inFlight_ = slow;
        });
        if (onShare)
            onShare(fsId);
        if (slow) {
            // Capped, so that a stop that never arrives fails the test
            // instead of hanging it.
            std::mutex m;
            std::condition_variable_any cv;
            std::unique_lock lock(m);
            cv.wait_for(lock, stop, 60s, [] { return false; });
            return slowReply;
        }
        const auto found = shareReplies.find(std::string(fsId));
        return found == shareReplies.end() ? sharedReply(fsId) : found->second;
    }

    RenameReply rename(std::string_view path, std::string_view newName) {
        note([&] {
            log.push_back("rename " + std::string(path) + " -> " + std::string(newName));
            renames.push_back({std::string(path), std::string(newName)});
        });
        if (refusedRenames.contains(std::string(path)))
            return {.renamed = false, .errnoValue = -8};
        return {.renamed = true, .errnoValue = 0};
    }

    bool waitForSlowShare() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kGuard, [this] { return inFlight_; });
    }

private:
    template <class F> void note(F&& change) {
        {
            std::lock_guard lock(mutex_);
            change();
        }
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool inFlight_ = false;
};

class FakeApi : public NetdiskApi {
public:
    FakeApi(FakeService& service, std::stop_token stop)
        : service_(service), stop_(std::move(stop)) {}

    Expected<Listing> fetchListing(std::string_view dir) override { return service_.list(dir); }
    ShareReply createShareLink(std::string_view period, std::string_view code,
                               std::string_view fsId) override {
        return service_.share(period, code, fsId, stop_);
    }
    RenameReply renameItem(std::string_view path, std::string_view newName) override {
        return service_.rename(path, newName);
    }
    Expected<std::vector<ServiceShare>> findSharesSince(std::int64_t since) override {
        service_.log.push_back("share list since " + std::to_string(since));
        if (service_.shareListError)
            return *service_.shareListError;
        return service_.shareList;
    }

private:
    FakeService& service_;
    std::stop_token stop_;
};

// ---------------------------------------------------------------------------
// The front end: records every call; messages return at once.

const char* iconName(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::None:
        return "none";
    case MessageIcon::Information:
        return "information";
    case MessageIcon::Error:
        return "error";
    }
    return "?";
}

const char* endName(RunEnd end) {
    switch (end) {
    case RunEnd::Completed:
        return "completed";
    case RunEnd::QuotaReached:
        return "quota";
    case RunEnd::Stopped:
        return "stopped";
    case RunEnd::LedgerFailed:
        return "ledger failed";
    case RunEnd::ListingFailed:
        return "listing failed";
    case RunEnd::RunRefused:
        return "run refused";
    case RunEnd::SettleFailed:
        return "settle failed";
    }
    return "?";
}

struct Message {
    std::string text;
    MessageIcon icon;
};

class RecordingObserver : public ShareObserver {
public:
    // Read once the run has ended, or under waitUntil.
    std::vector<std::string> events;
    std::vector<int> maximums;
    std::vector<int> positions;
    // Where the run said it is; "done" also goes to `events`.
    std::vector<RunPhase> phases;
    std::vector<Message> messages;
    std::vector<EntryOutcome> outcomes;
    std::optional<RunSummary> finished;

    void setProgressMaximum(int n) override {
        note([&] {
            maximums.push_back(n);
            events.push_back("max " + std::to_string(n));
        });
    }
    void setProgressPosition(int n) override {
        note([&] {
            positions.push_back(n);
            events.push_back("pos " + std::to_string(n));
        });
    }
    void runPhase(RunPhase phase) override {
        note([&] {
            phases.push_back(phase);
            if (phase == RunPhase::Done)
                events.push_back("done");
        });
    }
    void showMessage(std::string_view text, MessageIcon icon, std::stop_token) override {
        note([&] {
            messages.push_back({std::string(text), icon});
            events.push_back("message " + std::string(text) + " " + iconName(icon));
        });
    }
    // Kept apart from `events`: what the front end shows between entries.
    std::vector<std::string> started;
    std::vector<std::chrono::milliseconds> announcedPauses;

    void entryStarted(std::string_view path) override {
        note([&] { started.emplace_back(path); });
    }
    void pauseStarted(std::chrono::milliseconds length) override {
        note([&] { announcedPauses.push_back(length); });
    }
    void entryFinished(const EntryOutcome& outcome) override {
        note([&] {
            outcomes.push_back(outcome);
            const char* verdict = outcome.verdict == EntryVerdict::Shared   ? "shared"
                                  : outcome.verdict == EntryVerdict::Failed ? "failed"
                                                                            : "skipped";
            events.push_back(std::string("entry ") + verdict + " " + outcome.path);
        });
    }
    void runFinished(const RunSummary& summary) override {
        note([&] {
            finished = summary;
            events.push_back(std::string("finished ") + endName(summary.end));
        });
    }

    bool waitUntil(const std::function<bool(const RecordingObserver&)>& done) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kGuard, [&] { return done(*this); });
    }
    bool waitForEnd() {
        return waitUntil([](const RecordingObserver& o) { return o.finished.has_value(); });
    }
    bool waitForOutcomes(std::size_t n) {
        return waitUntil([n](const RecordingObserver& o) { return o.outcomes.size() >= n; });
    }

    void clear() {
        std::lock_guard lock(mutex_);
        events.clear();
        maximums.clear();
        positions.clear();
        phases.clear();
        messages.clear();
        outcomes.clear();
        started.clear();
        announcedPauses.clear();
        finished.reset();
    }

private:
    template <class F> void note(F&& change) {
        {
            std::lock_guard lock(mutex_);
            change();
        }
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
};

class ScratchLedger {
public:
    ScratchLedger() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vantorel-run-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            std::abort();
        dir_ = pattern;
    }
    ~ScratchLedger() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::filesystem::path file() const { return dir_ / "linkledger.db"; }

private:
    std::filesystem::path dir_;
};

// ---------------------------------------------------------------------------

class ShareRunTest : public ::testing::Test {
protected:
    ShareRunTest() { makeRun(/*realPause=*/false); }

    void SetUp() override { ASSERT_TRUE(ledger.openOrCreate(":memory:")); }

    // The counting pause records each pause and returns at once (stopped when
    // a stop was requested); the real one waits with waitFor.
    void makeRun(bool realPause) {
        run.reset();
        PauseFunction pause;
        if (!realPause) {
            pause = [this](std::stop_token stop, std::chrono::milliseconds duration) {
                pauses.push_back(duration);
                return stop.stop_requested() ? WaitResult::Stopped : WaitResult::Completed;
            };
        }
        run = std::make_unique<ShareRun>(
            ledger, observer,
            [this](LoginContext&, std::stop_token stop) -> std::unique_ptr<NetdiskApi> {
                ++service.apisMade;
                return std::make_unique<FakeApi>(service, std::move(stop));
            },
            std::move(pause));
    }

    static LoginContext login(std::string currentPath, std::string selection = "[]") {
        return {.cookieText = "BDUSS=fake; STOKEN=fake",
                .userName = std::string(kUser),
                .bdstoken = std::string(kToken),
                .currentPath = std::move(currentPath),
                .selectionJson = std::move(selection)};
    }

    static ShareOptions options(ShareType shareType) {
        ShareOptions o;
        o.shareType = shareType;
        o.intervalSeconds = 3;
        return o;
    }

    // Starts a run and waits for its end.
    RunSummary runToEnd(LoginContext context, ShareOptions opts) {
        observer.clear();
        pauses.clear();
        const Status started = run->start(std::move(context), std::move(opts));
        EXPECT_TRUE(started) << (started ? "" : started.error().message);
        if (!started)
            return {};
        if (!observer.waitForEnd()) {
            ADD_FAILURE() << "the run did not end";
            run->stop();
        }
        run->wait();
        EXPECT_FALSE(run->running());
        return observer.finished.value_or(RunSummary{});
    }

    std::vector<ShareRecord> rows() {
        auto all = ledger.selectRecords(RecordFilter{});
        EXPECT_TRUE(all) << (all ? "" : all.error().message);
        if (!all)
            return {};
        for (ShareRecord& r : *all)
            r.id = 0;
        return *all;
    }

    std::vector<std::string> rowFids() {
        std::vector<std::string> fids;
        for (const ShareRecord& r : rows())
            fids.push_back(r.fid);
        return fids;
    }

    // A row left by an earlier run.
    void recordEarlier(const std::string& fid, const std::string& md5) {
        ShareRecord row{.isdir = "0",
                        .path = "/earlier",
                        .beforename = "earlier",
                        .sharelink = linkFor(fid),
                        .password = "zz99",
                        .md5 = md5,
                        .fid = fid,
                        .username = std::string(kUser)};
        ASSERT_TRUE(ledger.insertRecord(row));
    }

    // A: a1, B{b1}, C{c1}; B is listed before C.
    void addTreeA() {
        service.tree["%2FA"] = {.folders = {folderEntry("/A/B", "201"), folderEntry("/A/C", "202")},
                                .files = {fileEntry("/A/a1.txt", "101")}};
        service.tree["%2FA%2FB"] = {.files = {fileEntry("/A/B/b1.txt", "102")}};
        service.tree["%2FA%2FC"] = {.files = {fileEntry("/A/C/c1.txt", "103")}};
    }

    RecordStore ledger;
    FakeService service;
    RecordingObserver observer;
    std::vector<std::chrono::milliseconds> pauses; // written by the worker
    std::unique_ptr<ShareRun> run;                 // last: ends before the rest goes
};

// ---------------------------------------------------------------------------
// Walk and passes

struct WalkCase {
    const char* name;
    ShareType shareType;
    std::vector<std::string> listed;
    std::vector<std::string> shared; // fs_ids in request order
    int maximum;
    std::vector<int> positions;
};

class WalkByShareType : public ShareRunTest, public ::testing::WithParamInterface<WalkCase> {};

TEST_P(WalkByShareType, ListsSharesAndCountsAsTheTypeSays) {
    const WalkCase& c = GetParam();
    addTreeA();
    const RunSummary summary = runToEnd(login("%2FA"), options(c.shareType));

    EXPECT_EQ(service.listedDirs, c.listed);
    EXPECT_EQ(service.sharedIds(), c.shared);
    EXPECT_THAT(observer.maximums, ElementsAre(c.maximum));
    EXPECT_EQ(observer.positions, c.positions);
    EXPECT_EQ(rowFids(), c.shared);
    for (const ShareRecord& r : rows())
        EXPECT_EQ(r.isdir, r.fid.starts_with("2") ? "1" : "0") << r.path;
    // One pause after every entry of every pass, none without a pass.
    EXPECT_EQ(pauses, std::vector<std::chrono::milliseconds>(c.shared.size(), 3000ms));
    EXPECT_EQ(summary.end, RunEnd::Completed);
    EXPECT_EQ(summary.shared, static_cast<int>(c.shared.size()));
    ASSERT_EQ(observer.messages.size(), 1u);
    EXPECT_EQ(observer.messages[0].text, kRunCompletedMessage);
}

INSTANTIATE_TEST_SUITE_P(
    Types, WalkByShareType,
    ::testing::Values(
        WalkCase{"FilesThenFolders",
                 ShareType::FilesAndFolders,
                 {"%2FA"},
                 {"101", "201", "202"},
                 3,
                 {1, 2, 3, 0}},
        WalkCase{"FilesOnly", ShareType::Files, {"%2FA"}, {"101"}, 1, {1, 0}},
        WalkCase{"FoldersOnly", ShareType::Folders, {"%2FA"}, {"201", "202"}, 2, {1, 2, 0}},
        WalkCase{"FilesInSubfolders",
                 ShareType::FilesWithSubfolders,
                 {"%2FA", "%2FA%2FB", "%2FA%2FC"},
                 {"101", "102", "103"},
                 5,
                 {1, 2, 3, 0}},
        WalkCase{"FoldersInSubfolders",
                 ShareType::FoldersWithSubfolders,
                 {"%2FA", "%2FA%2FB", "%2FA%2FC"},
                 {"201", "202"},
                 5,
                 {1, 2, 0}},
        WalkCase{"NoPassOutsideTheTypes", static_cast<ShareType>(0), {"%2FA"}, {}, 3, {0}}),
    CaseName{});

TEST_F(ShareRunTest, WalkIsDepthFirstWithParentsFirst) {
    service.tree["%2FX"] = {.folders = {folderEntry("/X/B", "21"), folderEntry("/X/C", "22")},
                            .files = {fileEntry("/X/x1", "11")}};
    service.tree["%2FX%2FB"] = {.folders = {folderEntry("/X/B/D", "23")},
                                .files = {fileEntry("/X/B/b1", "12")}};
    service.tree["%2FX%2FB%2FD"] = {.files = {fileEntry("/X/B/D/d1", "13")}};
    service.tree["%2FX%2FC"] = {.files = {fileEntry("/X/C/c1", "14")}};

    runToEnd(login("%2FX"), options(ShareType::FilesWithSubfolders));
    EXPECT_THAT(service.listedDirs, ElementsAre("%2FX", "%2FX%2FB", "%2FX%2FB%2FD", "%2FX%2FC"));
    EXPECT_THAT(service.sharedIds(), ElementsAre("11", "12", "13", "14"));

    service.listedDirs.clear();
    service.shares.clear();
    runToEnd(login("%2FX"), options(ShareType::FoldersWithSubfolders));
    EXPECT_THAT(service.listedDirs, ElementsAre("%2FX", "%2FX%2FB", "%2FX%2FB%2FD", "%2FX%2FC"));
    EXPECT_THAT(service.sharedIds(), ElementsAre("21", "22", "23"));
}

TEST_F(ShareRunTest, SubfolderDirsAreFormEncodedAndAFailedListingIsPassedOver) {
    service.tree["%2FE"] = {
        .folders = {folderEntry("/E/my docs", "31"), folderEntry("/E/it's", "32"),
                    folderEntry("/E/\xE6\x96\x87\xE6\xA1\xA3", "33"), folderEntry("/E/gone", "34")},
        .files = {}};
    service.tree["%2FE%2Fmy+docs"] = {.files = {fileEntry("/E/my docs/m1", "41")}};
    service.tree["%2FE%2Fit's"] = {.files = {fileEntry("/E/it's/i1", "42")}};
    service.tree["%2FE%2F%E6%96%87%E6%A1%A3"] = {
        .files = {fileEntry("/E/\xE6\x96\x87\xE6\xA1\xA3/w1", "43")}};
    service.tree["%2FE%2Fgone%2Fafter"] = {.files = {fileEntry("/never", "49")}};

    const RunSummary summary = runToEnd(login("%2FE"), options(ShareType::FilesWithSubfolders));
    EXPECT_THAT(service.listedDirs, ElementsAre("%2FE", "%2FE%2Fmy+docs", "%2FE%2Fit's",
                                                "%2FE%2F%E6%96%87%E6%A1%A3", "%2FE%2Fgone"));
    EXPECT_THAT(service.sharedIds(), ElementsAre("41", "42", "43"));
    EXPECT_EQ(summary.end, RunEnd::Completed);
}

TEST_F(ShareRunTest, CurrentPathIsListedAsGivenEvenWhenEmpty) {
    runToEnd(login(""), options(ShareType::FilesAndFolders));
    EXPECT_THAT(service.listedDirs, ElementsAre(""));
    runToEnd(login("%2F%E6%88%91%E7%9A%84"), options(ShareType::FilesAndFolders));
    EXPECT_THAT(service.listedDirs, ElementsAre("", "%2F%E6%88%91%E7%9A%84"));
    // An empty listing: nothing to do, the run completes at once.
    EXPECT_THAT(observer.events, ElementsAre("max 0", "message 分享完成! information", "done",
                                             "pos 0", "finished completed"));
}

// ---------------------------------------------------------------------------
// Rows

struct RowCase {
    const char* name;
    ShareType shareType;   // the tree holds one file and one folder
    std::string selection; // "[]" for folder mode
    ShareReply reply;      // for every share
    ShareRecord expected;  // id left 0
    EntryVerdict verdict;
};

constexpr std::string_view kSelectedFile =
    R"([{"fs_id":794385162349235,"server_filename":"s1.txt","path":"/S/s1.txt",)"
    R"("md5":"md5-s1","isdir":0,"size":1536,"thumbs":{"url3":"https://thumb.example/s1"}}])";
constexpr std::string_view kSelectedFolder =
    R"([{"fs_id":302,"server_filename":"SD","path":"/S/SD","isdir":1,"size":0}])";

class RowTable : public ShareRunTest, public ::testing::WithParamInterface<RowCase> {};

TEST_P(RowTable, EveryColumnAsThePassAndOutcomeSay) {
    const RowCase& c = GetParam();
    // The folder entry carries file fields it should never have, to show
    // that the folder pass leaves them out on its own.
    ListEntry folder = folderEntry("/R/F", "501");
    folder.md5 = "not-for-folders";
    folder.size = "9.9K";
    folder.thumbs_url3 = "https://thumb.example/not-for-folders";
    ListEntry file = fileEntry("/R/r1.mp4", "401", "md5-r1");
    file.size = "2.0M";
    service.tree["%2FR"] = {.folders = {folder}, .files = {file}};
    for (const char* id : {"401", "501", "794385162349235", "302"})
        service.shareReplies[id] = c.reply;

    ShareOptions opts = options(c.shareType);
    opts.password = "ab12";
    const RunSummary summary = runToEnd(login("%2FR", c.selection), opts);

    std::vector<ShareRecord> all = rows();
    ASSERT_EQ(all.size(), 1u);
    const ShareRecord& got = all[0];
    const ShareRecord& want = c.expected;
    EXPECT_EQ(got.isdir, want.isdir);
    EXPECT_EQ(got.path, want.path);
    EXPECT_EQ(got.beforename, want.beforename);
    EXPECT_EQ(got.aftername, want.aftername);
    EXPECT_EQ(got.sharelink, want.sharelink);
    EXPECT_EQ(got.password, want.password);
    EXPECT_EQ(got.sharetime, want.sharetime);
    EXPECT_EQ(got.size, want.size);
    EXPECT_EQ(got.md5, want.md5);
    EXPECT_EQ(got.pic, want.pic);
    EXPECT_EQ(got.fid, want.fid);
    EXPECT_EQ(got.username, want.username);
    EXPECT_EQ(got.other, "other");

    ASSERT_EQ(observer.outcomes.size(), 1u);
    const EntryOutcome& outcome = observer.outcomes[0];
    EXPECT_EQ(outcome.verdict, c.verdict);
    EXPECT_EQ(outcome.path, want.path);
    if (c.verdict == EntryVerdict::Shared) {
        EXPECT_EQ(outcome.link, want.sharelink);
        EXPECT_EQ(outcome.code, "ab12");
        EXPECT_EQ(summary.shared, 1);
    } else {
        EXPECT_EQ(outcome.errnoText, std::to_string(c.reply.errnoValue.value_or(0)));
        EXPECT_EQ(summary.failed, 1);
    }
    EXPECT_EQ(summary.end, RunEnd::Completed);
}

const std::string kUserText(kUser);
const std::string kTimeText(kShareTime);

INSTANTIATE_TEST_SUITE_P(
    Passes, RowTable,
    ::testing::Values(RowCase{"FileShared", ShareType::Files, "[]", sharedReply("401"),
                              ShareRecord{.isdir = "0",
                                          .path = "/R/r1.mp4",
                                          .beforename = "r1.mp4",
                                          .sharelink = linkFor("401"),
                                          .password = "ab12",
                                          .sharetime = kTimeText,
                                          .size = "2.0M",
                                          .md5 = "md5-r1",
                                          .pic = "https://thumb.example/401",
                                          .fid = "401",
                                          .username = kUserText},
                              EntryVerdict::Shared},
                      RowCase{"FileSharedWithoutTime", ShareType::Files, "[]",
                              ShareReply{.outcome = ShareOutcome::Shared,
                                         .link = linkFor("401"),
                                         .errnoValue = 0},
                              ShareRecord{.isdir = "0",
                                          .path = "/R/r1.mp4",
                                          .beforename = "r1.mp4",
                                          .sharelink = linkFor("401"),
                                          .password = "ab12",
                                          .sharetime = "",
                                          .size = "2.0M",
                                          .md5 = "md5-r1",
                                          .pic = "https://thumb.example/401",
                                          .fid = "401",
                                          .username = kUserText},
                              EntryVerdict::Shared},
                      RowCase{"FileFailed", ShareType::Files, "[]", refusedReply(115),
                              ShareRecord{.isdir = "0",
                                          .path = "/R/r1.mp4",
                                          .beforename = "r1.mp4",
                                          .sharelink = "分享失败",
                                          .pic = "https://thumb.example/401",
                                          .fid = "401",
                                          .username = kUserText},
                              EntryVerdict::Failed},
                      RowCase{"FolderShared", ShareType::Folders, "[]", sharedReply("501"),
                              ShareRecord{.isdir = "1",
                                          .path = "/R/F",
                                          .beforename = "F",
                                          .sharelink = linkFor("501"),
                                          .password = "ab12",
                                          .sharetime = kTimeText,
                                          .fid = "501",
                                          .username = kUserText},
                              EntryVerdict::Shared},
                      RowCase{"FolderFailed", ShareType::Folders, "[]", refusedReply(108),
                              ShareRecord{.isdir = "1",
                                          .path = "/R/F",
                                          .beforename = "F",
                                          .sharelink = "分享失败",
                                          .fid = "501",
                                          .username = kUserText},
                              EntryVerdict::Failed},
                      RowCase{"SelectedFileShared", ShareType::Folders, std::string(kSelectedFile),
                              sharedReply("794385162349235"),
                              ShareRecord{.isdir = "0",
                                          .path = "/S/s1.txt",
                                          .beforename = "s1.txt",
                                          .sharelink = linkFor("794385162349235"),
                                          .password = "ab12",
                                          .sharetime = kTimeText,
                                          .size = "1.5K",
                                          .md5 = "md5-s1",
                                          .pic = "https://thumb.example/s1",
                                          .fid = "794385162349235",
                                          .username = kUserText},
                              EntryVerdict::Shared},
                      RowCase{"SelectedFileFailed", ShareType::Folders, std::string(kSelectedFile),
                              refusedReply(-70),
                              ShareRecord{.isdir = "0",
                                          .path = "/S/s1.txt",
                                          .beforename = "s1.txt",
                                          .sharelink = "分享失败",
                                          .size = "1.5K",
                                          .md5 = "md5-s1",
                                          .pic = "https://thumb.example/s1",
                                          .fid = "794385162349235",
                                          .username = kUserText},
                              EntryVerdict::Failed},
                      RowCase{"SelectedFolderShared", ShareType::Files,
                              std::string(kSelectedFolder), sharedReply("302"),
                              ShareRecord{.isdir = "1",
                                          .path = "/S/SD",
                                          .beforename = "SD",
                                          .sharelink = linkFor("302"),
                                          .password = "ab12",
                                          .sharetime = kTimeText,
                                          .size = "0.0K",
                                          .fid = "302",
                                          .username = kUserText},
                              EntryVerdict::Shared},
                      RowCase{"SelectedFolderFailed", ShareType::Files,
                              std::string(kSelectedFolder), refusedReply(-9),
                              ShareRecord{.isdir = "1",
                                          .path = "/S/SD",
                                          .beforename = "SD",
                                          .sharelink = "分享失败",
                                          .size = "0.0K",
                                          .fid = "302",
                                          .username = kUserText},
                              EntryVerdict::Failed}),
    CaseName{});

// ---------------------------------------------------------------------------
// Selection

TEST_F(ShareRunTest, SelectionReadsIsdirAndSizeOfEachMemberAndListsNothing) {
    const struct {
        const char* member; // the JSON member's fields after fs_id and path
        const char* isdir;
        const char* size;
    } members[] = {
        {R"("isdir":1,"size":0)", "1", "0.0K"},           {R"("isdir":0,"size":1536)", "0", "1.5K"},
        {R"("isdir":"1","size":"1048576")", "1", "1.0M"}, {R"("size":3221225472)", "0", "3.0G"},
        {R"("isdir":2,"size":"big")", "0", "0.0K"},       {R"("isdir":true)", "0", "0.0K"},
    };
    std::string selection = "[";
    std::vector<std::string> ids;
    for (std::size_t i = 0; i < std::size(members); ++i) {
        const std::string id = std::to_string(900 + i);
        ids.push_back(id);
        selection += (i ? "," : "") + std::string(R"({"fs_id":)") + id + R"(,"path":"/S/)" + id +
                     R"(","server_filename":")" + id + R"(",)" + members[i].member + "}";
    }
    selection += "]";
    addTreeA();

    // The share type plays no part: type 2 would share no folder.
    const RunSummary summary = runToEnd(login("%2FA", selection), options(ShareType::Files));
    EXPECT_THAT(service.listedDirs, IsEmpty());
    EXPECT_EQ(service.sharedIds(), ids);
    const std::vector<ShareRecord> all = rows();
    ASSERT_EQ(all.size(), std::size(members));
    for (std::size_t i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(members[i].member);
        EXPECT_EQ(all[i].isdir, members[i].isdir);
        EXPECT_EQ(all[i].size, members[i].size);
        EXPECT_EQ(all[i].path, "/S/" + ids[i]);
    }
    EXPECT_THAT(observer.maximums, ElementsAre(6));
    EXPECT_THAT(observer.positions, ElementsAre(1, 2, 3, 4, 5, 6, 0));
    EXPECT_EQ(pauses.size(), 6u);
    EXPECT_EQ(summary.shared, 6);
}

TEST_F(ShareRunTest, SelectedItemsAreLookedUpByFidNotByMd5) {
    recordEarlier("301", "some-other-md5"); // s1's fid
    recordEarlier("999", "md5-s2");         // s2's MD5 under another fid
    const std::string selection =
        R"([{"fs_id":301,"path":"/S/s1","server_filename":"s1","md5":"md5-s1","isdir":0},)"
        R"({"fs_id":302,"path":"/S/s2","server_filename":"s2","md5":"md5-s2","isdir":0}])";

    const RunSummary summary =
        runToEnd(login("%2FS", selection), options(ShareType::FilesAndFolders));
    EXPECT_THAT(service.sharedIds(), ElementsAre("302"));
    EXPECT_EQ(summary.skipped, 1);
    EXPECT_EQ(summary.shared, 1);
    // The skipped item sent no request, so it does not wait.
    EXPECT_EQ(pauses.size(), 1u);
    EXPECT_THAT(observer.positions, ElementsAre(1, 2, 0));
}

struct NoEntriesCase {
    const char* name;
    std::string selection;
};

class UnreadableSelection : public ShareRunTest,
                            public ::testing::WithParamInterface<NoEntriesCase> {};

// A page that could not say what is selected is not a selection of nothing:
// the run does not start, so nothing looks done.
TEST_P(UnreadableSelection, IsRefusedBeforeAnyRequest) {
    addTreeA();
    const Status started =
        run->start(login("%2FA", GetParam().selection), options(ShareType::FilesAndFolders));
    ASSERT_FALSE(started);
    EXPECT_EQ(started.error().code, static_cast<int>(StartRefusal::SelectionUnreadable));
    EXPECT_EQ(started.error().message, kSelectionUnreadableMessage);
    run->wait();
    EXPECT_EQ(service.apisMade, 0);
    EXPECT_THAT(service.log, IsEmpty());
    EXPECT_THAT(observer.events, IsEmpty());
    EXPECT_THAT(rows(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Texts, UnreadableSelection,
                         ::testing::Values(NoEntriesCase{"Empty", ""},
                                           NoEntriesCase{"InvalidJson", "[{\"fs_id\":1,"},
                                           NoEntriesCase{"NotAnArray", R"({"fs_id":1})"}),
                         CaseName{});

// Only the exact "[]" walks the folder; an empty array written otherwise is
// a selection of nothing.
TEST_F(ShareRunTest, EmptyArrayWrittenWithABlankSelectsNothing) {
    addTreeA();
    const RunSummary summary = runToEnd(login("%2FA", " []"), options(ShareType::FilesAndFolders));
    EXPECT_THAT(service.log, IsEmpty());
    EXPECT_THAT(rows(), IsEmpty());
    EXPECT_THAT(pauses, IsEmpty());
    EXPECT_EQ(summary.end, RunEnd::Completed);
    EXPECT_THAT(observer.events, ElementsAre("max 0", "message 分享完成! information", "done",
                                             "pos 0", "finished completed"));
}

// The fs_id goes into the share request as it stands; one that is not a
// decimal integer (the page's own or a crafted selection) is refused there:
// a failure line with the reason, no request, no row. The valid items
// around it are shared.
struct FsIdCase {
    const char* name;
    const char* fsId; // the member's fs_id as JSON, or nothing for none
};

class InvalidFsId : public ShareRunTest, public ::testing::WithParamInterface<FsIdCase> {};

TEST_P(InvalidFsId, IsRefusedWithoutARequestOrARow) {
    const char* fsId = GetParam().fsId;
    const std::string member = std::string(R"({"path":"/S/bad","server_filename":"bad")") +
                               (fsId != nullptr ? std::string(R"(,"fs_id":)") + fsId : "") +
                               R"(,"isdir":0})";
    const std::string selection = R"([{"fs_id":11,"path":"/S/a","server_filename":"a"},)" + member +
                                  R"(,{"fs_id":"12","path":"/S/b","server_filename":"b"}])";

    const RunSummary summary =
        runToEnd(login("%2FS", selection), options(ShareType::FilesAndFolders));
    EXPECT_THAT(service.sharedIds(), ElementsAre("11", "12"));
    EXPECT_THAT(rowFids(), ElementsAre("11", "12"));
    ASSERT_EQ(observer.outcomes.size(), 3u);
    const EntryOutcome& refused = observer.outcomes[1];
    EXPECT_EQ(refused.verdict, EntryVerdict::Failed);
    EXPECT_EQ(refused.path, "/S/bad");
    EXPECT_EQ(refused.reason, kInvalidFsIdReason);
    EXPECT_EQ(refused.errnoText, "");
    EXPECT_THAT(observer.started, ElementsAre("/S/a", "/S/b"));
    EXPECT_EQ(summary.failed, 1);
    EXPECT_EQ(summary.shared, 2);
    EXPECT_EQ(summary.end, RunEnd::Completed);
    // Only the two requests wait.
    EXPECT_EQ(pauses.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Selection, InvalidFsId,
    ::testing::Values(FsIdCase{"ThreeIdsInOneText", R"("a,b,c")"},
                      FsIdCase{"DigitsJoinedByCommas", R"("1,2,3")"},
                      FsIdCase{"AnArrayOfIds", R"(["1","2"])"}, FsIdCase{"Missing", nullptr},
                      FsIdCase{"Empty", R"("")"}, FsIdCase{"Null", "null"},
                      FsIdCase{"Negative", "-5"}, FsIdCase{"Fraction", "1.5"},
                      FsIdCase{"Hexadecimal", R"("0x10")"}, FsIdCase{"Blank", R"(" 12")"},
                      FsIdCase{"Object", R"({"id":1})"}, FsIdCase{"Bracket", R"("1]")"},
                      FsIdCase{"TooLong", R"("123456789012345678901")"}),
    CaseName{});

TEST_F(ShareRunTest, AListedEntryWithAnInvalidFsIdIsRefusedToo) {
    service.tree["%2FL"] = {.files = {fileEntry("/L/x", "1,2"), fileEntry("/L/y", "31")}};
    const RunSummary summary = runToEnd(login("%2FL"), options(ShareType::Files));
    EXPECT_THAT(service.sharedIds(), ElementsAre("31"));
    EXPECT_THAT(rowFids(), ElementsAre("31"));
    EXPECT_EQ(summary.failed, 1);
    ASSERT_FALSE(observer.outcomes.empty());
    EXPECT_EQ(observer.outcomes[0].reason, kInvalidFsIdReason);
}

// ---------------------------------------------------------------------------
// Skips, retries, codes

// Every folder row has an empty MD5, so a file without one went by that
// and was skipped as soon as one folder was recorded. It goes by its fid.
TEST_F(ShareRunTest, AFileWithoutAnMd5IsLookedUpByItsFid) {
    ListEntry bare = fileEntry("/N/bare.txt", "81");
    bare.md5.clear();
    ListEntry other = fileEntry("/N/other.txt", "82");
    other.md5.clear();
    service.tree["%2FN"] = {.files = {bare, other}};
    recordEarlier("201", ""); // a folder's row
    service.shareReplies["82"] = refusedReply();

    const RunSummary first = runToEnd(login("%2FN"), options(ShareType::Files));
    EXPECT_THAT(service.sharedIds(), ElementsAre("81", "82"));
    EXPECT_EQ(first.shared, 1);
    EXPECT_EQ(first.failed, 1);

    // The shared one is skipped; the failed one is tried again, as every
    // failed file is.
    service.shares.clear();
    service.shareReplies.clear();
    const RunSummary second = runToEnd(login("%2FN"), options(ShareType::Files));
    EXPECT_THAT(service.sharedIds(), ElementsAre("82"));
    EXPECT_EQ(second.skipped, 1);
    EXPECT_EQ(second.shared, 1);

    service.shares.clear();
    const RunSummary third = runToEnd(login("%2FN"), options(ShareType::Files));
    EXPECT_THAT(service.shares, IsEmpty());
    EXPECT_EQ(third.skipped, 2);
}

// A skipped entry sends no request, so it does not wait.
TEST_F(ShareRunTest, FilePassSkipsByMd5AndFolderPassByFidWithoutAPause) {
    addTreeA();
    recordEarlier("other-fid", "md5-101"); // a1's MD5: skipped
    recordEarlier("102", "changed-md5");   // b1's fid only: the file pass does not look at it
    recordEarlier("201", "");              // folder B by fid

    const RunSummary summary = runToEnd(login("%2FA"), options(ShareType::FilesWithSubfolders));
    EXPECT_THAT(service.sharedIds(), ElementsAre("102", "103"));
    EXPECT_EQ(summary.skipped, 1);
    EXPECT_EQ(pauses.size(), 2u);
    ASSERT_FALSE(observer.outcomes.empty());
    EXPECT_EQ(observer.outcomes[0].verdict, EntryVerdict::Skipped);
    EXPECT_EQ(observer.outcomes[0].path, "/A/a1.txt");

    service.shares.clear();
    const RunSummary folders = runToEnd(login("%2FA"), options(ShareType::Folders));
    EXPECT_THAT(service.sharedIds(), ElementsAre("202"));
    EXPECT_EQ(folders.skipped, 1);
    EXPECT_EQ(pauses.size(), 1u);
}

TEST_F(ShareRunTest, EntriesNotYetRecordedAreAnnouncedAndEveryPauseIsNamed) {
    addTreeA();
    recordEarlier("other-fid", "md5-101"); // a1: skipped, so never announced
    const RunSummary summary = runToEnd(login("%2FA"), options(ShareType::FilesWithSubfolders));
    EXPECT_EQ(summary.shared, 2);
    EXPECT_THAT(observer.started, ElementsAre("/A/B/b1.txt", "/A/C/c1.txt"));
    // One before each pause the run makes; a skipped entry makes none.
    EXPECT_EQ(observer.announcedPauses, pauses);
    EXPECT_EQ(observer.announcedPauses, std::vector<std::chrono::milliseconds>(2, 3000ms));
}

TEST_F(ShareRunTest, SelectedItemsAreAnnouncedAsSelected) {
    const RunSummary summary =
        runToEnd(login("%2F", R"([{"server_filename":"x.txt","path":"/sel/x.txt","fs_id":"9"}])"),
                 options(ShareType::FilesAndFolders));
    EXPECT_EQ(summary.shared, 1);
    EXPECT_THAT(observer.started, ElementsAre("/sel/x.txt"));
    EXPECT_EQ(observer.announcedPauses.size(), 1u);
}

// The main use of a daily limit: day after day over one large folder, where
// most entries are recorded already. Those cost no waiting.
TEST_F(ShareRunTest, AFolderRecordedThroughoutSharesNothingAndDoesNotWait) {
    Listing listing;
    for (int i = 0; i < 10; ++i) {
        const std::string id = std::to_string(1000 + i);
        listing.files.push_back(fileEntry("/T/t" + id, id));
        recordEarlier(id, "md5-" + id);
    }
    service.tree["%2FT"] = listing;

    const RunSummary summary = runToEnd(login("%2FT"), options(ShareType::Files));
    EXPECT_THAT(service.shares, IsEmpty());
    EXPECT_EQ(rows().size(), 10u);
    EXPECT_THAT(pauses, IsEmpty());
    EXPECT_EQ(summary.skipped, 10);
    EXPECT_EQ(summary.end, RunEnd::Completed);
    ASSERT_EQ(observer.messages.size(), 1u);
    EXPECT_EQ(observer.messages[0].text, kRunCompletedMessage);
}

struct SameMd5Case {
    const char* name;
    ShareReply first;
    std::vector<std::string> shared;
    std::vector<std::string> links;
};

class TwoFilesOneMd5 : public ShareRunTest, public ::testing::WithParamInterface<SameMd5Case> {};

TEST_P(TwoFilesOneMd5, SecondDependsOnTheFirst) {
    service.tree["%2FM"] = {
        .files = {fileEntry("/M/x1", "601", "same"), fileEntry("/M/x2", "602", "same")}};
    service.shareReplies["601"] = GetParam().first;
    runToEnd(login("%2FM"), options(ShareType::Files));
    EXPECT_EQ(service.sharedIds(), GetParam().shared);
    std::vector<std::string> links;
    for (const ShareRecord& r : rows())
        links.push_back(r.sharelink);
    EXPECT_EQ(links, GetParam().links);
}

INSTANTIATE_TEST_SUITE_P(Outcomes, TwoFilesOneMd5,
                         ::testing::Values(SameMd5Case{"FirstSharedSecondSkipped",
                                                       sharedReply("601"),
                                                       {"601"},
                                                       {linkFor("601")}},
                                           SameMd5Case{"FirstFailedSecondShared",
                                                       refusedReply(),
                                                       {"601", "602"},
                                                       {"分享失败", linkFor("602")}}),
                         CaseName{});

TEST_F(ShareRunTest, NextRunRetriesAFailedFileButNotAFailedFolder) {
    addTreeA();
    service.shareReplies["101"] = refusedReply();
    service.shareReplies["201"] = refusedReply();
    const RunSummary first = runToEnd(login("%2FA"), options(ShareType::FilesAndFolders));
    EXPECT_EQ(first.failed, 2);
    EXPECT_EQ(first.shared, 1);

    service.shareReplies.clear();
    service.shares.clear();
    const RunSummary second = runToEnd(login("%2FA"), options(ShareType::FilesAndFolders));
    EXPECT_THAT(service.sharedIds(), ElementsAre("101"));
    EXPECT_EQ(second.shared, 1);
    EXPECT_EQ(second.skipped, 2);
    EXPECT_THAT(rowFids(), ElementsAre("101", "201", "202", "101"));
}

TEST_F(ShareRunTest, FixedCodeOnEveryRecordAndRandomCodesOtherwise) {
    Listing listing;
    for (int i = 0; i < 6; ++i)
        listing.files.push_back(fileEntry("/K/k" + std::to_string(i), std::to_string(70 + i)));
    service.tree["%2FK"] = listing;

    ShareOptions fixed = options(ShareType::Files);
    fixed.password = "ab12";
    fixed.period = " 7";
    runToEnd(login("%2FK"), fixed);
    ASSERT_EQ(service.shares.size(), 6u);
    for (const ShareRequest& s : service.shares) {
        EXPECT_EQ(s.code, "ab12");
        EXPECT_EQ(s.period, " 7");
    }
    for (const ShareRecord& r : rows())
        EXPECT_EQ(r.password, "ab12");

    ASSERT_TRUE(ledger.deleteAll());
    service.shares.clear();
    runToEnd(login("%2FK"), options(ShareType::Files));
    const std::vector<ShareRecord> all = rows();
    ASSERT_EQ(all.size(), 6u);
    ASSERT_EQ(service.shares.size(), 6u);
    std::set<std::string> distinct;
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_TRUE(std::regex_match(all[i].password, std::regex("[a-z]{2}[0-9]{2}")))
            << all[i].password;
        EXPECT_EQ(all[i].password, service.shares[i].code);
        EXPECT_EQ(service.shares[i].period, "0");
        distinct.insert(all[i].password);
    }
    EXPECT_GT(distinct.size(), 1u) << "every share draws its own code";
}

// ---------------------------------------------------------------------------
// Quota and completion

class QuotaTest : public ShareRunTest {
protected:
    // q1 shared, q2 refused, q3 recorded before, q4 and q5 shared.
    void SetUp() override {
        ShareRunTest::SetUp();
        Listing listing;
        for (int i = 1; i <= 5; ++i)
            listing.files.push_back(fileEntry("/Q/q" + std::to_string(i), std::to_string(80 + i)));
        service.tree["%2FQ"] = listing;
        service.shareReplies["82"] = refusedReply();
        recordEarlier("elsewhere", "md5-83");
    }
};

TEST_F(QuotaTest, EndsRightAfterTheSecondSuccessLeavingTheToolbarAlone) {
    ShareOptions opts = options(ShareType::Files);
    opts.dailyLimit = 2;
    const RunSummary summary = runToEnd(login("%2FQ"), opts);

    EXPECT_THAT(service.sharedIds(), ElementsAre("81", "82", "84"));
    EXPECT_EQ(summary.end, RunEnd::QuotaReached);
    EXPECT_EQ(summary.shared, 2);
    EXPECT_EQ(summary.failed, 1);
    EXPECT_EQ(summary.skipped, 1);
    // No pause after the skipped entry nor after the last share, no
    // completion, no reset of the bar, and the buttons stay as the front end
    // set them at the start.
    EXPECT_EQ(pauses.size(), 2u);
    EXPECT_THAT(observer.positions, ElementsAre(1, 2, 3, 4));
    EXPECT_THAT(observer.phases, ElementsAre(RunPhase::Started));
    ASSERT_EQ(observer.messages.size(), 1u);
    EXPECT_EQ(observer.messages[0].text, kQuotaReachedMessage);
    EXPECT_EQ(observer.messages[0].icon, MessageIcon::None);
    EXPECT_EQ(observer.events.back(), "finished quota");
}

TEST_F(QuotaTest, CountsAcrossPasses) {
    service.tree["%2FP"] = {.folders = {folderEntry("/P/F1", "91"), folderEntry("/P/F2", "92")},
                            .files = {fileEntry("/P/p1", "90")}};
    ShareOptions opts = options(ShareType::FilesAndFolders);
    opts.dailyLimit = 2;
    const RunSummary summary = runToEnd(login("%2FP"), opts);
    EXPECT_THAT(service.sharedIds(), ElementsAre("90", "91"));
    EXPECT_EQ(summary.end, RunEnd::QuotaReached);
}

class NoQuota : public QuotaTest, public ::testing::WithParamInterface<int> {};

TEST_P(NoQuota, SharesEverything) {
    ShareOptions opts = options(ShareType::Files);
    opts.dailyLimit = GetParam();
    const RunSummary summary = runToEnd(login("%2FQ"), opts);
    EXPECT_THAT(service.sharedIds(), ElementsAre("81", "82", "84", "85"));
    EXPECT_EQ(summary.end, RunEnd::Completed);
    EXPECT_EQ(summary.shared, 3);
}

INSTANTIATE_TEST_SUITE_P(Limits, NoQuota, ::testing::Values(0, -1, -100), [](const auto& limit) {
    return limit.param == 0 ? std::string("Zero") : "Minus" + std::to_string(-limit.param);
});

TEST_F(ShareRunTest, CompletionShowsTheMessageThenSetsTheToolbarAndTheBar) {
    service.tree["%2FO"] = {.files = {fileEntry("/O/o1", "55")}};
    const RunSummary summary = runToEnd(login("%2FO"), options(ShareType::Files));
    EXPECT_EQ(summary.end, RunEnd::Completed);
    EXPECT_THAT(observer.events,
                ElementsAre("max 1", "pos 1", "entry shared /O/o1", "message 分享完成! information",
                            "done", "pos 0", "finished completed"));
}

// ---------------------------------------------------------------------------
// Renames

struct RenameCase {
    const char* name;
    RenameMode mode;
    const char* newName; // a pattern for mode 1; empty: no rename request
};

class RenameModes : public ShareRunTest, public ::testing::WithParamInterface<RenameCase> {};

TEST_P(RenameModes, RecordsTheNewNameAndPath) {
    const RenameCase& c = GetParam();
    service.tree["%2FN"] = {.files = {fileEntry("/N/song.mp3", "701")}};
    ShareOptions opts = options(ShareType::Files);
    opts.renameMode = c.mode;
    opts.keywordBefore = "song";
    opts.keywordAfter = "track";
    opts.namePrefix = "pre_";
    opts.nameSuffix = "_bak";
    runToEnd(login("%2FN"), opts);

    const std::vector<ShareRecord> all = rows();
    ASSERT_EQ(all.size(), 1u);
    const ShareRecord& row = all[0];
    EXPECT_EQ(row.beforename, "song.mp3");
    EXPECT_EQ(row.sharelink, linkFor("701"));
    if (std::string_view(c.newName).empty()) {
        EXPECT_THAT(service.renames, IsEmpty());
        EXPECT_EQ(row.path, "/N/song.mp3");
        EXPECT_EQ(row.aftername, "");
        return;
    }
    ASSERT_EQ(service.renames.size(), 1u);
    const RenameRequest& rename = service.renames[0];
    EXPECT_EQ(rename.path, "/N/song.mp3");
    if (c.mode == RenameMode::RandomName)
        EXPECT_TRUE(std::regex_match(rename.newName, std::regex(c.newName))) << rename.newName;
    else
        EXPECT_EQ(rename.newName, c.newName);
    EXPECT_THAT(service.log,
                ElementsAre("list %2FN", "share 701", "rename /N/song.mp3 -> " + rename.newName));
    EXPECT_EQ(row.aftername, rename.newName);
    EXPECT_EQ(row.path, "/N/" + rename.newName);
    ASSERT_EQ(observer.outcomes.size(), 1u);
    EXPECT_EQ(observer.outcomes[0].path, row.path);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, RenameModes,
    ::testing::Values(RenameCase{"None", RenameMode::None, ""},
                      RenameCase{"Encrypt", RenameMode::RandomName, "[0-9]{8}[a-z]{8}\\.mp3"},
                      RenameCase{"Keyword", RenameMode::ReplaceKeyword, "track.mp3"},
                      RenameCase{"Prefix", RenameMode::AddPrefix, "pre_song.mp3"},
                      RenameCase{"Suffix", RenameMode::AddSuffix, "song.mp3_bak"},
                      RenameCase{"PrefixAndSuffix", RenameMode::AddPrefixAndSuffix,
                                 "pre_song.mp3_bak"}),
    CaseName{});

TEST_F(ShareRunTest, ARefusedRenameIsRecordedAsTheServiceHoldsIt) {
    service.tree["%2FN"] = {
        .files = {fileEntry("/N/keep.txt", "711"), fileEntry("/N/move.txt", "712")}};
    service.refusedRenames.insert("/N/keep.txt");
    ShareOptions opts = options(ShareType::Files);
    opts.renameMode = RenameMode::AddPrefix;
    opts.namePrefix = "x_";
    runToEnd(login("%2FN"), opts);

    ASSERT_EQ(service.renames.size(), 2u);
    const std::vector<ShareRecord> all = rows();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].path, "/N/keep.txt");
    EXPECT_EQ(all[0].aftername, "");
    EXPECT_EQ(all[0].sharelink, linkFor("711"));
    EXPECT_EQ(all[1].path, "/N/x_move.txt");
    EXPECT_EQ(all[1].aftername, "x_move.txt");
}

TEST_F(ShareRunTest, QuotesInNamesReachTheRequestsAndTheLedgerUnchanged) {
    service.tree["%2FN"] = {.folders = {folderEntry("/N/it's dir", "723")},
                            .files = {fileEntry("/N/say \"hi\".txt", "721"),
                                      fileEntry("/N/it's.txt", "722"),
                                      fileEntry("/N/refused's.txt", "724")}};
    service.shareReplies["724"] = refusedReply();
    ShareOptions opts = options(ShareType::FilesAndFolders);
    opts.renameMode = RenameMode::AddPrefix;
    opts.namePrefix = "pre_";
    runToEnd(login("%2FN"), opts);

    // A refused share is not renamed.
    ASSERT_EQ(service.renames.size(), 3u);
    EXPECT_EQ(service.renames[0].path, "/N/say \"hi\".txt");
    EXPECT_EQ(service.renames[0].newName, "pre_say \"hi\".txt");
    EXPECT_EQ(service.renames[1].path, "/N/it's.txt");
    EXPECT_EQ(service.renames[1].newName, "pre_it's.txt");
    EXPECT_EQ(service.renames[2].path, "/N/it's dir");
    EXPECT_EQ(service.renames[2].newName, "pre_it's dir");

    const std::vector<ShareRecord> all = rows();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0].beforename, "say \"hi\".txt");
    EXPECT_EQ(all[0].aftername, "pre_say \"hi\".txt");
    EXPECT_EQ(all[0].path, "/N/pre_say \"hi\".txt");
    EXPECT_EQ(all[1].beforename, "it's.txt");
    EXPECT_EQ(all[1].path, "/N/pre_it's.txt");
    EXPECT_EQ(all[2].beforename, "refused's.txt");
    EXPECT_EQ(all[2].path, "/N/refused's.txt");
    EXPECT_EQ(all[2].aftername, "");
    EXPECT_EQ(all[3].isdir, "1");
    EXPECT_EQ(all[3].path, "/N/pre_it's dir");
}

// ---------------------------------------------------------------------------
// Stops

class StopTest : public ShareRunTest {
protected:
    StopTest() { makeRun(/*realPause=*/true); }

    void SetUp() override {
        ShareRunTest::SetUp();
        service.tree["%2FZ"] = {.files = {fileEntry("/Z/z1", "61"), fileEntry("/Z/z2", "62")}};
    }

    static ShareOptions longPauses() {
        ShareOptions o = options(ShareType::Files);
        o.intervalSeconds = 60;
        return o;
    }

    void start(ShareOptions opts = longPauses()) {
        const Status started = run->start(login("%2FZ"), std::move(opts));
        ASSERT_TRUE(started) << started.error().message;
    }

    // Stops the run; a stop that has to wait out the 60 s pause fails here.
    void stopPromptly() {
        const auto began = std::chrono::steady_clock::now();
        run->stop();
        EXPECT_LT(std::chrono::steady_clock::now() - began, kGuard);
        EXPECT_FALSE(run->running());
        ASSERT_TRUE(observer.finished.has_value());
    }
};

TEST_F(StopTest, DuringThePauseEndsTheRunBeforeTheNextEntry) {
    start();
    ASSERT_TRUE(observer.waitForOutcomes(1));
    stopPromptly();

    EXPECT_THAT(service.sharedIds(), ElementsAre("61"));
    EXPECT_THAT(rowFids(), ElementsAre("61"));
    EXPECT_EQ(observer.finished->end, RunEnd::Stopped);
    EXPECT_EQ(observer.finished->shared, 1);
    EXPECT_EQ(run->summary().end, RunEnd::Stopped);
    // The stop command sets the toolbar; the run shows nothing.
    EXPECT_THAT(observer.messages, IsEmpty());
    EXPECT_THAT(observer.phases, ElementsAre(RunPhase::Started, RunPhase::Stopped));
    EXPECT_THAT(observer.positions, ElementsAre(1));
}

struct SlowCase {
    const char* name;
    ShareReply answer; // what the aborted request gives back
};

class StopDuringShare : public StopTest, public ::testing::WithParamInterface<SlowCase> {};

TEST_P(StopDuringShare, AbandonsTheEntryWithoutARow) {
    service.slowShares.insert("61");
    service.slowReply = GetParam().answer;
    ShareOptions opts = longPauses();
    opts.renameMode = RenameMode::AddPrefix;
    opts.namePrefix = "pre_";
    start(opts);
    ASSERT_TRUE(service.waitForSlowShare());
    stopPromptly();

    EXPECT_THAT(service.sharedIds(), ElementsAre("61"));
    EXPECT_THAT(service.renames, IsEmpty());
    EXPECT_THAT(rows(), IsEmpty());
    EXPECT_EQ(observer.finished->end, RunEnd::Stopped);
    EXPECT_EQ(observer.finished->shared, 0);
    EXPECT_THAT(observer.messages, IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Answers, StopDuringShare,
                         ::testing::Values(SlowCase{"Abandoned", ShareReply{}},
                                           SlowCase{"CutOffExchange",
                                                    ShareReply{.outcome = ShareOutcome::NoVerdict,
                                                               .reason = "网络错误: cut off"}}),
                         CaseName{});

TEST_F(StopTest, ASuccessAnsweredBeforeTheStopIsRecordedWithoutRename) {
    service.onShare = [this](std::string_view fsId) {
        if (fsId == "61")
            run->requestStop();
    };
    ShareOptions opts = longPauses();
    opts.renameMode = RenameMode::AddPrefix;
    opts.namePrefix = "pre_";
    start(opts);
    ASSERT_TRUE(observer.waitForEnd());
    stopPromptly();

    EXPECT_THAT(service.sharedIds(), ElementsAre("61"));
    EXPECT_THAT(service.renames, IsEmpty());
    const std::vector<ShareRecord> all = rows();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].sharelink, linkFor("61"));
    EXPECT_EQ(all[0].path, "/Z/z1");
    EXPECT_EQ(all[0].aftername, "");
    EXPECT_EQ(observer.finished->end, RunEnd::Stopped);
    EXPECT_EQ(observer.finished->shared, 1);
}

TEST_F(StopTest, DuringTheWalkRunsNoPass) {
    service.onListing = [this](std::string_view) {
        run->requestStop();
    };
    start();
    ASSERT_TRUE(observer.waitForEnd());
    stopPromptly();
    EXPECT_THAT(service.shares, IsEmpty());
    EXPECT_EQ(observer.finished->end, RunEnd::Stopped);
    EXPECT_THAT(observer.events, ElementsAre("finished stopped"));
}

TEST_F(StopTest, ReachesTheRunWhileAnotherThreadWaitsForIt) {
    start();
    ASSERT_TRUE(observer.waitForOutcomes(1));
    auto waiter = std::async(std::launch::async, [this] { run->wait(); });
    // Give the waiter time to be inside wait(); the request must reach the
    // run however far it got.
    std::this_thread::sleep_for(50ms);
    run->requestStop();
    ASSERT_EQ(waiter.wait_for(kGuard), std::future_status::ready);
    EXPECT_FALSE(run->running());
    EXPECT_EQ(run->summary().end, RunEnd::Stopped);
    EXPECT_THAT(service.sharedIds(), ElementsAre("61"));
}

TEST_F(StopTest, DestroyingTheRunStopsIt) {
    start();
    ASSERT_TRUE(observer.waitForOutcomes(1));
    const auto began = std::chrono::steady_clock::now();
    run.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - began, kGuard);
    ASSERT_TRUE(observer.finished.has_value());
    EXPECT_EQ(observer.finished->end, RunEnd::Stopped);
}

TEST_F(StopTest, WithoutARunDoesNothingAndARunCanFollow) {
    run->stop();
    run->requestStop();
    run->wait();
    EXPECT_FALSE(run->running());
    EXPECT_THAT(observer.events, IsEmpty());

    start(options(ShareType::Files)); // 3 s pauses, cut short by the stop
    ASSERT_TRUE(observer.waitForOutcomes(1));
    stopPromptly();
    run->stop();
    EXPECT_EQ(observer.finished->end, RunEnd::Stopped);
}

TEST_F(StopTest, ASecondStartWhileRunningIsRefused) {
    start();
    ASSERT_TRUE(observer.waitForOutcomes(1));
    const Status again = run->start(login("%2FZ"), longPauses());
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error().code, static_cast<int>(StartRefusal::AlreadyRunning));
    stopPromptly();
    EXPECT_EQ(service.apisMade, 1);
}

// ---------------------------------------------------------------------------
// Refusals and ledger failures

TEST_F(ShareRunTest, StartWithoutBdstokenIsRefusedAndWritesNothing) {
    addTreeA();
    LoginContext noToken = login("%2FA");
    noToken.bdstoken.clear();
    const Status started = run->start(noToken, options(ShareType::FilesAndFolders));
    ASSERT_FALSE(started);
    EXPECT_EQ(started.error().code, static_cast<int>(StartRefusal::NotLoggedIn));
    EXPECT_EQ(started.error().message, kNotLoggedInMessage);
    run->wait();
    EXPECT_FALSE(run->running());
    EXPECT_EQ(service.apisMade, 0);
    EXPECT_THAT(service.log, IsEmpty());
    EXPECT_THAT(observer.events, IsEmpty());
    EXPECT_THAT(rows(), IsEmpty());
}

TEST_F(ShareRunTest, StartWithAClosedLedgerIsRefusedAndWritesNothing) {
    addTreeA();
    ScratchLedger scratch;
    ASSERT_TRUE(ledger.openOrCreate(scratch.file()));
    ASSERT_TRUE(ledger.close());

    const Status started = run->start(login("%2FA"), options(ShareType::FilesAndFolders));
    ASSERT_FALSE(started);
    EXPECT_EQ(started.error().code, static_cast<int>(StartRefusal::NoLedger));
    EXPECT_EQ(started.error().message, std::string(kNoLedgerMessage) + "the ledger is not open");
    EXPECT_EQ(service.apisMade, 0);
    EXPECT_THAT(observer.events, IsEmpty());

    ASSERT_TRUE(ledger.openOrCreate(scratch.file()));
    EXPECT_THAT(rows(), IsEmpty());
}

TEST_F(ShareRunTest, AFailedSuccessRowStopsTheRunWithThePathAndTheLink) {
    service.tree["%2FW"] = {.files = {fileEntry("/W/w1.txt", "41"), fileEntry("/W/w2.txt", "42")}};
    service.onShare = [this](std::string_view) {
        (void)ledger.close();
    };
    const RunSummary summary = runToEnd(login("%2FW"), options(ShareType::Files));

    EXPECT_THAT(service.sharedIds(), ElementsAre("41"));
    EXPECT_EQ(summary.end, RunEnd::LedgerFailed);
    EXPECT_EQ(summary.shared, 0);
    ASSERT_EQ(observer.messages.size(), 1u);
    const Message& m = observer.messages[0];
    EXPECT_THAT(m.text, StartsWith(std::string(kRecordWriteFailedMessage)));
    EXPECT_THAT(m.text, HasSubstr("/W/w1.txt"));
    EXPECT_THAT(m.text, HasSubstr(linkFor("41")));
    EXPECT_EQ(m.icon, MessageIcon::Error);
    EXPECT_THAT(observer.phases, ElementsAre(RunPhase::Started, RunPhase::Done));
    EXPECT_THAT(pauses, IsEmpty());
    EXPECT_THAT(observer.outcomes, IsEmpty());
}

TEST_F(ShareRunTest, ALookupErrorStopsTheRunBeforeAnyShare) {
    addTreeA();
    service.onListing = [this](std::string_view) {
        (void)ledger.close();
    };
    const RunSummary summary = runToEnd(login("%2FA"), options(ShareType::FilesAndFolders));

    EXPECT_THAT(service.shares, IsEmpty());
    EXPECT_EQ(summary.end, RunEnd::LedgerFailed);
    ASSERT_EQ(observer.messages.size(), 1u);
    EXPECT_THAT(observer.messages[0].text, StartsWith(std::string(kRecordReadFailedMessage)));
    EXPECT_EQ(observer.messages[0].icon, MessageIcon::Error);
    EXPECT_THAT(observer.phases, ElementsAre(RunPhase::Started, RunPhase::Done));
}

TEST_F(ShareRunTest, ALostFailureRowLetsTheRunGoOnUntilTheNextLookupFails) {
    const std::string selection = R"([{"fs_id":51,"path":"/S/a","server_filename":"a","isdir":0},)"
                                  R"({"fs_id":52,"path":"/S/b","server_filename":"b","isdir":0}])";
    service.shareReplies["51"] = refusedReply();
    service.onShare = [this](std::string_view) {
        (void)ledger.close();
    };
    const RunSummary summary =
        runToEnd(login("%2FS", selection), options(ShareType::FilesAndFolders));

    EXPECT_THAT(service.sharedIds(), ElementsAre("51"));
    EXPECT_EQ(summary.failed, 1);
    EXPECT_EQ(summary.end, RunEnd::LedgerFailed);
    ASSERT_EQ(observer.messages.size(), 1u);
    EXPECT_THAT(observer.messages[0].text, StartsWith(std::string(kRecordReadFailedMessage)));
}

// ---------------------------------------------------------------------------
// Replies without a verdict

struct NoVerdictCase {
    const char* name;
    ShareReply reply;
};

class NoVerdict : public ShareRunTest, public ::testing::WithParamInterface<NoVerdictCase> {};

TEST_P(NoVerdict, RecordsNothingSoTheNextRunTriesAgain) {
    addTreeA();
    service.shareReplies["101"] = GetParam().reply;
    service.shareReplies["201"] = GetParam().reply;
    const RunSummary first = runToEnd(login("%2FA"), options(ShareType::FilesAndFolders));
    EXPECT_THAT(service.sharedIds(), ElementsAre("101", "201", "202"));
    EXPECT_THAT(rowFids(), ElementsAre("202"));
    EXPECT_EQ(first.shared, 1);
    EXPECT_EQ(first.end, RunEnd::Completed);

    service.shareReplies.clear();
    service.shares.clear();
    const RunSummary second = runToEnd(login("%2FA"), options(ShareType::FilesAndFolders));
    EXPECT_THAT(service.sharedIds(), ElementsAre("101", "201"));
    EXPECT_EQ(second.shared, 2);
}

// The service made the share but its answer was lost: the next run finds it
// in the share list and records it rather than sharing the item again.
TEST_P(NoVerdict, AShareTheServiceMadeIsFoundInItsListAndRecordedNotMadeAgain) {
    addTreeA();
    service.shareReplies["101"] = GetParam().reply;
    const RunSummary first = runToEnd(login("%2FA"), options(ShareType::FilesAndFolders));
    EXPECT_EQ(first.pending, 1);
    ASSERT_FALSE(service.shares.empty());
    const std::string code = service.shares.front().code;

    ServiceShare made;
    made.fsIds = {"101"};
    made.link = "https://pan.example/s/1lost";
    made.ctime = std::chrono::duration_cast<std::chrono::seconds>(
                     std::chrono::system_clock::now().time_since_epoch())
                     .count();
    service.shareList = {made};
    service.shareReplies.clear();
    service.shares.clear();
    const RunSummary second = runToEnd(login("%2FA"), options(ShareType::FilesAndFolders));
    EXPECT_TRUE(service.shares.empty()) << "shared again";
    EXPECT_EQ(second.shared, 1);
    const auto rows = ledger.selectRecords({});
    ASSERT_TRUE(rows);
    const auto row = std::find_if(rows->begin(), rows->end(),
                                  [](const ShareRecord& r) { return r.fid == "101"; });
    ASSERT_NE(row, rows->end());
    EXPECT_EQ(row->sharelink, made.link);
    EXPECT_EQ(row->password, code);
}

// A share list that cannot be read leaves the unsure item unsettled: the
// run shares nothing rather than risk sharing it twice, and a login the
// service no longer takes says so as a share refused with -6 does.
TEST_P(NoVerdict, AShareListThatCannotBeReadEndsTheNextRunBeforeAnyShare) {
    addTreeA();
    service.shareReplies["101"] = GetParam().reply;
    ASSERT_EQ(runToEnd(login("%2FA"), options(ShareType::FilesAndFolders)).pending, 1);
    service.shareReplies.clear();
    service.shares.clear();

    service.shareListError = Error{"分享列表: errno 2", 2};
    const RunSummary failed = runToEnd(login("%2FA"), options(ShareType::FilesAndFolders));
    EXPECT_EQ(failed.end, RunEnd::SettleFailed);
    EXPECT_TRUE(service.shares.empty());

    service.shareListError = Error{"分享列表: errno -6", -6};
    const RunSummary loggedOut = runToEnd(login("%2FA"), options(ShareType::FilesAndFolders));
    EXPECT_EQ(loggedOut.end, RunEnd::RunRefused);
    EXPECT_EQ(loggedOut.refusedErrno, -6);
    EXPECT_TRUE(service.shares.empty());

    service.shareListError.reset();
    const RunSummary settled = runToEnd(login("%2FA"), options(ShareType::FilesAndFolders));
    EXPECT_EQ(settled.end, RunEnd::Completed);
    EXPECT_THAT(service.sharedIds(), ElementsAre("101")) << "not found: shared as usual";
}

INSTANTIATE_TEST_SUITE_P(
    Replies, NoVerdict,
    ::testing::Values(NoVerdictCase{"FailedExchange", ShareReply{.outcome = ShareOutcome::NoVerdict,
                                                                 .reason = "网络错误: reset"}},
                      NoVerdictCase{"NothingAnswered", ShareReply{}},
                      NoVerdictCase{"YesWithoutALink",
                                    ShareReply{.outcome = ShareOutcome::NoVerdict,
                                               .errnoValue = 0,
                                               .reason = "服务确认了分享, 却没有给出链接"}}),
    CaseName{});

} // namespace
