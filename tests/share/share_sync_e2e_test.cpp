// The ledger's shares against the simulated service's share list: a sync
// stores each row's state, a cancel goes out in requests of 100, a re-share
// makes fresh links for dead ones. Checked from the ledger file and from
// what the simulator received.

#include "base/service_origin.h"
#include "ledger_file.h"
#include "named_case.h"
#include "netdisk/netdisk_client.h"
#include "records/record_store.h"
#include "records/share_states.h"
#include "share/share_run.h"
#include "share/share_sync.h"
#include "sim_client.h"
#include "sim_process.h"
#include "sim_request_log.h"
#include "sim_state.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <mutex>
#include <rapidjson/document.h>
#include <string>
#include <vector>

using namespace vantorel;
using namespace vantorel::test;

namespace {

using vantorel::test::CaseName;
using vantorel::test::PrintTo;

constexpr const char* kShareTime = "1622099878";
constexpr std::int64_t kDay = 86400;

struct MadeShare {
    std::int64_t shareId = 0;
    std::string fsId, path, md5, link, pwd;
};

class RecordingObserver final : public ShareObserver {
public:
    void entryFinished(const EntryOutcome& outcome) override {
        std::lock_guard lock(mutex_);
        entries.push_back(outcome);
    }
    void runFinished(const RunSummary& s) override {
        std::lock_guard lock(mutex_);
        summary = s;
    }
    std::mutex mutex_;
    std::vector<EntryOutcome> entries;
    RunSummary summary;
};

class ShareSyncE2e : public ::testing::Test {
protected:
    void startSim(std::vector<std::string> args = {}) {
        args.insert(args.end(), {"--log", logPath(), "--fixed-time", kShareTime, "--generate",
                                 "1200", "--folders", "0"});
        sim_ = std::make_unique<SimProcess>(args);
        ASSERT_TRUE(sim_->started()) << sim_->error();
        auto origin = ServiceOrigin::parse(sim_->origin());
        ASSERT_TRUE(origin) << origin.error().message;
        connection_.origin = *origin;
        client_ = makeSimClient(*sim_);
        ASSERT_TRUE(ledger_.openOrCreate(dir_.file("linkledger.db")));
        login_.cookieText = SimProcess::loginCookieHeader();
        login_.userName = SimProcess::kUser;
        login_.bdstoken = SimProcess::kBdstoken;
    }

    void TearDown() override {
        if (sim_ && sim_->started()) {
            client_.reset();
            EXPECT_EQ(sim_->stop(), 0) << "netdisk-sim did not end cleanly";
        }
    }

    std::string logPath() const { return dir_.file("requests.jsonl"); }

    // Shares made on the service, each with its ledger row; the rows' ids in
    // the order made.
    std::vector<MadeShare> makeShares(int count, int period, int offset = 0) {
        auto res = client_->Post("/__sim/shares/make",
                                 "{\"count\":" + std::to_string(count) +
                                     ",\"period\":" + std::to_string(period) +
                                     ",\"offset\":" + std::to_string(offset) + "}",
                                 "application/json");
        EXPECT_TRUE(res && res->status == 200) << (res ? res->body : "no reply");
        std::vector<MadeShare> made;
        if (!res || res->status != 200)
            return made;
        rapidjson::Document doc;
        doc.Parse(res->body.c_str());
        for (const auto& s : doc["shares"].GetArray()) {
            MadeShare m;
            m.shareId = s["shareid"].GetInt64();
            m.fsId = std::to_string(s["fs_id"].GetUint64());
            m.path = s["path"].GetString();
            m.md5 = s["md5"].GetString();
            m.link = s["link"].GetString();
            m.pwd = s["pwd"].GetString();
            made.push_back(m);
        }
        return made;
    }

    std::int64_t record(const MadeShare& share) {
        return record(share.fsId, share.link, share.path, share.md5);
    }
    std::int64_t record(const std::string& fid, const std::string& link,
                        const std::string& path = "/x", const std::string& md5 = "") {
        ShareRecord r;
        r.isdir = "0";
        r.path = path;
        r.beforename = path.substr(path.rfind('/') + 1);
        r.sharelink = link;
        r.password = "abcd";
        r.sharetime = "2021-05-27 15:17:58";
        r.size = "1.0K";
        r.md5 = md5;
        r.fid = fid;
        r.username = SimProcess::kUser;
        EXPECT_TRUE(ledger_.insertRecord(r));
        return ++lastId_;
    }

