// Whole share runs against the simulated service: the share run, the web API
// client and the ledger together, checked from what the service received
// (its request log and state) and what the ledger holds afterwards.

#include "base/service_origin.h"
#include "fake_browser.h"
#include "ledger_file.h"
#include "named_case.h"
#include "netdisk/netdisk_client.h"
#include "records/record_store.h"
#include "share/share_run.h"
#include "sim_client.h"
#include "sim_process.h"
#include "sim_request_log.h"
#include "sim_state.h"
#include "sim_tree_json.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

using namespace vantorel;
using namespace vantorel::test;

namespace {

using vantorel::test::CaseName;
using vantorel::test::PrintTo;

using Clock = std::chrono::steady_clock;

// Every share made by the simulator carries this time; in UTC+8 it reads as
// below.
constexpr const char* kShareTime = "1622099878";
constexpr const char* kShareTimeText = "2021-05-27 15:17:58";
constexpr auto kRunGuard = std::chrono::seconds(60);
// A stop must end a run within 200 ms; this bound only keeps a broken stop
// from hanging the suite on a loaded machine.
constexpr auto kStopGuard = std::chrono::seconds(5);

std::string listTarget(const std::string& dir) {
    return "/api/list?order=time&desc=1&showempty=0&web=1&page=1&num=1000&dir=" + dir +
           "&t=0.657891815'9504346&channel=chunlei&web=1&app_id=250528&bdstoken=" +
           SimProcess::kBdstoken +
           "&logid=Q0Y3RDE5QTA0QjhFMkM2NTlEMEExRjNCNzU4RTlDMjQ6Rkc9MQ==&clienttype=0";
}

// The dir value of a logged listing request.
std::string dirOf(const LoggedRequest& request) {
    const std::size_t from = request.target.find("&dir=");
    if (from == std::string::npos)
        return {};
    const std::size_t start = from + 5;
    return request.target.substr(start, request.target.find("&t=", start) - start);
}

// The fs_id a logged share request names.
std::string fidOf(const LoggedRequest& request) {
    const std::string key = "fid_list=%5B";
    const std::size_t from = request.body.find(key);
    if (from == std::string::npos)
        return {};
    const std::size_t start = from + key.size();
    return request.body.substr(start, request.body.find("%5D", start) - start);
}

// Records every effect of a run, in order, and answers every message at once
// as a user closing it would.
class RecordingObserver final : public ShareObserver {
public:
    struct Message {
        std::string text;
        MessageIcon icon;
    };

    void setProgressMaximum(int maximum) override {
        std::lock_guard lock(mutex_);
        maxima_.push_back(maximum);
    }
    void setProgressPosition(int position) override {
        std::lock_guard lock(mutex_);
        positions_.push_back(position);
    }
    void runPhase(RunPhase phase) override {
        std::lock_guard lock(mutex_);
        phases_.push_back(phase);
    }
    void showMessage(std::string_view text, MessageIcon icon, std::stop_token) override {
        std::lock_guard lock(mutex_);
        messages_.push_back({std::string(text), icon});
    }
    void entryFinished(const EntryOutcome& outcome) override {
        {
            std::lock_guard lock(mutex_);
            entries_.push_back(outcome);
        }
        changed_.notify_all();
    }
    void runFinished(const RunSummary& summary) override {
        {
            std::lock_guard lock(mutex_);
            summary_ = summary;
        }
        changed_.notify_all();
    }

    // Forgets everything, for the next run.
    void clear() {
        std::lock_guard lock(mutex_);
        maxima_.clear();
        positions_.clear();
        phases_.clear();
        messages_.clear();
        entries_.clear();
        summary_.reset();
    }

    bool waitFinished(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [this] { return summary_.has_value(); });
    }
    bool waitEntries(std::size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return entries_.size() >= count; });
    }

    std::vector<int> maxima() const { return locked(maxima_); }
    std::vector<int> positions() const { return locked(positions_); }
    std::vector<RunPhase> phases() const { return locked(phases_); }
    std::vector<Message> messages() const { return locked(messages_); }
    std::vector<EntryOutcome> entries() const { return locked(entries_); }
    std::optional<RunSummary> summary() const { return locked(summary_); }

private:
    template <class T> T locked(const T& value) const {
        std::lock_guard lock(mutex_);
        return value;
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int> maxima_;
    std::vector<int> positions_;
    std::vector<RunPhase> phases_;
    std::vector<Message> messages_;
    std::vector<EntryOutcome> entries_;
    std::optional<RunSummary> summary_;
};

ShareOptions quickOptions(ShareType shareType) {
    ShareOptions options;
    options.shareType = shareType;
    options.intervalSeconds = 0;
    return options;
}

class ShareE2e : public ::testing::Test {
protected:
    // A simulator with a request log and a fixed share time, and an empty
    // ledger file.
    void startSim(std::vector<std::string> args = {}) {
        args.insert(args.end(), {"--log", logPath(), "--fixed-time", kShareTime});
        sim_ = std::make_unique<SimProcess>(args);
        ASSERT_TRUE(sim_->started()) << sim_->error();
        auto origin = ServiceOrigin::parse(sim_->origin());
        ASSERT_TRUE(origin) << origin.error().message;
        connection_.origin = *origin;
        ASSERT_TRUE(ledger_.openOrCreate(ledgerPath())) << "ledger";
    }

    // A tree file in the simulator's format, then the simulator on it.
    void startSimWithTree(const std::string& treeJson, std::vector<std::string> args = {}) {
        writeFile(dir_.file("tree.json"), treeJson);
        args.insert(args.end(), {"--tree", dir_.file("tree.json")});
        startSim(std::move(args));
    }

    void TearDown() override {
        if (sim_ && sim_->started()) {
            EXPECT_EQ(sim_->stop(), 0) << "netdisk-sim did not end cleanly";
        }
    }

    std::string logPath() const { return dir_.file("requests.jsonl"); }
    std::string ledgerPath() const { return dir_.file("linkledger.db"); }

    // The login the share command gathers: cookies from the browser, the
    // folder of its address, the page's selection, tokens from the home page.
    LoginContext gather(const std::string& encodedPath, const std::string& selection = "[]") {
        FakeBrowser browser(SimProcess::loginCookieHeader(),
                            sim_->origin() + "/disk/home?#/all?vmode=list&path=" + encodedPath,
                            selection);
        return gatherLoginContext(browser, connection_);
    }

    NetdiskApiFactory clientFactory() const {
        return [connection = connection_](LoginContext& login, std::stop_token stop) {
            return std::make_unique<NetdiskClient>(connection, login, std::move(stop));
        };
    }

    // Starts a run and waits for its end; the observer holds what it did.
    RunSummary runToEnd(const ShareOptions& options, LoginContext login) {
        ShareRun run(ledger_, observer_, clientFactory(), pause_, clock_);
        const auto started = Clock::now();
        const Status status = run.start(std::move(login), options);
        EXPECT_TRUE(status) << status.error().message;
        if (!status)
            return {};
        EXPECT_TRUE(observer_.waitFinished(kRunGuard)) << "the run did not end";
        run.wait();
        elapsed_ = Clock::now() - started;
        return run.summary();
    }

    RunSummary runFolder(const std::string& encodedPath, const ShareOptions& options) {
        return runToEnd(options, gather(encodedPath));
    }

    std::vector<ShareRecord> rows() {
        auto records = ledger_.selectRecords({});
        EXPECT_TRUE(records) << records.error().message;
        return records ? *records : std::vector<ShareRecord>{};
    }

    std::vector<LoggedRequest> logged(const std::string& path) {
        return requestsTo(readRequestLog(logPath()), path);
    }

    // The fs_ids the share requests named, in order.
    std::vector<std::string> sharedFids() {
        std::vector<std::string> fids;
        for (const LoggedRequest& r : logged("/share/set"))
            fids.push_back(fidOf(r));
        return fids;
    }

    std::vector<std::string> listedDirs() {
        std::vector<std::string> dirs;
        for (const LoggedRequest& r : logged("/api/list"))
            dirs.push_back(dirOf(r));
        return dirs;
    }

    SimState state() {
        auto s = readSimState(*sim_);
        EXPECT_TRUE(s) << "no simulator state";
        return s ? *s : SimState{};
    }

    // Paths of the shares the simulator made, in order.
    std::vector<std::string> sharedPaths() {
        std::vector<std::string> paths;
        for (const auto& share : state().shares)
            paths.insert(paths.end(), share.paths.begin(), share.paths.end());
        return paths;
    }

