// `vantorel-cli shares ...` against the simulated service: sync, list by
// state, cancel (with and without a terminal to confirm on) and re-share,
// judged by exit status, output, the ledger and the requests the simulator
// received.

#include "cli_harness.h"
#include "records/record_store.h"
#include "records/share_intent.h"
#include "share/share_run.h"
#include "sim_request_log.h"
#include "sim_state.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace vantorel;
using namespace vantorel::test;

namespace {

using Strings = std::vector<std::string>;

class SharesCommand : public CliSimTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(startSim());
        ASSERT_EQ(cli({"settings", "set", "time", "-1"}).exitCode, 0) << "no pause between shares";
        ASSERT_EQ(cli({"settings", "set", "ShareTimeLong", "2"}).exitCode, 0) << "seven days";
        const ProcessResult shared = share({"--path", "/我的文档"});
        ASSERT_EQ(shared.exitCode, 0) << shared.err;
        ASSERT_EQ(readLedger(ledgerFile()).rows.size(), 5u) << "two files share an MD5";
    }

    Strings login() const { return {"--cookies", SimProcess::loginCookieHeader()}; }

    ProcessResult shares(Strings args, ProcessOptions options = {}) const {
        Strings all = {"shares"};
        all.insert(all.end(), args.begin(), args.end());
        return cliAtSim(all, std::move(options));
    }
    ProcessResult withLogin(Strings args, ProcessOptions options = {}) const {
        const Strings credentials = login();
        args.insert(args.end(), credentials.begin(), credentials.end());
        return shares(std::move(args), std::move(options));
    }

    // The state column of `shares list`, one per listed record.
    Strings listedStates(Strings extra = {}) const {
        Strings args = {"list"};
        args.insert(args.end(), extra.begin(), extra.end());
        const ProcessResult listed = shares(args);
        EXPECT_EQ(listed.exitCode, 0) << listed.err;
        Strings states;
        const Strings rows = lines(listed.out);
        for (std::size_t i = 1; i < rows.size(); ++i)
            states.push_back(splitTabs(rows[i]).at(1));
        return states;
    }

    std::size_t logged(const std::string& path) const {
        return requestsTo(readRequestLog(requestLog()), path).size();
    }

    // The first share the simulator made: the first record's.
    std::int64_t firstShareId() const {
        const rapidjson::Document state = simState();
        return state["shares"][0]["shareid"].GetInt64();
    }

    void expireEverything() const {
        ASSERT_TRUE(simControl(sim(), "/__sim/clock", R"({"advance":8640000})"));
    }
};

TEST_F(SharesCommand, SyncThenListByState) {
    EXPECT_EQ(listedStates(), Strings(5, "")) << "never synced: no state";
    const ProcessResult synced = withLogin({"sync"});
    ASSERT_EQ(synced.exitCode, 0) << synced.err;
    EXPECT_EQ(listedStates(), Strings(5, "active"));
    EXPECT_EQ(listedStates({"--state", "expired"}), Strings{});

    expireEverything();
    ASSERT_EQ(withLogin({"sync"}).exitCode, 0);
    EXPECT_EQ(listedStates({"--state", "expired"}), Strings(5, "expired"));

    const ProcessResult json = shares({"list", "--format", "json"});
    ASSERT_EQ(json.exitCode, 0);
    rapidjson::Document doc;
    doc.Parse(json.out.c_str());
    ASSERT_TRUE(doc.IsArray());
    ASSERT_EQ(doc.Size(), 5u);
    EXPECT_STREQ(doc[0]["state"].GetString(), "expired");
    EXPECT_TRUE(doc[0]["shareid"].IsNumber());
}

TEST_F(SharesCommand, SyncFirstRecordsAShareWhoseRunNeverHeardOfIt) {
    // As a run killed between the service's answer and its row leaves it:
    // the share made, the intent written, no row.
    {
        RecordStore ledger;
        ASSERT_TRUE(ledger.openOrCreate(ledgerFile()));
        auto rows = ledger.selectRecords({});
        ASSERT_TRUE(rows);
        const ShareRecord lost = rows->front();
        const std::vector<std::int64_t> ids{lost.id};
        ASSERT_TRUE(ledger.deleteByIds(ids));
        ShareIntent intent{.fid = lost.fid,
                           .isdir = lost.isdir,
                           .path = lost.path,
                           .name = lost.beforename,
                           .md5 = lost.md5,
                           .size = lost.size,
                           .pic = lost.pic,
                           .username = lost.username,
                           .code = lost.password,
                           .period = "7",
                           .time = simState()["shares"][0]["ctime"].GetInt64()};
        ASSERT_TRUE(ledger.writeIntent(intent));
    }
    const ProcessResult synced = withLogin({"sync"});
    ASSERT_EQ(synced.exitCode, 0) << synced.err;
    EXPECT_NE(synced.out.find("上次未完成的分享: 1 个已记录"), std::string::npos) << synced.out;
    EXPECT_EQ(readLedger(ledgerFile()).rows.size(), 5u) << "the share got its row back";
    EXPECT_EQ(listedStates(), Strings(5, "active")) << "and its state";
    EXPECT_EQ(logged("/share/set"), 5u) << "nothing shared again";
}

