// vantorel-cli killed with SIGKILL at random moments of a share run: while it
// lists, while a share request is out, while it writes a row, while it
// pauses. After every kill the ledger must be a sound database of whole
// rows, and the next run must carry on where the killed one stopped without
// sharing again anything the ledger records as shared.
//
// The moments come from a seeded generator; the seed is printed, and
// VANTOREL_CRASH_SEED=<seed> repeats a sequence.

#include "crash_seed.h"
#include "expected_run.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <signal.h>
#include <thread>

namespace vantorel::test {
namespace {

using namespace std::chrono_literals;

constexpr int kKills = 50;
constexpr int kFiles = 200;
constexpr int kFolders = 20;
constexpr const char* kFolder = "/崩溃";

std::string crashTree() {
    std::string tree = R"({"entries": [{"name": "崩溃", "children": [)";
    for (int i = 0; i < kFolders; ++i) {
        tree += R"({"name": "dir )" + std::to_string(i) + R"(", "fs_id": )" +
                std::to_string(410000000000000 + i) + R"(, "mtime": )" +
                std::to_string(1621000000 - i) + R"(, "children": []},)";
    }
    for (int i = 0; i < kFiles; ++i) {
        char md5[33];
        std::snprintf(md5, sizeof md5, "%032x", 0xabc000 + i);
        if (i > 0)
            tree += ",";
        tree += R"({"name": "文件 )" + std::to_string(i) + R"('s.txt", "fs_id": )" +
                std::to_string(400000000000000 + i) + R"(, "size": )" + std::to_string(i * 1000) +
                R"(, "md5": ")" + md5 + R"(", "mtime": )" + std::to_string(1622000000 - i) +
                (i % 7 == 0 ? R"(, "thumbs": true)" : "") + "}";
    }
    return tree + "]}]}";
}

// Items the service refuses for good, so that failure rows are written too.
const std::set<std::string>& refusedFids() {
    static const std::set<std::string> fids = {"400000000000003", "400000000000077",
                                               "400000000000150", "410000000000004",
                                               "410000000000017"};
    return fids;
}

class CrashSafetyTest : public ::testing::Test {
protected:
    void SetUp() override {
        writeFile(files_.file("tree.json"), crashTree());
        std::vector<std::string> args = {"--tree", files_.file("tree.json"), "--fixed-time",
                                         "1622100000"};
        for (const std::string& fid : refusedFids()) {
            args.push_back("--share-errno");
            args.push_back(fid + "=115");
        }
        sim_ = std::make_unique<SimProcess>(args);
        ASSERT_TRUE(sim_->started()) << sim_->error();
        for (const ListedMember& entry : fetchListing(*sim_, kFolder))
            entries_[entry.fsId] = entry;
        ASSERT_EQ(entries_.size(), static_cast<std::size_t>(kFiles + kFolders));
        data_ = std::make_unique<TempDir>();
    }

    std::string ledgerFile() const { return data_->file("linkledger.db"); }

    std::vector<std::string> shareArgs(int intervalSeconds) const {
        return {"--data-dir",
                data_->path(),
                "--origin",
                sim_->origin(),
                "share",
                "--cookies",
                SimProcess::loginCookieHeader(),
                "--path",
                kFolder,
                "--set",
                "ShareType=0",
                "--set",
                "time=" + std::to_string(intervalSeconds)};
    }

    // Every row is one of the two rows the run writes for its item, whole.
    // Returns the fids with a success row.
    std::set<std::string> checkRows(const SimState& state) {
        std::set<std::string> shared;
        if (!std::filesystem::exists(ledgerFile()))
            return shared;
        EXPECT_EQ(integrityCheck(ledgerFile()), "ok");
        const LedgerRead ledger = readLedger(ledgerFile());
        EXPECT_EQ(ledger.error, "");
        if (ledger.empty)
            ++emptyLedgers_;
        std::map<std::string, const SimShare*> byLink;
        for (const SimShare& share : state.shares)
            byLink[share.link] = &share;
        for (const LedgerRow& row : ledger.rows) {
            const auto entry = entries_.find(row.fid);
            if (entry == entries_.end()) {
                ADD_FAILURE() << "a row for no listed item: " << ::testing::PrintToString(row);
                continue;
            }
            const SharePass pass = entry->second.isdir == "1" ? SharePass::Folder : SharePass::File;
            if (row.sharelink == "分享失败") {
                EXPECT_EQ(refusedFids().count(row.fid), 1u) << row.fid;
                EXPECT_EQ(row, expectedFailureRow(entry->second, pass, state.user));
                continue;
            }
            const auto share = byLink.find(row.sharelink);
            if (share == byLink.end()) {
                ADD_FAILURE() << "a link the service never made: " << ::testing::PrintToString(row);
                continue;
            }
            EXPECT_EQ(share->second->fsIds, std::vector<std::string>{row.fid});
            EXPECT_EQ(row, expectedSuccessRow(entry->second, pass, *share->second, state.user));
            EXPECT_TRUE(shared.insert(row.fid).second) << "two success rows for " << row.fid;
        }
        return shared;
    }