    std::vector<std::int64_t> recordAll(const std::vector<MadeShare>& shares) {
        std::vector<std::int64_t> ids;
        for (const MadeShare& s : shares)
            ids.push_back(record(s));
        return ids;
    }

    bool control(const std::string& path, const std::string& json) {
        return simControl(*sim_, path, json);
    }

    SyncSummary sync(ShareSyncObserver* observer = nullptr, std::stop_token stop = {}) {
        NetdiskClient client(connection_, login_, stop);
        return syncShares(client, ledger_, login_.userName, 1700000000, observer, stop);
    }

    // Each record's state; absent when it has none.
    std::map<std::int64_t, ShareStatus> states() {
        ShareStates states(ledger_);
        auto rows = states.select({});
        EXPECT_TRUE(rows) << rows.error().message;
        std::map<std::int64_t, ShareStatus> out;
        if (rows)
            for (const auto& row : *rows)
                if (row.status)
                    out[row.record.id] = *row.status;
        return out;
    }

    // A re-share run through the client, without its pauses, to its end.
    RunSummary reshare(const ShareOptions& options, std::vector<ReshareItem> items) {
        RecordingObserver observer;
        ShareRun run(
            ledger_, observer,
            [connection = connection_](LoginContext& login, std::stop_token stop) {
                return std::make_unique<NetdiskClient>(connection, login, std::move(stop));
            },
            [](std::stop_token, std::chrono::milliseconds) { return WaitResult::Completed; });
        const Status started = run.startReshare(login_, options, std::move(items));
        EXPECT_TRUE(started) << started.error().message;
        run.wait();
        return run.summary();
    }

    std::size_t logged(const std::string& path) {
        return requestsTo(readRequestLog(logPath()), path).size();
    }

