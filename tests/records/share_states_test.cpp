// The share states beside the ledger: stored and read back with their rows,
// never changing linkledger_table, and read from a ledger never synced
// without creating anything.

#include "ledger_file.h"
#include "records/ledger_sql.h"
#include "records/record_store.h"
#include "records/share_states.h"
#include "temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace vantorel;
using vantorel::test::LedgerDb;
using vantorel::test::TempDir;

namespace {

ShareRecord shared(const std::string& name, const std::string& fid, const std::string& link,
                   const std::string& user = "alice") {
    ShareRecord r;
    r.isdir = "0";
    r.path = "/" + name;
    r.beforename = name;
    r.sharelink = link;
    r.password = "abcd";
    r.sharetime = "2021-05-27 15:17:58";
    r.fid = fid;
    r.username = user;
    return r;
}

class ShareStatesTest : public ::testing::Test {
protected:
    void SetUp() override {
        const Status opened = store_.openOrCreate(file_);
        ASSERT_TRUE(opened) << opened.error().message;
    }
    void add(const ShareRecord& r) { ASSERT_TRUE(store_.insertRecord(r)); }

    std::vector<RecordWithState> selectAll(ShareStateFilter filter = {}) {
        auto rows = states_.select(filter);
        EXPECT_TRUE(rows) << rows.error().message;
        return rows ? *rows : std::vector<RecordWithState>{};
    }

    static ShareStatus status(std::int64_t id, const std::string& link, ShareState state) {
        ShareStatus s;
        s.recordId = id;
        s.sharelink = link;
        s.shareId = 1000 + id;
        s.state = state;
        s.expiredType = 7;
        s.secondsLeft = 3600;
        s.views = 5;
        s.saves = 2;
        s.downloads = 1;
        s.checkedAt = 1622099878;
        return s;
    }

    TempDir dir_;
    std::filesystem::path file_ = dir_.file("linkledger.db");
    RecordStore store_;
    ShareStates states_{store_};
};

std::string tableSchema(const std::filesystem::path& file) {
    LedgerDb raw(file);
    return raw.rows("SELECT sql FROM sqlite_master WHERE name='linkledger_table'")[0][0];
}

TEST_F(ShareStatesTest, TheLedgerTableKeepsItsSchemaByteForByte) {
    add(shared("a", "1", "L1"));
    const std::string before = tableSchema(file_);
    ASSERT_TRUE(states_.store(std::vector{status(1, "L1", ShareState::Active)}));
    ASSERT_TRUE(states_.markGone(std::vector<std::int64_t>{1}, 5));
    ASSERT_TRUE(store_.close());
    EXPECT_EQ(tableSchema(file_), before);
    // The same text the ledger's own create statement gives.
    EXPECT_EQ(std::string(ledger_sql::kCreateTable), "create table" + before.substr(12) + ";");
    RecordStore reopened;
    EXPECT_TRUE(reopened.openOrCreate(file_)) << "a ledger with the side table still opens";
}

TEST_F(ShareStatesTest, ReadingANeverSyncedLedgerCreatesNothing) {
    add(shared("a", "1", "L1"));
    const auto rows = selectAll();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_FALSE(rows[0].status);
    EXPECT_TRUE(selectAll({.state = ShareState::Active}).empty());
    LedgerDb raw(file_);
    EXPECT_EQ(raw.rows("SELECT count(*) FROM sqlite_master WHERE name='share_state_table'")[0][0],
              "0");
}

TEST_F(ShareStatesTest, StoredStatesComeBackWithTheirRows) {
    add(shared("a", "1", "L1"));
    add(shared("b", "2", "L2"));
    add(shared("c", "3", std::string(kFailedLinkText)));
    ASSERT_TRUE(states_.store(
        std::vector{status(1, "L1", ShareState::Active), status(2, "L2", ShareState::Expired)}));
    const auto rows = selectAll();
    ASSERT_EQ(rows.size(), 2u) << "failure rows have no share";
    ASSERT_TRUE(rows[0].status);
    EXPECT_EQ(*rows[0].status, status(1, "L1", ShareState::Active));
    EXPECT_EQ(rows[1].status->state, ShareState::Expired);

    const auto expired = selectAll({.state = ShareState::Expired});
    ASSERT_EQ(expired.size(), 1u);
    EXPECT_EQ(expired[0].record.beforename, "b");
}

TEST_F(ShareStatesTest, AStoreReplacesTheStateBefore) {
    add(shared("a", "1", "L1"));
    ASSERT_TRUE(states_.store(std::vector{status(1, "L1", ShareState::Active)}));
    ASSERT_TRUE(states_.store(std::vector{status(1, "L1", ShareState::Blocked)}));
    const auto rows = selectAll();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].status->state, ShareState::Blocked);
}