    SimItem item(const std::string& path) {
        const auto tree = readSimTree(*sim_);
        const auto at = tree.find(path);
        EXPECT_NE(at, tree.end()) << path;
        return at != tree.end() ? at->second : SimItem{};
    }

    void addRow(const std::string& isdir, const std::string& path, const std::string& md5,
                const std::string& fid) {
        ShareRecord row;
        row.isdir = isdir;
        row.path = path;
        row.beforename = path.substr(path.rfind('/') + 1);
        row.sharelink = "https://pan.example/s/1earlier";
        row.md5 = md5;
        row.fid = fid;
        ASSERT_TRUE(ledger_.insertRecord(row));
    }

    TempDir dir_;
    std::unique_ptr<SimProcess> sim_;
    ConnectionSettings connection_;
    RecordStore ledger_;
    RecordingObserver observer_;
    Clock::duration elapsed_{};
    // What runToEnd's runs pause and read the time with; empty: waitFor and
    // the system clock.
    PauseFunction pause_;
    ClockFunction clock_;
};

std::vector<std::string> beforeNames(const std::vector<ShareRecord>& records) {
    std::vector<std::string> names;
    for (const ShareRecord& r : records)
        names.push_back(r.beforename);
    return names;
}

using Strings = std::vector<std::string>;

// Test names of a table's cases.
// ---------------------------------------------------------------------------
// Share types on the folder A of the default tree: A holds a1.txt and the
// sub-folders B (b1.jpg) and C (c1.pdf), B listed before C.

struct TypeCase {
    const char* name;
    ShareType shareType;
    Strings listed; // dir values of the listing requests, in order
    int maximum;    // progress maximum
    Strings shared; // paths shared, in order
    Strings isdir;  // isdir column of the rows, in order
};

class ShareTypes : public ShareE2e, public ::testing::WithParamInterface<TypeCase> {};

TEST_P(ShareTypes, WalkOrderPassesAndProgress) {
    const TypeCase& c = GetParam();
    startSim();
    const RunSummary summary = runFolder("%2FA", quickOptions(c.shareType));

    EXPECT_EQ(listedDirs(), c.listed);
    EXPECT_EQ(observer_.maxima(), std::vector<int>{c.maximum});
    EXPECT_EQ(sharedPaths(), c.shared);

    std::vector<int> positions;
    for (int i = 1; i <= static_cast<int>(c.shared.size()); ++i)
        positions.push_back(i);
    positions.push_back(0); // reset by the completion
    EXPECT_EQ(observer_.positions(), positions);

    const auto records = rows();
    Strings paths, isdir;
    for (const ShareRecord& r : records) {
        paths.push_back(r.path);
        isdir.push_back(r.isdir);
    }
    EXPECT_EQ(paths, c.shared);
    EXPECT_EQ(isdir, c.isdir);

    ASSERT_EQ(observer_.messages().size(), 1u);
    EXPECT_EQ(observer_.messages()[0].text, kRunCompletedMessage);
    EXPECT_EQ(observer_.messages()[0].icon, MessageIcon::Information);
    EXPECT_EQ(observer_.phases(), (std::vector<RunPhase>{RunPhase::Started, RunPhase::Done}));
    EXPECT_EQ(summary.end, RunEnd::Completed);
    EXPECT_EQ(summary.shared, static_cast<int>(c.shared.size()));
}

INSTANTIATE_TEST_SUITE_P(
    DefaultTree, ShareTypes,
    ::testing::Values(
        TypeCase{"Type0ListsButSharesNothing", static_cast<ShareType>(0), {"%2FA"}, 3, {}, {}},
        TypeCase{"Type1FilesThenFolders",
                 ShareType::FilesAndFolders,
                 {"%2FA"},
                 3,
                 {"/A/a1.txt", "/A/B", "/A/C"},
                 {"0", "1", "1"}},
        TypeCase{"Type2FilesOnly", ShareType::Files, {"%2FA"}, 1, {"/A/a1.txt"}, {"0"}},
        TypeCase{"Type3FoldersOnly", ShareType::Folders, {"%2FA"}, 2, {"/A/B", "/A/C"}, {"1", "1"}},
        TypeCase{"Type4FilesOfEveryLevel",
                 ShareType::FilesWithSubfolders,
                 {"%2FA", "%2FA%2FB", "%2FA%2FC"},
                 5,
                 {"/A/a1.txt", "/A/B/b1.jpg", "/A/C/c1.pdf"},
                 {"0", "0", "0"}},
        TypeCase{"Type5FoldersOfEveryLevel",
                 ShareType::FoldersWithSubfolders,
                 {"%2FA", "%2FA%2FB", "%2FA%2FC"},
                 5,
                 {"/A/B", "/A/C"},
                 {"1", "1"}}),
    CaseName{});

// Every column of a file row and a folder row, the exact share body of a
// seven-day period with a fixed code, and the link the service gave.
TEST_F(ShareE2e, RowsHoldWhatTheServiceAnswered) {
    startSim();
    ShareOptions options = quickOptions(ShareType::FilesWithSubfolders);
    options.password = "ab12";
    options.period = " 7";
    runFolder("%2FA%2FB", options);
    ShareOptions folders = quickOptions(ShareType::Folders);
    folders.password = "cd34";
    runFolder("%2FA", folders);

    const SimItem b1 = item("/A/B/b1.jpg");
    const SimItem B = item("/A/B");
    const auto shares = state().shares;
    ASSERT_EQ(shares.size(), 3u);
    EXPECT_EQ(shares[0].pwd, "ab12");
    EXPECT_EQ(shares[0].period, 7);

    const auto bodies = logged("/share/set");
    ASSERT_EQ(bodies.size(), 3u);
    EXPECT_EQ(bodies[0].body,
              "period= 7&channel_list=%5B%5D&pwd=ab12&schannel=4&fid_list=%5B" + b1.fsId + "%5D");

    const auto records = rows();
    ASSERT_EQ(records.size(), 3u);
    ShareRecord file;
    file.id = records[0].id;
    file.isdir = "0";
    file.path = "/A/B/b1.jpg";
    file.beforename = "b1.jpg";
    file.sharelink = shares[0].link;
    file.password = "ab12";
    file.sharetime = kShareTimeText;
    file.size = "240.0K";
    file.md5 = b1.md5;
    file.pic = sim_->origin() + "/thumbnail/" + b1.md5 + "?fid=" + b1.fsId +
               "&size=c850_u580&quality=100&ft=image";
    file.fid = b1.fsId;
    file.username = SimProcess::kUser;
    EXPECT_EQ(records[0], file);
    EXPECT_EQ(records[0].sharelink.rfind(sim_->origin() + "/s/1", 0), 0u);

    ShareRecord folder;
    folder.id = records[1].id;
    folder.isdir = "1";
    folder.path = "/A/B";
    folder.beforename = "B";
    folder.sharelink = shares[1].link;
    folder.password = "cd34";
    folder.sharetime = kShareTimeText;
    folder.fid = B.fsId;
    folder.username = SimProcess::kUser;
    EXPECT_EQ(records[1], folder);
}

TEST_F(ShareE2e, RandomCodesAreNewForEveryShare) {
    startSim();
    runFolder("%2F%E6%88%91%E7%9A%84%E6%96%87%E6%A1%A3",
              quickOptions(ShareType::Files)); // /我的文档
    const auto shares = state().shares;
    ASSERT_EQ(shares.size(), 5u); // the two copies with one MD5 count once
    const std::regex code("[a-z]{2}[0-9]{2}");
    Strings codes;
    for (const auto& share : shares) {
        EXPECT_TRUE(std::regex_match(share.pwd, code)) << share.pwd;
        codes.push_back(share.pwd);
    }
    const auto records = rows();
    ASSERT_EQ(records.size(), shares.size());
    for (std::size_t i = 0; i < records.size(); ++i)
        EXPECT_EQ(records[i].password, codes[i]);
    std::sort(codes.begin(), codes.end());
    EXPECT_GE(std::unique(codes.begin(), codes.end()) - codes.begin(), 2);
}

