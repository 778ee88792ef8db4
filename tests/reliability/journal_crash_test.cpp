// vantorel-cli killed with SIGKILL at random moments of runs that share and
// rename each item, against a service that answers a few milliseconds late,
// each kill followed by a run to the end. However the kill fell (before a
// share request, while the service was making the share, between the share
// and its rename, between the rename and the row), every item must end with
// exactly one share on the service, one success row that names the item as
// the service now names it, never a second prefix, and a sound ledger.
//
// The moments come from a seeded generator; the seed is printed, and
// VANTOREL_CRASH_SEED=<seed> repeats a sequence.

#include "crash_seed.h"
#include "expected_run.h"

#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <signal.h>
#include <thread>

namespace vantorel::test {
namespace {

using namespace std::chrono_literals;

constexpr int kKills = 50;
constexpr int kFiles = 8;
constexpr const char* kFolder = "/歌";
constexpr const char* kPrefix = "新_";

std::string songTree() {
    std::string tree = R"({"entries": [{"name": "歌", "children": [)";
    for (int i = 0; i < kFiles; ++i) {
        char md5[33];
        std::snprintf(md5, sizeof md5, "%032x", 0x5000 + i);
        tree += std::string(i > 0 ? "," : "") + R"({"name": "song )" + std::to_string(i) +
                R"(.mp3", "fs_id": )" + std::to_string(520000000000000 + i) + R"(, "md5": ")" +
                md5 + R"(", "size": 4000000, "mtime": )" + std::to_string(1622000000 - i) + "}";
    }
    return tree + "]}]}";
}

class JournalCrashTest : public ::testing::Test {
protected:
    void SetUp() override {
        writeFile(files_.file("tree.json"), songTree());
        // No fixed clock: the next run looks for a share made since its
        // intent was written.
        sim_ = std::make_unique<SimProcess>(std::vector<std::string>{
            "--tree", files_.file("tree.json"), "--delay", "share=6", "--delay", "rename=6"});
        ASSERT_TRUE(sim_->started()) << sim_->error();
        for (const auto& [path, item] : readSimTree(*sim_))
            if (!item.isDir)
                original_[item.fsId] = item.name;
        ASSERT_EQ(original_.size(), static_cast<std::size_t>(kFiles));
    }

    std::vector<std::string> shareArgs(const std::string& dataDir) const {
        // A short time-out keeps the wait for a share still on its way short.
        return {"--data-dir",
                dataDir,
                "--origin",
                sim_->origin(),
                "share",
                "--cookies",
                SimProcess::loginCookieHeader(),
                "--timeout",
                "1",
                "--path",
                kFolder,
                "--set",
                "ShareType=0",
                "--set",
                "time=-1",
                "--set",
                "befor=1",
                "--set",
                std::string("BeforZhui=") + kPrefix};
    }

    // Every item: one share, one success row naming it as the service does
    // now, at most one prefix; no intent left.
    void checkSettled(const std::string& dataDir) {
        const SimState state = readSimState(*sim_).value_or(SimState{});
        std::map<std::string, std::string> pathOf; // fid -> path now
        std::map<std::string, std::string> nameOf;
        for (const auto& [path, item] : readSimTree(*sim_)) {
            pathOf[item.fsId] = path;
            nameOf[item.fsId] = item.name;
        }
        const std::string file = dataDir + "/linkledger.db";
        EXPECT_EQ(integrityCheck(file), "ok");
        const LedgerRead ledger = readLedger(file);
        ASSERT_EQ(ledger.error, "");
        std::map<std::string, const LedgerRow*> rowOf;
        for (const LedgerRow& row : ledger.rows) {
            EXPECT_NE(row.sharelink, "分享失败") << row.fid;
            EXPECT_TRUE(rowOf.emplace(row.fid, &row).second) << "two rows for " << row.fid;
        }
        for (const auto& [fid, name] : original_) {
            SCOPED_TRACE(name);
            EXPECT_EQ(shareCount(state, fid), 1);
            EXPECT_NE(nameOf[fid].rfind(std::string(kPrefix) + kPrefix, 0), 0u)
                << "renamed twice: " << nameOf[fid];
            const auto row = rowOf.find(fid);
            if (row == rowOf.end()) {
                ADD_FAILURE() << "no row";
                continue;
            }
            const SimShare* share = findShare(state, fid);
            ASSERT_NE(share, nullptr);
            EXPECT_EQ(row->second->sharelink, share->link);
            EXPECT_EQ(row->second->path, pathOf[fid]);
            EXPECT_EQ(row->second->beforename, name);
            EXPECT_EQ(row->second->aftername, nameOf[fid] == name ? "" : nameOf[fid]);
        }
        LedgerDb db(file, LedgerDb::Open::ExistingOnly);
        const auto intents = db.query("SELECT fid FROM linkledger_intent;");
        EXPECT_TRUE(intents.rows.empty()) << intents.rows.size() << " intents left";
    }

    TempDir files_;
    std::unique_ptr<SimProcess> sim_;
    std::map<std::string, std::string> original_; // fid -> name in the tree
};

TEST_F(JournalCrashTest, KilledRenamingRunsAreFollowedByRunsThatShareAndRenameNothingTwice) {
    std::mt19937_64 random = crashRandom();

    int kills = 0;
    int attempts = 0;
    int settledAfterKill = 0; // kills that left a share for the next run to find
    while (kills < kKills && !HasFailure()) {
        ++attempts;
        ASSERT_TRUE(simControl(*sim_, "/__sim/reset"));
        TempDir data;
        const auto killAfter =
            std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 250)(random));
        SCOPED_TRACE("attempt " + std::to_string(attempts) + ", kill after " +
                     std::to_string(killAfter.count()) + " ms");

        CliProcess killed(shareArgs(data.path()));
        ASSERT_TRUE(killed.started());
        const auto deadline = std::chrono::steady_clock::now() + killAfter;
        while (std::chrono::steady_clock::now() < deadline && killed.running())
            std::this_thread::sleep_for(1ms);
        if (killed.running())
            killed.sendSignal(SIGKILL);
        const ProcessResult first = killed.finish(60s);
        if (first.termSignal != SIGKILL) {
            ASSERT_EQ(first.exitCode, 0) << describe(first);
            continue; // it ended before the kill: not one of the fifty
        }
        ++kills;
        const SimState afterKill = readSimState(*sim_).value_or(SimState{});
        const std::size_t rowsAfterKill = ledgerRows(data.path()).size();

        const ProcessResult next = runCli(shareArgs(data.path()));
        ASSERT_EQ(next.exitCode, 0) << describe(next);
        checkSettled(data.path());
        // A share the kill kept from its row is recorded by the next run
        // without a second share request for it.
        if (afterKill.shares.size() > rowsAfterKill)
            ++settledAfterKill;
    }
    std::cout << kills << " kills over " << attempts << " runs; " << settledAfterKill
              << " left a share without its row for the next run to find" << std::endl;
    EXPECT_EQ(kills, kKills);
}

} // namespace
} // namespace vantorel::test