TEST_F(ShareStatesTest, MarkGoneKeepsTheFiguresAndCoversRowsNeverSeen) {
    add(shared("a", "1", "L1"));
    add(shared("b", "2", "L2"));
    ASSERT_TRUE(states_.store(std::vector{status(1, "L1", ShareState::Active)}));
    ASSERT_TRUE(states_.markGone(std::vector<std::int64_t>{1, 2, 99}, 1700000000));
    const auto rows = selectAll();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].status->state, ShareState::Gone);
    EXPECT_EQ(rows[0].status->views, 5);
    EXPECT_EQ(rows[0].status->secondsLeft, 0);
    EXPECT_EQ(rows[0].status->checkedAt, 1700000000);
    ASSERT_TRUE(rows[1].status);
    EXPECT_EQ(rows[1].status->state, ShareState::Gone);
    LedgerDb raw(file_);
    EXPECT_EQ(raw.rows("SELECT count(*) FROM share_state_table")[0][0], "2")
        << "an id not in the ledger gets no state";
}

TEST_F(ShareStatesTest, AnIdGivenOutAgainDoesNotInheritTheOldState) {
    add(shared("a", "1", "L1"));
    ASSERT_TRUE(states_.store(std::vector{status(1, "L1", ShareState::Expired)}));
    ASSERT_TRUE(store_.deleteAll());
    add(shared("new", "9", "L9"));
    const auto rows = selectAll();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].record.id, 1);
    EXPECT_FALSE(rows[0].status);
}

TEST_F(ShareStatesTest, FiltersByAccountAndByIds) {
    add(shared("a", "1", "L1", "alice"));
    add(shared("b", "2", "L2", "bob"));
    add(shared("c", "3", "L3", "alice"));
    EXPECT_EQ(selectAll({.username = "alice"}).size(), 2u);
    const auto chosen = selectAll({.recordIds = {3, 1, 77}});
    ASSERT_EQ(chosen.size(), 2u);
    EXPECT_EQ(chosen[0].record.id, 1);
    EXPECT_EQ(chosen[1].record.id, 3);

    const auto rows = states_.sharedRows("alice");
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 2u);
    EXPECT_EQ((*rows)[1].sharelink, "L3");
    EXPECT_EQ((*rows)[1].fid, "3");
}

TEST(ShareStateNames, RoundTripAndLabels) {
    for (ShareState s :
         {ShareState::Active, ShareState::Expired, ShareState::Blocked, ShareState::Gone})
        EXPECT_EQ(parseShareState(shareStateName(s)), s);
    EXPECT_FALSE(parseShareState("Active"));
    EXPECT_EQ(shareStateLabel(ShareState::Gone), "已失效");
}

TEST(DaysLeft, CountsUpFromTheCheckAndOnlyForActiveSharesThatExpire) {
    ShareStatus s;
    s.state = ShareState::Active;
    s.expiredType = 7;
    s.checkedAt = 1000;
    s.secondsLeft = 86400 * 6 + 1;
    EXPECT_EQ(daysLeft(s, 1000), 7);
    EXPECT_EQ(daysLeft(s, 1000 + 86400), 6);
    EXPECT_EQ(daysLeft(s, 1000 + 86400 * 8), 0);
    s.expiredType = 0;
    EXPECT_FALSE(daysLeft(s, 1000)) << "never expires";
    s.expiredType = 7;
    s.state = ShareState::Expired;
    EXPECT_FALSE(daysLeft(s, 1000));
}

} // namespace