// Sub-folders are requested with their paths form-encoded: a blank as "+",
// the apostrophe kept as it is.
TEST_F(ShareE2e, SubFolderListingTargetsAreExact) {
    startSim();
    runFolder("%2Fmy%20docs", quickOptions(ShareType::FilesWithSubfolders));
    const auto listings = logged("/api/list");
    ASSERT_EQ(listings.size(), 2u);
    EXPECT_EQ(listings[0].target, listTarget("%2Fmy%20docs"));
    EXPECT_EQ(listings[1].target, listTarget("%2Fmy+docs%2Fit's+here"));

    runFolder("%2F", quickOptions(ShareType::FoldersWithSubfolders));
    const Strings dirs = listedDirs();
    EXPECT_NE(std::find(dirs.begin(), dirs.end(), "%2Fmy+docs"), dirs.end());
    EXPECT_NE(std::find(dirs.begin(), dirs.end(), "%2Fmy+docs%2Fit's+here"), dirs.end());
    EXPECT_NE(std::find(dirs.begin(), dirs.end(), "%2F%E6%88%91%E7%9A%84%E6%96%87%E6%A1%A3"),
              dirs.end());
}

// ---------------------------------------------------------------------------
// Selection

// The page's selection is the listing's own member objects.
std::string listingMembers(const SimProcess& sim, const std::string& dir, const Strings& names) {
    const auto client = vantorel::test::makeSimClient(sim);
    const auto res = client->Get(listTarget(dir), vantorel::test::simLoginHeaders());
    if (!res)
        return {};
    // Cut each member's object text out of the reply as it stands, so that
    // numbers keep every digit.
    std::string selection = "[";
    for (const std::string& name : names) {
        const std::string key = "\"server_filename\":\"" + name + "\"";
        const std::size_t at = res->body.find(key);
        if (at == std::string::npos)
            return {};
        const std::size_t open = res->body.rfind('{', at);
        const std::size_t close = res->body.find('}', at);
        if (selection.size() > 1)
            selection += ",";
        selection += res->body.substr(open, close - open + 1);
    }
    return selection + "]";
}

TEST_F(ShareE2e, SelectionSharesExactlyTheSelectedFilesAndFolders) {
    startSim();
    const SimItem a1 = item("/A/a1.txt");
    const SimItem B = item("/A/B");
    const SimItem C = item("/A/C");
    const SimItem big = item("/大编号_文件.bin");
    // Recorded under a1's MD5 only: the selection looks up by fid, so a1 is
    // shared all the same. B's fid row makes B a skip.
    addRow("0", "/elsewhere/a1.txt", a1.md5, "1");
    addRow("1", "/A/B", "", B.fsId);

    std::string selection = listingMembers(*sim_, "%2FA", {"a1.txt", "B", "C"});
    const std::string root = listingMembers(*sim_, "%2F", {"大编号_文件.bin"});
    ASSERT_FALSE(selection.empty());
    ASSERT_FALSE(root.empty());
    selection = root.substr(0, root.size() - 1) + "," + selection.substr(1);

    // shareType plays no part in a selection.
    const std::size_t listedBefore = logged("/api/list").size();
    const RunSummary summary =
        runToEnd(quickOptions(ShareType::Folders), gather("%2FA", selection));

    EXPECT_EQ(logged("/api/list").size(), listedBefore) << "a selection lists nothing";
    EXPECT_EQ(sharedFids(), (Strings{big.fsId, a1.fsId, C.fsId}));
    EXPECT_EQ(big.fsId, "9007199254740993");
    EXPECT_EQ(observer_.maxima(), std::vector<int>{4});
    EXPECT_EQ(observer_.positions(), (std::vector<int>{1, 2, 3, 4, 0}));
    EXPECT_EQ(summary.shared, 3);
    EXPECT_EQ(summary.skipped, 1);

    const auto records = rows();
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[2].isdir, "0");
    EXPECT_EQ(records[2].path, "/大编号_文件.bin");
    EXPECT_EQ(records[2].size, "5.0G");
    EXPECT_EQ(records[2].md5, big.md5);
    EXPECT_EQ(records[3].isdir, "0");
    EXPECT_EQ(records[3].path, "/A/a1.txt");
    EXPECT_EQ(records[3].size, "0.5K");
    EXPECT_EQ(records[3].md5, a1.md5);
    EXPECT_EQ(records[4].isdir, "1");
    EXPECT_EQ(records[4].path, "/A/C");
    EXPECT_EQ(records[4].fid, C.fsId);
    EXPECT_EQ(records[4].md5, "");
}

struct SelectionTextCase {
    const char* name;
    const char* text;
};

class SelectionTexts : public ShareE2e, public ::testing::WithParamInterface<SelectionTextCase> {};

// Anything but "[]" is a selection; one that holds no array of items is a
// page that could not say what is selected: the run does not start, and
// nothing is listed or shared.
TEST_P(SelectionTexts, AreRefusedBeforeAnyRequest) {
    startSim();
    LoginContext login = gather("%2FA", GetParam().text);
    const std::size_t before = readRequestLog(logPath()).size();
    ShareRun run(ledger_, observer_, clientFactory());
    const Status started = run.start(std::move(login), quickOptions(ShareType::FilesAndFolders));
    ASSERT_FALSE(started);
    EXPECT_EQ(started.error().code, static_cast<int>(StartRefusal::SelectionUnreadable));
    EXPECT_EQ(readRequestLog(logPath()).size(), before);
    EXPECT_TRUE(rows().empty());
    EXPECT_TRUE(observer_.messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Unreadable, SelectionTexts,
    ::testing::Values(SelectionTextCase{"EmptyText", ""},
                      SelectionTextCase{"NotJson", "[{\"fs_id\":386517923450918,"},
                      SelectionTextCase{"Object", "{\"fs_id\":386517923450918}"}),
    CaseName{});

// ---------------------------------------------------------------------------
// Folders that come in pages

// Each fs_id the simulator shared, with how often.
std::map<std::string, int> shareCounts(const SimState& state) {
    std::map<std::string, int> counts;
    for (const auto& share : state.shares)
        for (const std::string& id : share.fsIds)
            ++counts[id];
    return counts;
}

TEST_F(ShareE2e, FolderOf2500IsListedInThreePagesAndSharedWhole) {
    startSimWithTree(bigFolderTree("大", 2500));
    const RunSummary summary = runFolder("%2F%E5%A4%A7", quickOptions(ShareType::Files));
    EXPECT_EQ(summary.end, RunEnd::Completed);
    EXPECT_EQ(summary.shared, 2500);

    const auto listings = logged("/api/list");
    ASSERT_EQ(listings.size(), 3u);
    for (std::size_t i = 0; i < listings.size(); ++i)
        EXPECT_NE(listings[i].target.find("&page=" + std::to_string(i + 1) + "&num=1000&dir="),
                  std::string::npos)
            << listings[i].target;
    const auto counts = shareCounts(state());
    EXPECT_EQ(counts.size(), 2500u);
    for (const auto& [id, times] : counts)
        EXPECT_EQ(times, 1) << id;
    EXPECT_EQ(rows().size(), 2500u);
    EXPECT_EQ(observer_.maxima(), std::vector<int>{2500});
}

TEST_F(ShareE2e, SubFolderOf1200IsPagedTooUnderShareType4) {
    startSimWithTree(bigFolderTree("top", 3, 1200));
    const RunSummary summary = runFolder("%2Ftop", quickOptions(ShareType::FilesWithSubfolders));
    EXPECT_EQ(summary.end, RunEnd::Completed);
    EXPECT_EQ(summary.shared, 1203);
    EXPECT_EQ(listedDirs(), (Strings{"%2Ftop", "%2Ftop%2Fsub", "%2Ftop%2Fsub"}));
    EXPECT_EQ(shareCounts(state()).size(), 1203u);
    EXPECT_EQ(rows().size(), 1203u);
}

// A service that hands out page 1 again for page 2 would otherwise keep a
// run asking for ever; what it listed is shared once.
TEST_F(ShareE2e, APageThatRepeatsThePreviousOneEndsTheListing) {
    startSimWithTree(bigFolderTree("大", 2500), {"--fault", "list:repeat_page,page=2"});
    const RunSummary summary = runFolder("%2F%E5%A4%A7", quickOptions(ShareType::Files));
    EXPECT_EQ(summary.end, RunEnd::Completed);
    EXPECT_EQ(logged("/api/list").size(), 2u);
    EXPECT_EQ(summary.shared, 1000);
    EXPECT_EQ(shareCounts(state()).size(), 1000u);
}

// The service's old answer: one page of everything, whatever the size.
TEST_F(ShareE2e, AServiceWithoutAPageCapIsListedInOneRequest) {
    startSimWithTree(bigFolderTree("大", 1500), {"--list-page-cap", "0"});
    const RunSummary summary = runFolder("%2F%E5%A4%A7", quickOptions(ShareType::Files));
    EXPECT_EQ(summary.shared, 1500);
    // It still answers 1,000 a page when asked for 1,000.
    EXPECT_EQ(logged("/api/list").size(), 2u);
}

// A sub-folder that cannot be listed ends the run before anything is
// shared; the rows of earlier runs stay.
TEST_F(ShareE2e, AFolderThatCannotBeListedEndsTheRunAndSaysWhichAndWhy) {
    startSim();
    runFolder("%2FA", quickOptions(ShareType::Files));
    ASSERT_EQ(rows().size(), 1u);

    ASSERT_TRUE(vantorel::test::simControl(
        *sim_, "/__sim/fault", R"({"endpoint":"list","kind":"errno","value":-9,"dir":"/A/C"})"));
    observer_.clear();
    const std::size_t sharesBefore = logged("/share/set").size();
    const RunSummary summary = runFolder("%2FA", quickOptions(ShareType::FilesWithSubfolders));
    EXPECT_EQ(summary.end, RunEnd::ListingFailed);
    const std::string message = "获取文件列表失败: /A/C (errno -9: 文件夹不存在)";
    EXPECT_EQ(summary.message, message);
    ASSERT_EQ(observer_.messages().size(), 1u);
    EXPECT_EQ(observer_.messages()[0].text, message);
    EXPECT_EQ(observer_.messages()[0].icon, MessageIcon::Error);
    EXPECT_EQ(logged("/share/set").size(), sharesBefore);
    EXPECT_EQ(rows().size(), 1u);
    // The share button is given back.
    EXPECT_EQ(observer_.phases(), (std::vector<RunPhase>{RunPhase::Started, RunPhase::Done}));
}

// ---------------------------------------------------------------------------
// Recorded entries, failures and retries

TEST_F(ShareE2e, RecordedEntriesAreSkippedByMd5ThenByFidWithoutWaiting) {
    startSim();
    std::vector<std::chrono::milliseconds> pauses;
    pause_ = [&pauses](std::stop_token, std::chrono::milliseconds length) {
        pauses.push_back(length);
        return WaitResult::Completed;
    };
    const SimItem a1 = item("/A/a1.txt");
    const SimItem B = item("/A/B");
    const SimItem C = item("/A/C");
    addRow("0", "/old/a1.txt", a1.md5, "1"); // the file pass matches the MD5
    addRow("1", "/A/B", "", B.fsId);         // the folder pass matches the fid
    // The file pass does not look at fids, nor the folder pass at MD5s.
    addRow("0", "/A/C", "ffffffffffffffffffffffffffffffff", C.fsId + "0");

    ShareOptions options = quickOptions(ShareType::FilesAndFolders);
    options.intervalSeconds = 1;
    const RunSummary summary = runFolder("%2FA", options);

    EXPECT_EQ(sharedFids(), Strings{C.fsId});
    EXPECT_EQ(summary.skipped, 2);
    EXPECT_EQ(summary.shared, 1);
    // The skipped entries sent no request: only the shared one is followed
    // by a pause.
    EXPECT_EQ(pauses, std::vector<std::chrono::milliseconds>{std::chrono::seconds(1)});
    const auto entries = observer_.entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].verdict, EntryVerdict::Skipped);
    EXPECT_EQ(entries[1].verdict, EntryVerdict::Skipped);
    EXPECT_EQ(entries[2].verdict, EntryVerdict::Shared);
}