    TempDir dir_;
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<httplib::Client> client_;
    ConnectionSettings connection_;
    RecordStore ledger_;
    LoginContext login_;
    std::int64_t lastId_ = 0;
};

TEST_F(ShareSyncE2e, EachRowGetsTheStateOfItsShare) {
    startSim();
    const auto active = makeShares(1, 30, 0);
    const auto expiring = makeShares(1, 1, 1);
    const auto blocked = makeShares(1, 30, 2);
    const auto cancelled = makeShares(1, 30, 3);
    const auto byFid = makeShares(1, 30, 4);
    ASSERT_EQ(active.size() + expiring.size() + blocked.size() + cancelled.size() + byFid.size(),
              5u);
    const std::int64_t activeId = record(active[0]);
    const std::int64_t expiredId = record(expiring[0]);
    const std::int64_t blockedId = record(blocked[0]);
    const std::int64_t cancelledId = record(cancelled[0]);
    const std::int64_t missingId = record("123456789012345", "https://pan.example/s/1gone");
    // A link written by another scheme and host still names its share.
    const std::int64_t otherHostId =
        record(active[0].fsId,
               "https://pan.baidu.com/s/" + active[0].link.substr(active[0].link.rfind("/s/") + 3));
    // A link the list does not hold, for an item the list shares.
    const std::int64_t fidId = record(byFid[0].fsId, "https://pan.example/s/1other");

    ASSERT_TRUE(control("/__sim/share/counts", "{\"shareid\":" + std::to_string(active[0].shareId) +
                                                   ",\"vCnt\":4,\"dCnt\":2,\"tCnt\":1}"));
    ASSERT_TRUE(
        control("/__sim/share/block", "{\"shareid\":" + std::to_string(blocked[0].shareId) + "}"));
    ASSERT_TRUE(control("/__sim/share/cancel",
                        "{\"shareid\":" + std::to_string(cancelled[0].shareId) + "}"));
    ASSERT_TRUE(control("/__sim/clock", "{\"advance\":" + std::to_string(2 * kDay) + "}"));

    const SyncSummary summary = sync();
    ASSERT_TRUE(summary.ok()) << summary.error;
    EXPECT_TRUE(summary.complete);
    EXPECT_EQ(summary.rowsGone, 2u);

    auto got = states();
    ASSERT_EQ(got.size(), 7u);
    EXPECT_EQ(got[activeId].state, ShareState::Active);
    EXPECT_EQ(got[activeId].shareId, active[0].shareId);
    EXPECT_EQ(got[activeId].views, 4);
    EXPECT_EQ(got[activeId].downloads, 2);
    EXPECT_EQ(got[activeId].saves, 1);
    EXPECT_EQ(got[activeId].secondsLeft, 28 * kDay);
    EXPECT_EQ(got[activeId].checkedAt, 1700000000);
    EXPECT_EQ(got[expiredId].state, ShareState::Expired);
    EXPECT_EQ(got[expiredId].secondsLeft, 0);
    EXPECT_EQ(got[blockedId].state, ShareState::Blocked);
    EXPECT_EQ(got[cancelledId].state, ShareState::Gone);
    EXPECT_EQ(got[missingId].state, ShareState::Gone);
    EXPECT_EQ(got[otherHostId].state, ShareState::Active);
    EXPECT_EQ(got[fidId].state, ShareState::Active);
    EXPECT_EQ(got[fidId].shareId, byFid[0].shareId);

    EXPECT_EQ(readLedger(dir_.file("linkledger.db")).rows.size(), 7u) << "no row added or lost";
}

struct EmptyPageCase {
    const char* name;
    const char* form;
};

class ShareSyncPaging : public ShareSyncE2e, public ::testing::WithParamInterface<EmptyPageCase> {};

TEST_P(ShareSyncPaging, TwoFullPagesEndAtTheEmptyThird) {
    startSim({"--empty-share-page", GetParam().form});
    const auto ids = recordAll(makeShares(200, 7));
    ASSERT_EQ(ids.size(), 200u);
    const SyncSummary summary = sync();
    ASSERT_TRUE(summary.ok()) << summary.error;
    EXPECT_TRUE(summary.complete);
    EXPECT_EQ(summary.pages, 3);
    EXPECT_EQ(summary.rowsMatched, 200u);
    EXPECT_EQ(summary.rowsGone, 0u);
    EXPECT_EQ(logged("/share/record"), 3u);
    const auto got = states();
    ASSERT_EQ(got.size(), 200u);
    for (const auto& [id, status] : got)
        EXPECT_EQ(status.state, ShareState::Active) << id;
}

INSTANTIATE_TEST_SUITE_P(EmptyPage, ShareSyncPaging,
                         ::testing::Values(EmptyPageCase{"List", "list"},
                                           EmptyPageCase{"Bare", "bare"},
                                           EmptyPageCase{"Object", "object"}),
                         CaseName{});

struct FaultCase {
    const char* name;
    const char* rule;
};

class ShareSyncFault : public ShareSyncE2e, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(ShareSyncFault, KeepsThePagesBeforeItAndMarksNothingGone) {
    startSim({"--fault", GetParam().rule});
    const auto ids = recordAll(makeShares(300, 7));
    record("123456789012345", "https://pan.example/s/1gone"); // would be gone after a whole list
    const SyncSummary summary = sync();
    EXPECT_FALSE(summary.ok());
    EXPECT_FALSE(summary.complete);
    EXPECT_EQ(summary.pages, 1);
    const auto got = states();
    EXPECT_EQ(got.size(), 100u) << "the first page is stored, nothing else";
    for (const auto& [id, status] : got)
        EXPECT_EQ(status.state, ShareState::Active) << id;
}

INSTANTIATE_TEST_SUITE_P(SecondPage, ShareSyncFault,
                         ::testing::Values(FaultCase{"ServerError", "record:status=500,page=2"},
                                           FaultCase{"NotJson", "record:not_json,page=2"},
                                           FaultCase{"LoggedOut", "record:errno=-6,page=2"},
                                           FaultCase{"Dropped", "record:drop,page=2"},
                                           FaultCase{"RepeatedPage", "record:repeat_page,page=2"}),
                         CaseName{});

TEST_F(ShareSyncE2e, MembersMissingKeysStillProveTheirSharesExist) {
    // Member k of a page by k mod 6: intact, no shortlink, shareId a digit
    // string, no fsIds, expiredType a digit string, no status.
    startSim({"--fault", "record:mangle"});
    const auto ids = recordAll(makeShares(12, 7));
    const std::int64_t missing = record("123456789012345", "https://pan.example/s/1gone");
    const SyncSummary summary = sync();
    ASSERT_TRUE(summary.ok()) << summary.error;
    EXPECT_EQ(summary.rowsMatched, 12u);
    auto got = states();
    EXPECT_EQ(got[missing].state, ShareState::Gone);
    std::size_t withoutStatus = 0;
    for (const std::int64_t id : ids) {
        if (!got.count(id)) {
            ++withoutStatus; // its state is unknown, and it is not gone
            continue;
        }
        EXPECT_EQ(got[id].state, ShareState::Active) << id;
    }
    EXPECT_EQ(withoutStatus, 2u);
}

class StopAfterPage final : public ShareSyncObserver {
public:
    StopAfterPage(std::stop_source& stop, int page) : stop_(stop), page_(page) {}
    void syncPageStored(int page, std::size_t, std::size_t) override {
        if (page == page_)
            stop_.request_stop();
    }

private:
    std::stop_source& stop_;
    int page_;
};

TEST_F(ShareSyncE2e, AStopKeepsThePagesAlreadyStored) {
    startSim();
    recordAll(makeShares(1000, 7));
    std::stop_source stop;
    StopAfterPage observer(stop, 3);
    const SyncSummary summary = sync(&observer, stop.get_token());
    EXPECT_TRUE(summary.ok()) << summary.error;
    EXPECT_TRUE(summary.stopped);
    EXPECT_FALSE(summary.complete);
    EXPECT_EQ(summary.pages, 3);
    EXPECT_EQ(logged("/share/record"), 3u);
    EXPECT_EQ(states().size(), 300u);
}

TEST_F(ShareSyncE2e, CancelOf250SharesGoesOutInThreeRequests) {
    startSim();
    const auto ids = recordAll(makeShares(250, 7));
    ASSERT_TRUE(sync().ok());
    NetdiskClient client(connection_, login_);
    const CancelSummary summary =
        cancelRecordShares(client, ledger_, ids, login_.userName, 1700000100);
    ASSERT_TRUE(summary.ok()) << summary.error;
    EXPECT_EQ(summary.cancelled, 250u);
    EXPECT_TRUE(summary.notCancellable.empty());

    const auto cancels = requestsTo(readRequestLog(logPath()), "/share/cancel");
    ASSERT_EQ(cancels.size(), 3u);
    EXPECT_EQ(std::count(cancels[0].body.begin(), cancels[0].body.end(), '%'), 101)
        << "100 ids: %5B, 99 %2C and %5D";
    const auto state = readSimState(*sim_);
    ASSERT_TRUE(state);
    for (const SimShare& s : state->shares)
        EXPECT_TRUE(s.cancelled) << s.shareId;
    const auto got = states();
    ASSERT_EQ(got.size(), 250u);
    for (const auto& [id, status] : got)
        EXPECT_EQ(status.state, ShareState::Gone) << id;
    EXPECT_EQ(readLedger(dir_.file("linkledger.db")).rows.size(), 250u) << "the rows stay";

    // The next sync agrees, and nothing is left to cancel.
    ASSERT_TRUE(sync().ok());
    const CancelSummary again =
        cancelRecordShares(client, ledger_, ids, login_.userName, 1700000200);
    EXPECT_EQ(again.cancelled, 0u);
    EXPECT_EQ(again.notCancellable.size(), 250u);
    EXPECT_EQ(logged("/share/cancel"), 3u);
}

TEST_F(ShareSyncE2e, ACancelRefusedMidwayKeepsTheAcceptedBatchesMarked) {
    startSim({"--fault", "cancel:errno=2,after=1,times=1"});
    const auto ids = recordAll(makeShares(250, 7));
    ASSERT_TRUE(sync().ok());
    NetdiskClient client(connection_, login_);
    const CancelSummary summary =
        cancelRecordShares(client, ledger_, ids, login_.userName, 1700000100);
    EXPECT_FALSE(summary.ok());
    EXPECT_EQ(summary.errorCode, 2);
    EXPECT_EQ(summary.cancelled, 100u);
    EXPECT_EQ(logged("/share/cancel"), 2u) << "nothing after the refused request";
    std::size_t gone = 0;
    for (const auto& [id, status] : states())
        gone += status.state == ShareState::Gone;
    EXPECT_EQ(gone, 100u);
}

TEST_F(ShareSyncE2e, ReshareOfExpiredRowsAddsRowsWithNewLinksAndKeepsTheOld) {
    startSim();
    const auto made = makeShares(3, 1);
    const auto ids = recordAll(made);
    const auto activeIds = recordAll(makeShares(2, 30, 3));
    ASSERT_TRUE(control("/__sim/clock", "{\"advance\":" + std::to_string(2 * kDay) + "}"));
    ASSERT_TRUE(sync().ok());
    const auto expired = recordIdsInState(ledger_, ShareState::Expired);
    ASSERT_TRUE(expired);
    EXPECT_EQ(*expired, ids);

    std::vector<std::int64_t> chosen = ids;
    chosen.push_back(activeIds[0]); // active: not re-shared
    const auto choice = chooseReshareItems(ledger_, chosen);
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->notEligible, std::vector<std::int64_t>{activeIds[0]});
    ASSERT_EQ(choice->items.size(), 3u);