TEST_F(SharesCommand, SyncWithoutALoginExitsAsShareDoes) {
    const ProcessResult synced = shares({"sync"});
    EXPECT_EQ(synced.exitCode, 4) << synced.err;
    EXPECT_EQ(logged("/share/record"), 0u);
}

TEST_F(SharesCommand, CancelWithoutYesAndWithoutATerminalRefusesAndCancelsNothing) {
    ASSERT_EQ(withLogin({"sync"}).exitCode, 0);
    ProcessOptions piped;
    piped.stdinText = "y\n"; // a pipe, not a terminal: nobody to ask
    const ProcessResult refused = withLogin({"cancel", "1", "2"}, piped);
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.err.find("--yes"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("2 shares"), std::string::npos) << refused.err;
    EXPECT_EQ(logged("/share/cancel"), 0u);
    EXPECT_EQ(listedStates(), Strings(5, "active"));
}

TEST_F(SharesCommand, OnATerminalCancelAsksNamingTheCount) {
    ASSERT_EQ(withLogin({"sync"}).exitCode, 0);
    Strings args = cliArgsAtSim({"shares", "cancel", "1", "3"});
    const Strings credentials = login();
    args.insert(args.end(), credentials.begin(), credentials.end());

    const TerminalRun declined = runCliOnTerminal(args, "[y/N]", "n");
    EXPECT_TRUE(declined.answered) << declined.shown;
    EXPECT_NE(declined.shown.find("确定取消 2 个分享吗"), std::string::npos) << declined.shown;
    EXPECT_EQ(declined.exitCode, 2);
    EXPECT_EQ(logged("/share/cancel"), 0u);

    const TerminalRun confirmed = runCliOnTerminal(args, "[y/N]", "y");
    EXPECT_TRUE(confirmed.answered) << confirmed.shown;
    EXPECT_EQ(confirmed.exitCode, 0) << confirmed.shown;
    EXPECT_EQ(logged("/share/cancel"), 1u);
    EXPECT_EQ(listedStates({"--state", "gone"}), Strings(2, "gone"));
}

TEST_F(SharesCommand, CancelExpiredWithYesCancelsThemAndKeepsTheRows) {
    expireEverything();
    ASSERT_EQ(withLogin({"sync"}).exitCode, 0);
    const ProcessResult cancelled = withLogin({"cancel", "--expired", "--yes"});
    ASSERT_EQ(cancelled.exitCode, 0) << cancelled.err;
    EXPECT_NE(cancelled.out.find("已取消 5 个分享"), std::string::npos) << cancelled.out;
    EXPECT_EQ(logged("/share/cancel"), 1u);
    EXPECT_EQ(listedStates({"--state", "gone"}), Strings(5, "gone"));
    EXPECT_EQ(readLedger(ledgerFile()).rows.size(), 5u);
}

TEST_F(SharesCommand, ReshareGoneGivesFreshLinksAsNewRows) {
    ASSERT_TRUE(simControl(sim(), "/__sim/share/cancel",
                           R"({"shareid":)" + std::to_string(firstShareId()) + "}"));
    ASSERT_EQ(withLogin({"sync"}).exitCode, 0);
    EXPECT_EQ(listedStates({"--state", "gone"}), Strings{"gone"});
    const ProcessResult reshared = withLogin({"reshare", "--gone"});
    ASSERT_EQ(reshared.exitCode, 0) << reshared.err;
    const auto rows = readLedger(ledgerFile()).rows;
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[5].fid, rows[0].fid);
    EXPECT_NE(rows[5].sharelink, rows[0].sharelink);
    EXPECT_EQ(logged("/share/set"), 6u);

    // A record whose link is active is not shared again.
    const ProcessResult active = withLogin({"reshare", "2"});
    EXPECT_EQ(active.exitCode, 0) << active.err;
    EXPECT_NE(active.err.find("record 2"), std::string::npos) << active.err;
    EXPECT_EQ(logged("/share/set"), 6u);
}

TEST_F(SharesCommand, BadIdsAndMissingChoicesAreUsageErrors) {
    EXPECT_EQ(withLogin({"cancel", "0x10", "--yes"}).exitCode, 2);
    EXPECT_EQ(withLogin({"cancel", "--yes"}).exitCode, 2);
    EXPECT_EQ(withLogin({"reshare"}).exitCode, 2);
    EXPECT_EQ(shares({"list", "--state", "dead"}).exitCode, 2);
    EXPECT_EQ(logged("/share/cancel") + logged("/share/set"), 5u);
}

} // namespace
