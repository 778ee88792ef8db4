// A heavy sharer's sync: 100,000 shares on the simulated service, read by
// the real client over loopback in 1,000 pages of 100, matched against a
// ledger of 100,000 successful rows and stored a page per transaction.
// Reports the time of the whole sync and its peak memory growth; the
// simulator's own work is part of the time, as the service's is for a user.

#include "bench_service.h"
#include "memory_usage.h"
#include "netdisk/netdisk_client.h"
#include "records/ledger_sql.h"
#include "records/record_store.h"
#include "share/share_sync.h"
#include "sim_process.h"
#include "sim_state.h"
#include "temp_dir.h"

#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <sqlite3.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace vantorel;
using vantorel::test::SimProcess;

constexpr int kShares = 100000;

// The ledger as a share run would have left it for those shares, written in
// one transaction; the empty string, or why it could not be.
std::string writeLedger(const std::string& file, const rapidjson::Value& shares) {
    sqlite3* db = nullptr;
    if (sqlite3_open(file.c_str(), &db) != SQLITE_OK)
        return "cannot create the ledger";
    std::string error;
    sqlite3_stmt* insert = nullptr;
    if (sqlite3_exec(db, ledger_sql::kCreateTable, nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_exec(db, "BEGIN;", nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(db, ledger_sql::kInsert, -1, &insert, nullptr) != SQLITE_OK)
        error = sqlite3_errmsg(db);
    for (rapidjson::SizeType i = 0; error.empty() && i < shares.Size(); ++i) {
        const rapidjson::Value& s = shares[i];
        const std::string path = s["path"].GetString();
        const std::string fid = std::to_string(s["fs_id"].GetUint64());
        const std::string texts[13] = {"0",
                                       path,
                                       path.substr(path.rfind('/') + 1),
                                       "",
                                       s["link"].GetString(),
                                       s["pwd"].GetString(),
                                       "2021-05-27 15:17:58",
                                       "1.0M",
                                       s["md5"].GetString(),
                                       "",
                                       fid,
                                       SimProcess::kUser,
                                       "other"};
        for (int c = 0; c < 13; ++c)
            sqlite3_bind_text(insert, c + 1, texts[c].c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(insert) != SQLITE_DONE)
            error = sqlite3_errmsg(db);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    if (error.empty() && sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr) != SQLITE_OK)
        error = sqlite3_errmsg(db);
    sqlite3_close(db);
    return error;
}

// Has the simulator make the shares, then writes their ledger.
std::string makeSharesAndLedger(const SimProcess& sim, const std::string& file) {
    const std::optional<std::string> made = vantorel::test::makeBulkShares(sim, kShares, 7);
    if (!made)
        return "the simulator made no shares";
    rapidjson::Document doc;
    doc.Parse(made->c_str());
    if (!doc.IsObject() || !doc.HasMember("shares"))
        return "the simulator's shares are not JSON";
    return writeLedger(file, doc["shares"]);
}

void BM_ShareSync(benchmark::State& state) {
    const std::optional<vantorel::bench::BenchService> service =
        vantorel::bench::startBenchService(state, kShares);
    if (!service)
        return;
    const SimProcess& sim = *service->sim;
    vantorel::test::TempDir dir;
    const std::string file = dir.file("linkledger.db");
    // The shares and the ledger are made in a child process, so that the
    // memory their large JSON takes is not what the sync is measured by.
    const pid_t child = fork();
    if (child == 0)
        _exit(makeSharesAndLedger(sim, file).empty() ? 0 : 1);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        state.SkipWithError("the shares or the ledger could not be made");
        return;
    }
    RecordStore ledger;
    if (!ledger.openOrCreate(file)) {
        state.SkipWithError("cannot open the ledger");
        return;
    }
    const ConnectionSettings& connection = service->connection;
    LoginContext login = vantorel::bench::benchLogin();

    long peakKb = 0;
    for (auto _ : state) {
        state.PauseTiming();
        vantorel::bench::PeakGrowth memory;
        memory.start();
        state.ResumeTiming();
        {
            NetdiskClient client(connection, login);
            const SyncSummary summary = syncShares(client, ledger, login.userName, 1622099878);
            if (!summary.ok() || summary.rowsMatched != kShares || summary.pages != 1001) {
                state.SkipWithError(("the sync was not whole: " + summary.error).c_str());
                break;
            }
        }
        state.PauseTiming();
        peakKb = std::max(peakKb, memory.stopKb());
        state.ResumeTiming();
    }
    state.counters["shares"] = kShares;
    state.counters["peak_growth_MB"] = static_cast<double>(peakKb) / 1024.0;
}

BENCHMARK(BM_ShareSync)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

} // namespace