// Two files with one MD5: the second is a skip once the first has its link;
// when the first failed, its row holds no MD5 and the second is shared.
constexpr const char* kTwinTree = R"({"entries": [
  {"name": "d", "children": [
    {"name": "first.txt", "fs_id": 111111111111111, "md5": "0123456789abcdef0123456789abcdef",
     "size": 10, "mtime": 1622000300},
    {"name": "second.txt", "fs_id": 222222222222222, "md5": "0123456789abcdef0123456789abcdef",
     "size": 10, "mtime": 1622000200},
    {"name": "third.txt", "fs_id": 333333333333333, "mtime": 1622000100}
  ]}
]})";

TEST_F(ShareE2e, TwoFilesWithOneMd5AreSharedOnce) {
    startSimWithTree(kTwinTree);
    runFolder("%2Fd", quickOptions(ShareType::Files));
    EXPECT_EQ(sharedFids(), (Strings{"111111111111111", "333333333333333"}));
    EXPECT_EQ(beforeNames(rows()), (Strings{"first.txt", "third.txt"}));
}

TEST_F(ShareE2e, TwinOfAFailedFileIsShared) {
    startSimWithTree(kTwinTree, {"--share-errno", "111111111111111=115"});
    runFolder("%2Fd", quickOptions(ShareType::Files));
    EXPECT_EQ(sharedFids(), (Strings{"111111111111111", "222222222222222", "333333333333333"}));
    const auto records = rows();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].sharelink, kFailedLinkText);
    EXPECT_EQ(records[0].md5, "");
    EXPECT_EQ(records[1].beforename, "second.txt");
    EXPECT_EQ(records[1].md5, "0123456789abcdef0123456789abcdef");
}

// A failed file leaves a row without MD5 and is tried again by the next run;
// a failed folder leaves its fid and is not.
TEST_F(ShareE2e, FailedFileIsRetriedFailedFolderIsNot) {
    startSim();
    const SimItem a1 = item("/A/a1.txt");
    const SimItem B = item("/A/B");
    const SimItem C = item("/A/C");
    ASSERT_TRUE(vantorel::test::simControl(
        *sim_, "/__sim/fault",
        R"([{"endpoint":"share","kind":"errno","value":115,"fs_id":)" + a1.fsId +
            R"(,"times":1},{"endpoint":"share","kind":"errno","value":115,"fs_id":)" + B.fsId +
            R"(,"times":1}])"));

    const RunSummary first = runFolder("%2FA", quickOptions(ShareType::FilesAndFolders));
    EXPECT_EQ(first.failed, 2);
    EXPECT_EQ(first.shared, 1);
    const auto entries = observer_.entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].errnoText, "115");

    const auto failed = rows();
    ASSERT_EQ(failed.size(), 3u);
    ShareRecord fileFailure;
    fileFailure.id = failed[0].id;
    fileFailure.isdir = "0";
    fileFailure.path = "/A/a1.txt";
    fileFailure.beforename = "a1.txt";
    fileFailure.sharelink = kFailedLinkText;
    fileFailure.fid = a1.fsId;
    fileFailure.username = SimProcess::kUser;
    EXPECT_EQ(failed[0], fileFailure);
    ShareRecord folderFailure = fileFailure;
    folderFailure.id = failed[1].id;
    folderFailure.isdir = "1";
    folderFailure.path = "/A/B";
    folderFailure.beforename = "B";
    folderFailure.fid = B.fsId;
    EXPECT_EQ(failed[1], folderFailure);

    const RunSummary second = runFolder("%2FA", quickOptions(ShareType::FilesAndFolders));
    EXPECT_EQ(second.shared, 1);
    EXPECT_EQ(second.skipped, 2);
    EXPECT_EQ(sharedFids(), (Strings{a1.fsId, B.fsId, C.fsId, a1.fsId}));
    const auto after = rows();
    ASSERT_EQ(after.size(), 4u);
    EXPECT_EQ(after[3].path, "/A/a1.txt");
    EXPECT_EQ(after[3].md5, a1.md5);
}

// ---------------------------------------------------------------------------
// Quota

