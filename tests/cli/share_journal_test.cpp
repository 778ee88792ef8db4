// vantorel-cli share and the promise that nothing is shared twice: one run
// per ledger, the intent noted before each share request, and what a later
// run makes of an intent whose answer never came. Every case counts the
// shares the simulated service received.

#include "cli_harness.h"
#include "named_case.h"
#include "records/ledger_lock.h"
#include "records/record_store.h"
#include "sim_request_log.h"
#include "sim_state.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace vantorel;
using namespace vantorel::test;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using vantorel::test::PrintTo;

using Strings = std::vector<std::string>;

class ShareJournal : public CliSimTest {
protected:
    // A simulator on the system clock: the share list is searched from the
    // time of each intent, which a fixed clock in the past would put before
    // every share.
    bool startLiveSim(Strings args = {}) {
        if (!startSim(std::move(args)))
            return false;
        return simControl(sim(), "/__sim/config", R"({"fixed_time": null})");
    }

    std::size_t shareRequests() const {
        return requestsTo(readRequestLog(requestLog()), "/share/set").size();
    }

    // How many shares the service holds for each fs_id.
    std::map<std::string, int> sharesPerItem() const {
        std::map<std::string, int> count;
        const std::optional<SimState> state = readSimState(sim());
        EXPECT_TRUE(state);
        if (state)
            for (const SimShare& share : state->shares)
                for (const std::string& fid : share.fsIds)
                    ++count[fid];
        return count;
    }

    // How many success rows the ledger holds for each fid.
    std::map<std::string, int> rowsPerItem() const {
        std::map<std::string, int> count;
        for (const ShareRecord& row : ledgerRows(dataDir()))
            if (row.sharelink != kFailedLinkText)
                ++count[row.fid];
        return count;
    }

    void expectEachSharedOnceAndRecordedOnce(std::size_t items) const {
        const auto shares = sharesPerItem();
        EXPECT_EQ(shares.size(), items);
        for (const auto& [fid, n] : shares)
            EXPECT_EQ(n, 1) << "fs_id " << fid << " shared " << n << " times";
        EXPECT_EQ(rowsPerItem(), shares);
    }
};

// --- one run per ledger -------------------------------------------------------------

TEST_F(ShareJournal, ASecondRunIsRefusedBeforeItsFirstRequest) {
    ASSERT_TRUE(startLiveSim());
    // The first run pauses a second after each of /A's three entries.
    CliProcess first(shareArgs({"--path", "/A", "--set", "time=1"}));
    ASSERT_TRUE(first.started());
    ASSERT_TRUE(first.waitForStdout("shared\t")) << first.err();

    const std::size_t requestsBefore = readRequestLog(requestLog()).size();
    const ProcessResult second = share({"--path", "/A"});
    EXPECT_EQ(second.exitCode, 7) << describe(second);
    EXPECT_NE(second.err.find(kLedgerInUseMessage), std::string::npos) << second.err;
    EXPECT_EQ(second.out, "");
    // Not even the login was asked for.
    EXPECT_EQ(readRequestLog(requestLog()).size(), requestsBefore);

    // The records commands are not kept out.
    const ProcessResult listed = cliAtSim({"records", "list"});
    EXPECT_EQ(listed.exitCode, 0) << describe(listed);
    EXPECT_FALSE(listed.out.empty());

    const ProcessResult ended = first.finish(60s);
    EXPECT_EQ(ended.exitCode, 0) << describe(ended);
    expectEachSharedOnceAndRecordedOnce(3);

    // Once the first run is over, the lock is free again.
    const ProcessResult third = share({"--path", "/A"});
    EXPECT_EQ(third.exitCode, 0) << describe(third);
    EXPECT_EQ(shareRequests(), 3u);
}

TEST_F(ShareJournal, TwoRunsStartedTogetherShareEachItemOnce) {
    // Slow shares, so that the runs overlap whoever starts first.
    ASSERT_TRUE(startLiveSim({"--delay", "share=200"}));
    CliProcess a(shareArgs({"--path", "/我的文档"}));
    CliProcess b(shareArgs({"--path", "/我的文档"}));
    ASSERT_TRUE(a.started() && b.started());
    const ProcessResult ra = a.finish(60s);
    const ProcessResult rb = b.finish(60s);
    const std::vector<int> codes = {ra.exitCode, rb.exitCode};
    EXPECT_TRUE((codes == std::vector<int>{0, 7}) || (codes == std::vector<int>{7, 0}))
        << describe(ra) << "\n"
        << describe(rb);
    const ProcessResult& refused = ra.exitCode == 7 ? ra : rb;
    EXPECT_NE(refused.err.find(kLedgerInUseMessage), std::string::npos) << refused.err;
    // Six files, two of them with the same content: five shares.
    expectEachSharedOnceAndRecordedOnce(5);
}