    const auto before = readLedger(dir_.file("linkledger.db")).rows;
    ShareOptions options;
    options.password = "wxyz";
    options.period = "7";
    options.renameMode = RenameMode::AddPrefix; // a re-share never renames
    options.namePrefix = "new_";
    const RunSummary run = reshare(options, choice->items);
    EXPECT_EQ(run.end, RunEnd::Completed);
    EXPECT_EQ(run.shared, 3);
    EXPECT_EQ(logged("/share/set"), 3u);
    EXPECT_EQ(logged("/api/filemanager"), 0u);

    const auto after = readLedger(dir_.file("linkledger.db")).rows;
    ASSERT_EQ(after.size(), before.size() + 3);
    for (std::size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(after[i], before[i]) << "old row " << i << " unchanged";
    for (std::size_t i = 0; i < 3; ++i) {
        const ShareRecord& fresh = after[before.size() + i];
        EXPECT_EQ(fresh.fid, made[i].fsId);
        EXPECT_EQ(fresh.path, made[i].path);
        EXPECT_EQ(fresh.password, "wxyz");
        EXPECT_NE(fresh.sharelink, made[i].link);
        EXPECT_NE(fresh.sharelink, std::string(kFailedLinkText));
    }
    const auto state = readSimState(*sim_);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->shares.size(), 8u) << "5 made before, 3 fresh";

    // Synced again: the old rows stay expired, the new ones are active.
    ASSERT_TRUE(sync().ok());
    auto got = states();
    for (const std::int64_t id : ids)
        EXPECT_EQ(got[id].state, ShareState::Expired);
    for (std::int64_t id = 6; id <= 8; ++id)
        EXPECT_EQ(got[id].state, ShareState::Active) << id;
}

TEST_F(ShareSyncE2e, ReshareHonoursTheDailyLimit) {
    startSim();
    const auto ids = recordAll(makeShares(3, 1));
    ASSERT_TRUE(control("/__sim/clock", "{\"advance\":" + std::to_string(2 * kDay) + "}"));
    ASSERT_TRUE(sync().ok());
    const auto choice = chooseReshareItems(ledger_, ids);
    ASSERT_TRUE(choice);
    ShareOptions options;
    options.password = "wxyz";
    options.period = "7";
    options.dailyLimit = 2;
    const RunSummary run = reshare(options, choice->items);
    EXPECT_EQ(run.shared, 2);
    EXPECT_EQ(run.end, RunEnd::QuotaReached);
    EXPECT_EQ(readLedger(dir_.file("linkledger.db")).rows.size(), 5u);
}

} // namespace