TEST_F(ShareE2e, QuotaEndsTheRunRightAfterTheSecondSuccess) {
    startSim();
    // In /我的文档, newest first: 报告 2021.docx, it's mine.txt, notes_v2
    // (final).md, 照片_001.jpg, then the two copies.
    const std::string folder = "/我的文档/";
    const SimItem report = item(folder + "报告 2021.docx");
    const SimItem mine = item(folder + "it's mine.txt");
    const SimItem notes = item(folder + "notes_v2 (final).md");
    const SimItem photo = item(folder + "照片_001.jpg");
    addRow("0", folder + "报告 2021.docx", report.md5, report.fsId);
    ASSERT_TRUE(vantorel::test::simControl(
        *sim_, "/__sim/fault",
        R"({"endpoint":"share","kind":"errno","value":115,"fs_id":)" + mine.fsId + "}"));

    ShareOptions options = quickOptions(ShareType::Files);
    options.dailyLimit = 2;
    const RunSummary summary = runFolder("%2F%E6%88%91%E7%9A%84%E6%96%87%E6%A1%A3", options);

    EXPECT_EQ(summary.end, RunEnd::QuotaReached);
    EXPECT_EQ(summary.shared, 2);
    EXPECT_EQ(summary.failed, 1);
    EXPECT_EQ(summary.skipped, 1);
    EXPECT_EQ(sharedFids(), (Strings{mine.fsId, notes.fsId, photo.fsId}));
    ASSERT_EQ(observer_.messages().size(), 1u);
    EXPECT_EQ(observer_.messages()[0].text, kQuotaReachedMessage);
    EXPECT_EQ(observer_.messages()[0].icon, MessageIcon::None);
    // The buttons and the progress bar stay as they were until stop: the
    // run does not say it is done.
    EXPECT_EQ(observer_.phases(), std::vector<RunPhase>{RunPhase::Started});
    EXPECT_EQ(observer_.positions(), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(rows().size(), 4u); // the earlier row, one failure, two successes
}

// ---------------------------------------------------------------------------
// Renaming

constexpr const char* kRenameTree = R"({"entries": [
  {"name": "r", "children": [
    {"name": "report 2021.txt", "fs_id": 444444444444444, "mtime": 1622000300},
    {"name": "docs", "fs_id": 555555555555555, "mtime": 1622000200, "children": []}
  ]}
]})";

struct RenameCase {
    const char* name;
    RenameMode mode;
    const char* fileName;   // expected new names; a regex for mode 1
    const char* folderName; // (empty: not renamed)
};

class RenameModes : public ShareE2e, public ::testing::WithParamInterface<RenameCase> {};

TEST_P(RenameModes, RecordsAndServiceAgree) {
    const RenameCase& c = GetParam();
    startSimWithTree(kRenameTree);
    ShareOptions options = quickOptions(ShareType::FilesAndFolders);
    options.renameMode = c.mode;
    options.keywordBefore = "2021";
    options.keywordAfter = "2022";
    options.namePrefix = "pre_";
    options.nameSuffix = "_bak";
    runFolder("%2Fr", options);

    const auto records = rows();
    ASSERT_EQ(records.size(), 2u);
    const auto renames = state().renames;
    const auto tree = readSimTree(*sim_);
    const std::pair<const char*, const char*> items[] = {{"report 2021.txt", c.fileName},
                                                         {"docs", c.folderName}};
    if (c.mode == RenameMode::None) {
        EXPECT_TRUE(renames.empty());
    } else {
        ASSERT_EQ(renames.size(), 2u);
    }
    for (std::size_t i = 0; i < 2; ++i) {
        const std::string oldName = items[i].first;
        const ShareRecord& row = records[i];
        SCOPED_TRACE(oldName);
        EXPECT_EQ(row.beforename, oldName);
        if (c.mode == RenameMode::None) {
            EXPECT_EQ(row.aftername, "");
            EXPECT_EQ(row.path, "/r/" + oldName);
            continue;
        }
        if (c.mode == RenameMode::RandomName) {
            EXPECT_TRUE(std::regex_match(row.aftername, std::regex(items[i].second)))
                << row.aftername;
        } else {
            EXPECT_EQ(row.aftername, items[i].second);
        }
        EXPECT_EQ(row.path, "/r/" + row.aftername);
        EXPECT_EQ(renames[i].path, "/r/" + oldName);
        EXPECT_EQ(renames[i].newName, row.aftername);
        EXPECT_EQ(renames[i].errnoValue, 0);
        EXPECT_TRUE(tree.contains("/r/" + row.aftername));
        if (row.aftername != oldName) {
            EXPECT_FALSE(tree.contains("/r/" + oldName));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllModes, RenameModes,
    ::testing::Values(
        RenameCase{"None", RenameMode::None, "", ""},
        RenameCase{"Encrypt", RenameMode::RandomName, "[0-9]{8}[a-z]{8}\\.txt", "[0-9]{8}[a-z]{8}"},
        // "docs" holds no keyword: renamed to its own name.
        RenameCase{"Keyword", RenameMode::ReplaceKeyword, "report 2022.txt", "docs"},
        RenameCase{"Prefix", RenameMode::AddPrefix, "pre_report 2021.txt", "pre_docs"},
        RenameCase{"Suffix", RenameMode::AddSuffix, "report 2021.txt_bak", "docs_bak"},
        RenameCase{"PrefixAndSuffix", RenameMode::AddPrefixAndSuffix, "pre_report 2021.txt_bak",
                   "pre_docs_bak"}),
    CaseName{});

// A rename the service refuses leaves the item's name; the row says so.
TEST_F(ShareE2e, RefusedRenameIsRecordedUnderTheOldName) {
    startSimWithTree(kRenameTree, {"--fault", "rename:errno=12,times=1"});
    ShareOptions options = quickOptions(ShareType::FilesAndFolders);
    options.renameMode = RenameMode::AddPrefix;
    options.namePrefix = "pre_";
    const RunSummary summary = runFolder("%2Fr", options);

    EXPECT_EQ(summary.shared, 2);
    const auto records = rows();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].path, "/r/report 2021.txt");
    EXPECT_EQ(records[0].aftername, "");
    EXPECT_EQ(records[0].sharelink.rfind(sim_->origin(), 0), 0u);
    EXPECT_EQ(records[1].path, "/r/pre_docs");
    EXPECT_EQ(records[1].aftername, "pre_docs");

    const auto tree = readSimTree(*sim_);
    EXPECT_TRUE(tree.contains("/r/report 2021.txt"));
    EXPECT_FALSE(tree.contains("/r/pre_report 2021.txt"));
    EXPECT_TRUE(tree.contains("/r/pre_docs"));
    const auto renames = state().renames;
    ASSERT_EQ(renames.size(), 2u);
    EXPECT_NE(renames[0].errnoValue, 0);
}

// Names with quotes reach the service inside their own JSON strings. The
// third name would, pasted into the JSON unescaped, rename the folder "b"
// to "x" instead of itself.
TEST_F(ShareE2e, QuotedNamesRenameOnlyTheirOwnItem) {
    startSimWithTree(R"({"entries": [
      {"name": "q", "children": [
        {"name": "say \"hi\".txt", "mtime": 1622000300},
        {"name": "it's.txt", "mtime": 1622000200},
        {"name": "b\",\"newname\":\"x", "mtime": 1622000100},
        {"name": "b", "mtime": 1622000000, "children": []}
      ]}
    ]})");
    ShareOptions options = quickOptions(ShareType::Files);
    options.renameMode = RenameMode::AddSuffix;
    options.nameSuffix = "_bak";
    const RunSummary summary = runFolder("%2Fq", options);
    EXPECT_EQ(summary.shared, 3);

    const Strings oldNames = {"say \"hi\".txt", "it's.txt", "b\",\"newname\":\"x"};
    const auto renames = state().renames;
    ASSERT_EQ(renames.size(), 3u);
    const auto records = rows();
    ASSERT_EQ(records.size(), 3u);
    const auto tree = readSimTree(*sim_);
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(oldNames[i]);
        EXPECT_EQ(renames[i].path, "/q/" + oldNames[i]);
        EXPECT_EQ(renames[i].newName, oldNames[i] + "_bak");
        EXPECT_EQ(renames[i].errnoValue, 0);
        EXPECT_EQ(records[i].beforename, oldNames[i]);
        EXPECT_EQ(records[i].aftername, oldNames[i] + "_bak");
        EXPECT_EQ(records[i].path, "/q/" + oldNames[i] + "_bak");
        EXPECT_TRUE(tree.contains("/q/" + oldNames[i] + "_bak"));
    }
    EXPECT_TRUE(tree.contains("/q/b"));
    EXPECT_FALSE(tree.contains("/q/x"));
}

// ---------------------------------------------------------------------------
// Stop

// Waits until the simulator has received `count` requests to `path`.
bool waitForLogged(const std::string& log, const std::string& path, std::size_t count) {
    const auto deadline = Clock::now() + kRunGuard;
    while (Clock::now() < deadline) {
        if (requestsTo(readRequestLog(log), path).size() >= count)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// How long stop() took, in the test report (the goal is 200 ms).
void recordStopTime(Clock::duration took) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f",
                  std::chrono::duration<double, std::milli>(took).count());
    ::testing::Test::RecordProperty("stop_ms", text);
}