// --- signals --------------------------------------------------------------------------

struct SignalCase {
    const char* name;
    int signal;
    int exitCode;
};

class StoppedBySignal : public ShareJournal, public ::testing::WithParamInterface<SignalCase> {};

TEST_P(StoppedBySignal, EndsCleanlyWithTheShellsStatusAndNoJournalFiles) {
    const SignalCase& c = GetParam();
    ASSERT_TRUE(startLiveSim());
    CliProcess run(shareArgs({"--path", "/A", "--set", "time=60"}));
    ASSERT_TRUE(run.started());
    ASSERT_TRUE(run.waitForStdout("shared\t/A/a1.txt\t")) << run.err();
    run.sendSignal(c.signal);
    const ProcessResult r = run.finish(30s);
    EXPECT_EQ(r.termSignal, 0) << describe(r);
    EXPECT_EQ(r.exitCode, c.exitCode) << describe(r);
    EXPECT_EQ(filesIn(dataDir()), (Strings{"linkledger.db", "linkledger.db.lock"}));
    EXPECT_EQ(integrityCheck(ledgerFile()), "ok");
    EXPECT_EQ(rowsPerItem().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(ShareCommand, StoppedBySignal,
                         ::testing::Values(SignalCase{"sighup", SIGHUP, 129},
                                           SignalCase{"sigterm", SIGTERM, 143},
                                           SignalCase{"sigint", SIGINT, 130}),
                         CaseName());

// --- a ledger that cannot be written -------------------------------------------------

struct UnwritableCase {
    const char* name;
    // Makes the ledger of `dataDir` unwritable; returns what undoes it.
    std::function<std::function<void()>(const fs::path& dataDir)> spoil;
    int exitCode;
    Strings reason; // each must be in the message
    long long fileSizeLimit = -1;
};

class UnwritableLedger : public ShareJournal,
                         public ::testing::WithParamInterface<UnwritableCase> {};

TEST_P(UnwritableLedger, IsFoundBeforeTheFirstShareAndNamedWithItsReason) {
    const UnwritableCase& c = GetParam();
    ASSERT_TRUE(startLiveSim());
    // Permissions bind everyone but root: run as root, the runs are the
    // unprivileged user nobody's, in a data directory made theirs.
    const bool asNobody = ::geteuid() == 0;
    if (asNobody) {
        fs::create_directories(dataDir());
        ::chmod(dataDir().parent_path().c_str(), 0711);
        ASSERT_EQ(::chown(dataDir().c_str(), 65534, 65534), 0);
    }
    auto run = [&](const Strings& args, const ProcessOptions& options) {
        if (!asNobody)
            return share(args, options);
        Strings all = {"--reuid=65534", "--regid=65534", "--clear-groups", cliBinary()};
        const Strings cli = shareArgs(args);
        all.insert(all.end(), cli.begin(), cli.end());
        return runProcess("/usr/bin/setpriv", all, cleanEnvironment(options));
    };
    // A ledger from an earlier run, which shared /A/B's one file.
    const ProcessResult before = run({"--path", "/A/B"}, {});
    ASSERT_EQ(before.exitCode, 0) << describe(before);
    ASSERT_EQ(shareRequests(), 1u);

    const std::function<void()> undo = c.spoil(dataDir());
    ProcessOptions options;
    options.fileSizeLimit = c.fileSizeLimit;
    const ProcessResult r = run({"--path", "/A"}, options);
    if (undo)
        undo();
    EXPECT_EQ(r.exitCode, c.exitCode) << describe(r);
    EXPECT_NE(r.err.find(ledgerFile().string()), std::string::npos) << r.err;
    for (const std::string& reason : c.reason)
        EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("unable to open database file"), std::string::npos) << r.err;
    EXPECT_EQ(shareRequests(), 1u) << "a share went out on a ledger that cannot record it";
    EXPECT_EQ(integrityCheck(ledgerFile()), "ok");
}

std::function<void()> chmodBack(const fs::path& path, mode_t mode) {
    return [path, mode] {
        ::chmod(path.c_str(), mode);
    };
}

INSTANTIATE_TEST_SUITE_P(
    ShareCommand, UnwritableLedger,
    ::testing::Values(UnwritableCase{"read_only_folder",
                                     [](const fs::path& dir) {
                                         ::chmod(dir.c_str(), 0555);
                                         return chmodBack(dir, 0755);
                                     },
                                     5,
                                     {"cannot be written", "Permission denied"}},
                      UnwritableCase{"read_only_file",
                                     [](const fs::path& dir) {
                                         const fs::path file = dir / kLedgerFileName;
                                         ::chmod(file.c_str(), 0444);
                                         return chmodBack(file, 0644);
                                     },
                                     5,
                                     {"cannot be written", "Permission denied"}},
                      UnwritableCase{"another_writer_holds_the_file",
                                     [](const fs::path& dir) -> std::function<void()> {
                                         auto db = std::make_shared<LedgerDb>(
                                             dir / kLedgerFileName, LedgerDb::Open::ExistingOnly);
                                         db->exec("BEGIN IMMEDIATE;");
                                         return [db] {
                                             db->exec("ROLLBACK;");
                                         };
                                     },
                                     5,
                                     {"another program is writing"}},
                      // Writes past the limit fail as they fail on a full disk.
                      UnwritableCase{"file_size_limit",
                                     [](const fs::path&) { return std::function<void()>(); },
                                     5,
                                     {"File too large"},
                                     1024}),
    CaseName());

// A disk that is full for real: a small tmpfs in a mount namespace of the
// run's own, where the simulator is still reached on 127.0.0.1.
TEST_F(ShareJournal, AFullDiskIsFoundBeforeTheFirstShare) {
    const Strings unshare =
        ::geteuid() == 0 ? Strings{"--mount"} : Strings{"--user", "--map-root-user", "--mount"};
    auto inNamespace = [&](const std::string& script) {
        Strings args = unshare;
        args.insert(args.end(), {"/bin/sh", "-c", script});
        return runProcess("/usr/bin/unshare", args, cleanEnvironment());
    };
    const ProcessResult probe = inNamespace("mount -t tmpfs -o size=64k none /mnt && echo mounted");
    if (probe.exitCode != 0 || probe.out != "mounted\n")
        GTEST_SKIP() << "this machine does not let a test mount a tmpfs of its own: "
                     << describe(probe);
    ASSERT_TRUE(startLiveSim());
    const ProcessResult before = share({"--path", "/A/B"});
    ASSERT_EQ(before.exitCode, 0) << describe(before);

    // The ledger goes onto the tmpfs, the rest of which is then filled.
    std::string script = "mount -t tmpfs -o size=256k none /mnt && mkdir /mnt/data && cp '" +
                         ledgerFile().string() +
                         "' /mnt/data/ && { cat /dev/zero > /mnt/fill 2>/dev/null; true; } && "
                         "exec '" +
                         cliBinary() + "'";
    for (const std::string& arg :
         Strings{"--data-dir", "/mnt/data", "--origin", origin(), "share", "--cookies",
                 SimProcess::loginCookieHeader(), "--set", "time=-1", "--path", "/A"})
        script += " '" + arg + "'";
    const ProcessResult r = inNamespace(script);
    EXPECT_EQ(r.exitCode, 5) << describe(r);
    EXPECT_NE(r.err.find("/mnt/data/linkledger.db"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
    EXPECT_EQ(shareRequests(), 1u) << "a share went out on a ledger that cannot record it";
}

// --- answers that never came ----------------------------------------------------------

TEST_F(ShareJournal, AReplySlowerThanTheTimeOutIsSharedOnceOverThreeRuns) {
    // The service makes the share after 1.5 s; the client gives up after 1 s.
    ASSERT_TRUE(startLiveSim({"--delay", "share=1500"}));
    for (int run = 1; run <= 3; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        const ProcessResult r = share({"--timeout", "1", "--path", "/A/B"});
        EXPECT_EQ(r.exitCode, 0) << describe(r);
    }
    const auto shares = sharesPerItem();
    ASSERT_EQ(shares.size(), 1u);
    EXPECT_EQ(shares.begin()->second, 1);
    // The share was found in the service's list and recorded.
    EXPECT_EQ(rowsPerItem(), shares);
    const auto rows = ledgerRows(dataDir());
    ASSERT_EQ(rows.size(), 1u);
    const std::optional<SimState> state = readSimState(sim());
    ASSERT_TRUE(state && state->shares.size() == 1);
    EXPECT_EQ(rows[0].sharelink, state->shares[0].link);
    EXPECT_EQ(rows[0].password, state->shares[0].pwd);
}

} // namespace