    // The run that was not killed finished the folder: every item has its
    // success row, or for the refused ones a failure row.
    void checkComplete(const std::set<std::string>& shared) {
        const LedgerRead ledger = readLedger(ledgerFile());
        std::set<std::string> failed;
        for (const LedgerRow& row : ledger.rows)
            if (row.sharelink == "分享失败")
                failed.insert(row.fid);
        for (const auto& [fid, entry] : entries_) {
            if (refusedFids().count(fid) > 0) {
                EXPECT_EQ(failed.count(fid), 1u) << entry.path;
                EXPECT_EQ(shared.count(fid), 0u) << entry.path;
            } else {
                EXPECT_EQ(shared.count(fid), 1u) << entry.path << " is not recorded as shared";
            }
        }
    }

    TempDir files_;
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<TempDir> data_;
    std::map<std::string, ListedMember> entries_;
    int emptyLedgers_ = 0; // kills before the ledger's table was made
};

TEST_F(CrashSafetyTest, KilledRunsLeaveAWholeLedgerAndNoItemIsSharedTwice) {
    std::mt19937_64 random = crashRandom();

    int kills = 0;
    int runs = 0;
    int completedRuns = 0;
    int killedWithShareUnrecorded = 0;
    std::set<std::string> shared; // fids with a success row before this run
    SimState before = readSimState(*sim_).value_or(SimState{});

    // Every fifth run pauses a second after each item, so that kills land in
    // the pause as well as in requests and inserts.
    while (kills < kKills && !HasFailure()) {
        ++runs;
        const bool pausing = runs % 5 == 0;
        const auto killAfter = std::chrono::milliseconds(
            std::uniform_int_distribution<int>(0, pausing ? 2500 : 1200)(random));
        SCOPED_TRACE("run " + std::to_string(runs) + ", kill after " +
                     std::to_string(killAfter.count()) + " ms");

        CliProcess cli(shareArgs(pausing ? 1 : -1));
        ASSERT_TRUE(cli.started());
        const auto deadline = std::chrono::steady_clock::now() + killAfter;
        while (std::chrono::steady_clock::now() < deadline && cli.running())
            std::this_thread::sleep_for(1ms);
        if (cli.running())
            cli.sendSignal(SIGKILL);
        // The run may still have ended by itself just before the signal.
        const ProcessResult result = cli.finish(120s);
        const bool killed = result.termSignal == SIGKILL;
        if (killed)
            ++kills;
        else
            ASSERT_EQ(result.exitCode, 0) << describe(result);

        const SimState after = readSimState(*sim_).value_or(SimState{});
        // Nothing the ledger held as shared when the run began was shared
        // again by it.
        for (std::size_t i = before.shares.size(); i < after.shares.size(); ++i)
            for (const std::string& fid : after.shares[i].fsIds)
                EXPECT_EQ(shared.count(fid), 0u) << "shared again: " << entries_[fid].path;
        const std::set<std::string> nowShared = checkRows(after);
        for (const std::string& fid : shared)
            EXPECT_EQ(nowShared.count(fid), 1u) << "a success row went missing: " << fid;

        if (killed) {
            // A share the service made whose row the kill prevented: the
            // next run shares that item again, as it must.
            for (std::size_t i = before.shares.size(); i < after.shares.size(); ++i)
                if (nowShared.count(after.shares[i].fsIds.front()) == 0)
                    ++killedWithShareUnrecorded;
            shared = nowShared;
            before = after;
            continue;
        }

        // A run that ended by itself completed the folder; start over.
        ++completedRuns;
        checkComplete(nowShared);
        data_ = std::make_unique<TempDir>();
        ASSERT_TRUE(simControl(*sim_, "/__sim/reset"));
        shared.clear();
        before = readSimState(*sim_).value_or(SimState{});
    }

    // And a last run, not killed, finishes what the last kill left.
    const ProcessResult last = runCli(shareArgs(-1));
    ASSERT_EQ(last.exitCode, 0) << describe(last);
    const SimState after = readSimState(*sim_).value_or(SimState{});
    for (std::size_t i = before.shares.size(); i < after.shares.size(); ++i)
        for (const std::string& fid : after.shares[i].fsIds)
            EXPECT_EQ(shared.count(fid), 0u) << "shared again: " << entries_[fid].path;
    checkComplete(checkRows(after));

    std::cout << kills << " kills over " << runs << " runs (" << completedRuns
              << " ran to the end); " << killedWithShareUnrecorded
              << " kills fell between a share and its row, " << emptyLedgers_
              << " before the ledger's table existed" << std::endl;
    EXPECT_EQ(kills, kKills);
}

// Ctrl-C at random moments: the run stops as the stop command stops it. Its
// worker, the signal watcher and the ledger meet on several threads here,
// which is what the ThreadSanitizer build watches. Unlike a kill, a stop
// records every share whose answer came back; only a request abandoned in
// flight can leave a share without its row.
TEST_F(CrashSafetyTest, InterruptedRunsStopCleanlyAndLoseNoAnsweredShare) {
    const std::uint64_t seed = crashSeed();
    std::cout << "interrupt seed: " << seed << std::endl;
    std::mt19937_64 random(seed);
    std::set<std::string> shared;
    SimState before = readSimState(*sim_).value_or(SimState{});
    int interrupts = 0;
    for (int run = 1; run <= 12 && !HasFailure(); ++run) {
        const bool pausing = run % 3 == 0;
        const auto stopAfter = std::chrono::milliseconds(
            std::uniform_int_distribution<int>(50, pausing ? 2000 : 1000)(random));
        SCOPED_TRACE("run " + std::to_string(run) + ", interrupt after " +
                     std::to_string(stopAfter.count()) + " ms");
        CliProcess cli(shareArgs(pausing ? 1 : -1));
        ASSERT_TRUE(cli.started());
        const auto deadline = std::chrono::steady_clock::now() + stopAfter;
        while (std::chrono::steady_clock::now() < deadline && cli.running())
            std::this_thread::sleep_for(1ms);
        if (cli.running())
            cli.sendSignal(SIGINT);
        const ProcessResult result = cli.finish(60s);
        // 130 once the watcher is in place; before that the default action
        // ends the process by the signal, which a shell reports as 130 too.
        const bool interrupted = result.exitCode == 130 || result.termSignal == SIGINT;
        EXPECT_TRUE(interrupted || result.exitCode == 0) << describe(result);
        interrupts += interrupted ? 1 : 0;

        const SimState after = readSimState(*sim_).value_or(SimState{});
        const std::set<std::string> nowShared = checkRows(after);
        int unrecorded = 0;
        for (std::size_t i = before.shares.size(); i < after.shares.size(); ++i) {
            const std::string& fid = after.shares[i].fsIds.front();
            EXPECT_EQ(shared.count(fid), 0u) << "shared again: " << entries_[fid].path;
            unrecorded += nowShared.count(fid) == 0 ? 1 : 0;
        }
        EXPECT_LE(unrecorded, 1) << "shares whose answer came back but were not recorded";
        shared = nowShared;
        before = after;
        if (result.exitCode == 0) {
            checkComplete(nowShared);
            data_ = std::make_unique<TempDir>();
            ASSERT_TRUE(simControl(*sim_, "/__sim/reset"));
            shared.clear();
            before = readSimState(*sim_).value_or(SimState{});
        }
    }
    std::cout << interrupts << " runs interrupted" << std::endl;
    // Every third run pauses a second per item, so a Ctrl-C always lands in
    // it; the others may finish first on a fast machine.
    EXPECT_GE(interrupts, 4);
}

} // namespace
} // namespace vantorel::test