TEST_F(ShareE2e, StopDuringThePauseEndsTheRunAtOnce) {
    startSim();
    ShareOptions options = quickOptions(ShareType::Files);
    options.intervalSeconds = 30;
    ShareRun run(ledger_, observer_, clientFactory());
    ASSERT_TRUE(run.start(gather("%2F%E6%88%91%E7%9A%84%E6%96%87%E6%A1%A3"), options));
    ASSERT_TRUE(observer_.waitEntries(1, kRunGuard));
    // Let the worker reach its pause.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    const auto before = Clock::now();
    run.stop();
    const auto took = Clock::now() - before;
    recordStopTime(took);
    EXPECT_LT(took, kStopGuard);

    EXPECT_FALSE(run.running());
    EXPECT_EQ(run.summary().end, RunEnd::Stopped);
    EXPECT_EQ(logged("/share/set").size(), 1u) << "the next entry was started";
    const auto records = rows();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].sharelink, state().shares.at(0).link);
    EXPECT_EQ(records[0].sharetime, kShareTimeText);
    EXPECT_TRUE(observer_.messages().empty());
    EXPECT_EQ(observer_.phases(), (std::vector<RunPhase>{RunPhase::Started, RunPhase::Stopped}))
        << "the toolbar is the stop command's business";
}

TEST_F(ShareE2e, StopDuringASlowShareRequestAbandonsTheEntry) {
    startSim({"--fault", "share:delay=20000,after=1"});
    ShareRun run(ledger_, observer_, clientFactory());
    ASSERT_TRUE(run.start(gather("%2F%E6%88%91%E7%9A%84%E6%96%87%E6%A1%A3"),
                          quickOptions(ShareType::Files)));
    ASSERT_TRUE(waitForLogged(logPath(), "/share/set", 2));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    const auto before = Clock::now();
    run.stop();
    const auto took = Clock::now() - before;
    recordStopTime(took);
    EXPECT_LT(took, kStopGuard);

    EXPECT_EQ(run.summary().end, RunEnd::Stopped);
    EXPECT_EQ(logged("/share/set").size(), 2u) << "the next entry was started";
    // The first entry is whole; of the second nothing is written, since
    // whether its link exists is unknown.
    const auto records = rows();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].beforename, "报告 2021.docx");
    EXPECT_EQ(records[0].sharetime, kShareTimeText);
    // The abandoned entry is reported as pending: the next run tries it.
    const auto entries = observer_.entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].verdict, EntryVerdict::Pending);
    EXPECT_EQ(entries[1].reason, "已停止");
    EXPECT_TRUE(observer_.messages().empty());
}

TEST_F(ShareE2e, StopDuringASlowListingSharesNothing) {
    startSim({"--fault", "list:delay=20000"});
    ShareRun run(ledger_, observer_, clientFactory());
    ASSERT_TRUE(run.start(gather("%2FA"), quickOptions(ShareType::FilesWithSubfolders)));
    ASSERT_TRUE(waitForLogged(logPath(), "/api/list", 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    const auto before = Clock::now();
    run.stop();
    const auto took = Clock::now() - before;
    recordStopTime(took);
    EXPECT_LT(took, kStopGuard);

    EXPECT_EQ(run.summary().end, RunEnd::Stopped);
    EXPECT_EQ(logged("/api/list").size(), 1u);
    EXPECT_TRUE(logged("/share/set").empty());
    EXPECT_TRUE(observer_.maxima().empty());
    EXPECT_TRUE(observer_.messages().empty());
}

// ---------------------------------------------------------------------------
// A share request that gets no answer from the service

struct TransportCase {
    const char* name;
    const char* fault;
    // The service made the link before its reply was lost.
    bool linkMade;
    // The connection died before any reply on a kept-alive connection, so
    // the HTTP layer sent the request again on a fresh one.
    bool resent;
};

class TransportFaults : public ShareE2e, public ::testing::WithParamInterface<TransportCase> {};

// A reply that is no answer on the item (an error page, a cut body, a body
// that is not the service's JSON) says nothing about whether its link
// exists: no row is written, the run goes on, and the next run tries the
// item again. At worst the service then holds two links for it; the item is
// never left out.
TEST_P(TransportFaults, LeaveTheItemForTheNextRun) {
    const TransportCase& c = GetParam();
    startSim({"--fault", std::string("share:") + c.fault + ",times=1"});
    const std::string a1 = item("/A/a1.txt").fsId;
    const RunSummary first = runFolder("%2FA", quickOptions(ShareType::FilesAndFolders));
    EXPECT_EQ(first.end, RunEnd::Completed);
    if (c.resent) {
        EXPECT_EQ(first.shared, 3);
        EXPECT_EQ(sharedFids().front(), a1);
        EXPECT_EQ(sharedFids().at(1), a1);
        EXPECT_EQ(beforeNames(rows()), (Strings{"a1.txt", "B", "C"}));
        EXPECT_EQ(sharedPaths(), (Strings{"/A/a1.txt", "/A/B", "/A/C"}));
        return;
    }
    EXPECT_EQ(first.failed, 0);
    EXPECT_EQ(first.pending, 1);
    EXPECT_EQ(first.shared, 2);
    EXPECT_EQ(beforeNames(rows()), (Strings{"B", "C"}));
    const auto entries = observer_.entries();
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries[0].verdict, EntryVerdict::Pending);
    EXPECT_FALSE(entries[0].reason.empty());

    const RunSummary second = runFolder("%2FA", quickOptions(ShareType::FilesAndFolders));
    EXPECT_EQ(second.shared, 1);
    EXPECT_EQ(second.skipped, 2);
    EXPECT_EQ(beforeNames(rows()), (Strings{"B", "C", "a1.txt"}));
    Strings links = {"/A/B", "/A/C", "/A/a1.txt"};
    if (c.linkMade)
        links.insert(links.begin(), "/A/a1.txt");
    EXPECT_EQ(sharedPaths(), links);
}

INSTANTIATE_TEST_SUITE_P(Share, TransportFaults,
                         ::testing::Values(TransportCase{"ServerError", "status=500", false, false},
                                           TransportCase{"NotJson", "not_json", false, false},
                                           TransportCase{"EmptyBody", "empty", false, false},
                                           TransportCase{"CutBody", "truncate", true, false},
                                           TransportCase{"DroppedConnection", "drop", false, true}),
                         CaseName{});

// ---------------------------------------------------------------------------
// Refusals and a lost row

struct RefusalCase {
    const char* name;
    std::vector<std::string> simArgs;
    bool cookie;
    bool ledgerOpen;
    StartRefusal refusal;
};

class Refusals : public ShareE2e, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(Refusals, NothingIsSentOrWritten) {
    const RefusalCase& c = GetParam();
    startSim(c.simArgs);
    FakeBrowser browser(c.cookie ? SimProcess::loginCookieHeader() : "",
                        sim_->origin() + "/disk/home?#/all?vmode=list&path=%2FA", "[]");
    LoginContext login = gatherLoginContext(browser, connection_);
    if (!c.ledgerOpen) {
        ASSERT_TRUE(ledger_.close());
    }
    const std::size_t sentBefore = readRequestLog(logPath()).size();

    ShareRun run(ledger_, observer_, clientFactory());
    const Status status = run.start(login, quickOptions(ShareType::FilesAndFolders));
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error().code, static_cast<int>(c.refusal));
    if (c.refusal == StartRefusal::NotLoggedIn) {
        EXPECT_EQ(status.error().message, kNotLoggedInMessage);
    } else {
        EXPECT_EQ(status.error().message.rfind(std::string(kNoLedgerMessage), 0), 0u)
            << status.error().message;
    }
    EXPECT_FALSE(run.running());
    run.wait();

    EXPECT_EQ(readRequestLog(logPath()).size(), sentBefore);
    EXPECT_FALSE(observer_.summary().has_value());
    EXPECT_TRUE(observer_.maxima().empty());
    if (c.ledgerOpen) {
        EXPECT_TRUE(rows().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Start, Refusals,
    ::testing::Values(RefusalCase{"HomePageWithoutTokens",
                                  {"--home-style", "none", "--token-api", "none"},
                                  true,
                                  true,
                                  StartRefusal::NotLoggedIn},
                      RefusalCase{"NewClientWithoutTokenRequests",
                                  {"--home-style", "main", "--token-api", "none"},
                                  true,
                                  true,
                                  StartRefusal::NotLoggedIn},
                      RefusalCase{"NoLoginCookie", {}, false, true, StartRefusal::NotLoggedIn},
                      RefusalCase{"LedgerNotOpen", {}, true, false, StartRefusal::NoLedger}),
    CaseName{});

// When the row of a success cannot be written, the run stops there and
// hands the link to the user instead of losing it.
TEST_F(ShareE2e, FailedSuccessRowStopsTheRunWithTheLink) {
    startSim();
    ASSERT_TRUE(ledger_.close());
    ASSERT_TRUE(vantorel::test::LedgerDb(ledgerPath())
                    .exec("CREATE TRIGGER refuse_links BEFORE INSERT ON "
                          "linkledger_table WHEN NEW.sharelink <> '分享失败' "
                          "BEGIN SELECT RAISE(ABORT, 'disk is full'); END;"));
    ASSERT_TRUE(ledger_.openOrCreate(ledgerPath()));

    const RunSummary summary =
        runFolder("%2F%E6%88%91%E7%9A%84%E6%96%87%E6%A1%A3", quickOptions(ShareType::Files));

    EXPECT_EQ(summary.end, RunEnd::LedgerFailed);
    EXPECT_EQ(logged("/share/set").size(), 1u) << "the run went on";
    const auto shares = state().shares;
    ASSERT_EQ(shares.size(), 1u);
    ASSERT_EQ(observer_.messages().size(), 1u);
    const std::string message = observer_.messages()[0].text;
    EXPECT_EQ(message.rfind(std::string(kRecordWriteFailedMessage), 0), 0u) << message;
    EXPECT_NE(message.find("/我的文档/报告 2021.docx"), std::string::npos) << message;
    EXPECT_NE(message.find(shares[0].link), std::string::npos) << message;
    EXPECT_EQ(observer_.messages()[0].icon, MessageIcon::Error);
    EXPECT_TRUE(rows().empty());
}

} // namespace

// ---------------------------------------------------------------------------
// What the service's refusals mean: the item, or the whole run

namespace {

constexpr long long kFirstBigId = 700000000000000LL;

struct ClassCase {
    const char* name;
    int errnoValue;
    int hitAt;         // the share (counted from 0) the service refuses
    const char* ended; // the message a refused run ends with; empty: the item alone
};

class RefusalClasses : public ShareE2e, public ::testing::WithParamInterface<ClassCase> {};

} // namespace

TEST_P(RefusalClasses, AFailureRowOrAStopWithTheItemPending) {
    const ClassCase& c = GetParam();
    startSimWithTree(bigFolderTree("r", 6));
    ASSERT_TRUE(vantorel::test::simControl(*sim_, "/__sim/fault",
                                           R"({"endpoint":"share","kind":"errno","value":)" +
                                               std::to_string(c.errnoValue) + R"(,"fs_id":)" +
                                               std::to_string(kFirstBigId + c.hitAt) + "}"));
    const RunSummary first = runFolder("%2Fr", quickOptions(ShareType::Files));
    const std::string refusedId = std::to_string(kFirstBigId + c.hitAt);

    const bool runRefused = std::string(c.ended).size() > 0;
    if (runRefused) {
        // Nothing after the refusal is asked; the refused item has no row.
        EXPECT_EQ(first.end, RunEnd::RunRefused);
        EXPECT_EQ(first.message, c.ended);
        EXPECT_EQ(first.refusedErrno, c.errnoValue);
        EXPECT_EQ(first.shared, c.hitAt);
        EXPECT_EQ(first.pending, 1);
        EXPECT_EQ(sharedFids().size(), static_cast<std::size_t>(c.hitAt + 1));
        EXPECT_EQ(rows().size(), static_cast<std::size_t>(c.hitAt));
        ASSERT_EQ(observer_.messages().size(), 1u);
        EXPECT_EQ(observer_.messages()[0].text, c.ended);
        EXPECT_EQ(observer_.messages()[0].icon, MessageIcon::Error);
    } else {
        EXPECT_EQ(first.end, RunEnd::Completed);
        EXPECT_EQ(first.shared, 5);
        EXPECT_EQ(first.failed, 1);
        const auto records = rows();
        ASSERT_EQ(records.size(), 6u);
        EXPECT_EQ(records[static_cast<std::size_t>(c.hitAt)].sharelink, "分享失败");
        EXPECT_EQ(records[static_cast<std::size_t>(c.hitAt)].fid, refusedId);
    }

    // The next run, the service willing again: what was left is shared,
    // what was recorded is skipped.
    ASSERT_TRUE(vantorel::test::simControl(*sim_, "/__sim/faults/clear"));
    const std::size_t before = sharedFids().size();
    observer_.clear();
    const RunSummary second = runFolder("%2Fr", quickOptions(ShareType::Files));
    EXPECT_EQ(second.end, RunEnd::Completed);
    const Strings all = sharedFids();
    const Strings again(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    Strings expected;
    if (runRefused) {
        for (int i = c.hitAt; i < 6; ++i)
            expected.push_back(std::to_string(kFirstBigId + i));
    } else {
        expected.push_back(refusedId); // a failed file has no MD5 in its row
    }
    EXPECT_EQ(again, expected);
    EXPECT_EQ(shareCounts(state()).size(), 6u);
}

INSTANTIATE_TEST_SUITE_P(
    Share, RefusalClasses,
    ::testing::Values(
        ClassCase{"MayNotBeShared", 115, 1, ""}, ClassCase{"SensitiveName", 108, 1, ""},
        ClassCase{"Virus", -70, 1, ""}, ClassCase{"Gone", -9, 1, ""},
        ClassCase{"UnknownErrno", 31066, 1, ""}, ClassCase{"Errno2BeforeAnySuccess", 2, 0, ""},
        ClassCase{"Errno2AfterASuccess", 2, 2,
                  "分享已停止: 分享过于频繁 (errno 2)。请过一段时间再继续分享"},
        ClassCase{"LoginExpired", -6, 2,
                  "分享已停止: 登录已失效 (errno -6)。请在浏览器中重新登录百度网盘后再分享"},
        ClassCase{"ShareCountOverLimit", 110, 3,
                  "分享已停止: 今日分享次数已超过限制 (errno 110)。请明天再继续分享"},
        ClassCase{"TooFrequent", 31034, 1,
                  "分享已停止: 分享过于频繁 (errno 31034)。请过一段时间再继续分享"},
        ClassCase{
            "VerificationCode", -62, 0,
            "分享已停止: 需要输入验证码 (errno -62)。请在浏览器中打开百度网盘完成验证后再分享"},
        ClassCase{
            "VerificationCodeToo", -19, 1,
            "分享已停止: 需要输入验证码 (errno -19)。请在浏览器中打开百度网盘完成验证后再分享"},
        ClassCase{"SecurityCheck", 132, 1,
                  "分享已停止: 需要安全验证 (errno 132)。请在浏览器中打开百度网盘完成验证后再分享"},
        ClassCase{"AccountRestricted", 9013, 1,
                  "分享已停止: 账号受限 (errno 9013)。请在浏览器中查看账号状态"},
        ClassCase{"AccountRestrictedRange", 9100, 1,
                  "分享已停止: 账号受限 (errno 9100)。请在浏览器中查看账号状态"},
        ClassCase{"AccountRestrictedRangeEnd", 9500, 1,
                  "分享已停止: 账号受限 (errno 9500)。请在浏览器中查看账号状态"},
        ClassCase{
            "LinkCapReached", -10, 1,
            "分享已停止: 分享链接数量已达上限 (errno -10)。请在浏览器中取消一些分享后再分享"}),
    CaseName{});

// The service said yes without a link: the share may exist, so the item is
// neither recorded nor refused; the observer is told, and the next run
// tries it.
TEST_F(ShareE2e, YesWithoutALinkLeavesTheItemPendingAndSaysSo) {
    startSimWithTree(bigFolderTree("r", 3), {"--fault", "share:no_link,times=1"});
    const RunSummary first = runFolder("%2Fr", quickOptions(ShareType::Files));
    EXPECT_EQ(first.end, RunEnd::Completed);
    EXPECT_EQ(first.shared, 2);
    EXPECT_EQ(first.pending, 1);
    EXPECT_EQ(rows().size(), 2u);
    const auto entries = observer_.entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].verdict, EntryVerdict::Pending);
    EXPECT_EQ(entries[0].reason, "服务确认了分享, 却没有给出链接");
    const RunSummary second = runFolder("%2Fr", quickOptions(ShareType::Files));
    EXPECT_EQ(second.shared, 1);
    EXPECT_EQ(second.skipped, 2);
}

// Shares are recorded for what the service said, not for the host name in
// the link: a service reached as localhost whose links name 127.0.0.1 is
// still sharing.
TEST_F(ShareE2e, LinksOnAnotherHostNameAreRecorded) {
    startSim();
    auto local = ServiceOrigin::parse("http://localhost:" + std::to_string(sim_->port()));
    ASSERT_TRUE(local) << local.error().message;
    connection_.origin = *local;
    const RunSummary summary = runFolder("%2FA", quickOptions(ShareType::FilesAndFolders));
    EXPECT_EQ(summary.shared, 3);
    const auto records = rows();
    ASSERT_EQ(records.size(), 3u);
    for (const ShareRecord& row : records)
        EXPECT_EQ(row.sharelink.rfind("http://127.0.0.1:", 0), 0u) << row.sharelink;
    EXPECT_EQ(runFolder("%2FA", quickOptions(ShareType::FilesAndFolders)).skipped, 3);
}

// A second run over a large folder that the first shared whole asks for
// no pause at all: its entries send no request.
TEST_F(ShareE2e, ARunOver1000RecordedItemsDoesNotPause) {
    startSimWithTree(bigFolderTree("big", 1000));
    std::vector<std::chrono::milliseconds> pauses;
    pause_ = [&pauses](std::stop_token, std::chrono::milliseconds length) {
        pauses.push_back(length);
        return WaitResult::Completed;
    };
    ShareOptions options = quickOptions(ShareType::Files);
    options.intervalSeconds = 3;
    EXPECT_EQ(runFolder("%2Fbig", options).shared, 1000);
    EXPECT_EQ(pauses.size(), 1000u);
    pauses.clear();
    const RunSummary again = runFolder("%2Fbig", options);
    EXPECT_EQ(again.skipped, 1000);
    EXPECT_TRUE(pauses.empty()) << pauses.size() << " pauses";
}

// ---------------------------------------------------------------------------
// Renames: the true path, and renames the service only accepted

TEST_F(ShareE2e, RenamingAFileNamedAsItsFolderRecordsItsTruePath) {
    startSimWithTree(R"({"entries":[{"name":"x","children":[{"name":"x","size":1}]},
                       {"name":"album.2021","children":[{"name":"clip","size":2}]}]})");
    ShareOptions prefix = quickOptions(ShareType::Files);
    prefix.renameMode = RenameMode::AddPrefix;
    prefix.namePrefix = "p";
    runFolder("%2Fx", prefix);
    ShareOptions random = quickOptions(ShareType::Files);
    random.renameMode = RenameMode::RandomName;
    runFolder("%2Falbum.2021", random);

    const auto records = rows();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].path, "/x/px");
    EXPECT_EQ(records[0].aftername, "px");
    EXPECT_TRUE(readSimTree(*sim_).contains("/x/px"));
    // The random name takes no "extension" from the folder above.
    EXPECT_EQ(records[1].aftername.size(), 16u) << records[1].aftername;
    EXPECT_EQ(records[1].aftername.find('/'), std::string::npos);
    EXPECT_EQ(records[1].path, "/album.2021/" + records[1].aftername);
    EXPECT_TRUE(readSimTree(*sim_).contains(records[1].path));
}

namespace {

struct AsyncRenameCase {
    const char* name;
    const char* asyncRename; // --rename-async
    bool renamed;            // recorded under the new name
};

class AsyncRenames : public ShareE2e, public ::testing::WithParamInterface<AsyncRenameCase> {};

} // namespace

TEST_P(AsyncRenames, AreRecordedAsTheyEnded) {
    const AsyncRenameCase& c = GetParam();
    startSim({"--rename-async", c.asyncRename});
    ShareOptions options = quickOptions(ShareType::Files);
    options.renameMode = RenameMode::AddPrefix;
    options.namePrefix = "新_";
    ShareRun run(
        ledger_, observer_, [connection = connection_](LoginContext& login, std::stop_token stop) {
            return std::make_unique<NetdiskClient>(
                connection, login, std::move(stop),
                RenamePolling{std::chrono::milliseconds(50), std::chrono::milliseconds(600)});
        });
    ASSERT_TRUE(run.start(gather("%2FA"), options));
    ASSERT_TRUE(observer_.waitFinished(kRunGuard));
    run.wait();
    const auto records = rows();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].path, c.renamed ? "/A/新_a1.txt" : "/A/a1.txt");
    EXPECT_EQ(records[0].aftername, c.renamed ? "新_a1.txt" : "");
    EXPECT_FALSE(logged("/share/taskquery").empty());
}

INSTANTIATE_TEST_SUITE_P(Share, AsyncRenames,
                         ::testing::Values(AsyncRenameCase{"Succeeds", "success:150", true},
                                           AsyncRenameCase{"Fails", "failed:150", false},
                                           AsyncRenameCase{"NeverEnds", "never", false}),
                         CaseName{});

// A stop while the rename is asked after ends the polling at once; the
// share exists, so its row is written, under the name it is known to have.
TEST_F(ShareE2e, StopWhileARenameIsAskedAfterRecordsTheShare) {
    startSim({"--rename-async", "never"});
    ShareOptions options = quickOptions(ShareType::Files);
    options.renameMode = RenameMode::AddPrefix;
    options.namePrefix = "新_";
    ShareRun run(ledger_, observer_, clientFactory());
    ASSERT_TRUE(run.start(gather("%2FA"), options));
    ASSERT_TRUE(waitForLogged(logPath(), "/share/taskquery", 1));
    const auto before = Clock::now();
    run.stop();
    EXPECT_LT(Clock::now() - before, kStopGuard);
    EXPECT_EQ(run.summary().end, RunEnd::Stopped);
    const auto records = rows();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].path, "/A/a1.txt");
    EXPECT_EQ(records[0].aftername, "");
}

// ---------------------------------------------------------------------------
// The daily limit is the account's, for the day

TEST_F(ShareE2e, TheDailyLimitCountsEveryRunOfTheDayAndStartsAgainAtMidnight) {
    // 2023-11-14 23:59:00 in UTC+8, and the next day.
    constexpr std::int64_t kLateEvening = 1699977540;
    constexpr std::int64_t kNextMorning = kLateEvening + 8 * 3600;
    startSimWithTree(bigFolderTree("d", 8));
    ASSERT_TRUE(vantorel::test::simControl(
        *sim_, "/__sim/config", R"({"fixed_time":)" + std::to_string(kLateEvening) + "}"));
    std::int64_t now = kLateEvening;
    clock_ = [&now] {
        return now;
    };
    ShareOptions options = quickOptions(ShareType::Files);
    options.dailyLimit = 2;

    const RunSummary first = runFolder("%2Fd", options);
    EXPECT_EQ(first.end, RunEnd::QuotaReached);
    EXPECT_EQ(first.shared, 2);
    // The day's limit is reached: later runs that day send no share at all.
    for (int run = 0; run < 2; ++run) {
        observer_.clear();
        const RunSummary again = runFolder("%2Fd", options);
        EXPECT_EQ(again.end, RunEnd::QuotaReached);
        EXPECT_EQ(again.shared, 0);
        ASSERT_EQ(observer_.messages().size(), 1u);
        EXPECT_EQ(observer_.messages()[0].text, kQuotaReachedMessage);
    }
    EXPECT_EQ(sharedFids().size(), 2u);
    EXPECT_EQ(logged("/api/list").size(), 1u) << "a run at its limit lists nothing either";

    // Another account's shares do not count against this one.
    ShareRecord other;
    other.isdir = "0";
    other.sharelink = "https://pan.example/s/1other";
    other.sharetime = "2023-11-14 20:00:00";
    other.username = "someone else";
    ASSERT_TRUE(ledger_.insertRecord(other));

    now = kNextMorning;
    ASSERT_TRUE(vantorel::test::simControl(
        *sim_, "/__sim/config", R"({"fixed_time":)" + std::to_string(kNextMorning) + "}"));
    const RunSummary nextDay = runFolder("%2Fd", options);
    EXPECT_EQ(nextDay.end, RunEnd::QuotaReached);
    EXPECT_EQ(nextDay.shared, 2);
    EXPECT_EQ(sharedFids().size(), 4u);
}
