// One full listing of a large ledger in the records window: the query, the
// grid model's rows and the view's first layout and paint of them, as the
// user waits for them after pressing "查询". Reports the peak memory growth
// of one listing and the rows listed.

#include "memory_usage.h"
#include "records/ledger_sql.h"
#include "records/record_store.h"
#include "ui/records_window.h"

#include <QApplication>
#include <QTableView>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <filesystem>
#include <sqlite3.h>
#include <string>

namespace {
namespace fs = std::filesystem;
using vantorel::RecordStore;

constexpr std::int64_t kRows = 100'000;

fs::path ledgerFile() {
    return fs::temp_directory_path() / "vantorel-bench-ledger-100k.db";
}

bool complete(const fs::path& file) {
    sqlite3* db = nullptr;
    bool ok = false;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* count = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT count(*) FROM linkledger_table", -1, &count, nullptr) ==
                SQLITE_OK &&
            sqlite3_step(count) == SQLITE_ROW)
            ok = sqlite3_column_int64(count, 0) == kRows;
        sqlite3_finalize(count);
    }
    sqlite3_close(db);
    return ok;
}

// Rows shaped like a heavy user's: Chinese folder and file names, links,
// codes, share times, every tenth a failure.
std::string build(const fs::path& file) {
    fs::remove(file);
    sqlite3* db = nullptr;
    if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) {
        sqlite3_close(db);
        return "cannot create " + file.string();
    }
    auto exec = [db](const char* sql) {
        return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    };
    sqlite3_stmt* insert = nullptr;
    bool ok =
        exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;") &&
        exec(vantorel::ledger_sql::kCreateTable) && exec("BEGIN;") &&
        sqlite3_prepare_v2(db, vantorel::ledger_sql::kInsert, -1, &insert, nullptr) == SQLITE_OK;
    for (std::int64_t n = 0; ok && n < kRows; ++n) {
        const bool failed = n % 10 == 9;
        const std::string number = std::to_string(n);
        const std::string name = "课程录像 第" + number + "讲.mp4";
        const std::string values[13] = {
            "0",
            "/资料/课程录像/" + std::to_string(n / 1000) + "/" + name,
            name,
            n % 3 == 0 ? "[分享] " + name : "",
            failed ? std::string(vantorel::kFailedLinkText)
                   : "https://pan.example/s/1Abc" + number + "XyZ0123456789",
            failed ? "" : "ab" + std::to_string(n % 100),
            failed ? "" : "2024-05-" + std::to_string(10 + n % 20) + " 12:34:56",
            "1.5G",
            failed ? "" : "0123456789abcdef0123456789ab" + std::to_string(1000 + n % 9000),
            "https://thumbs.example/" + number,
            std::to_string(500'000'000'000'000 + n * 7919),
            "bench_user",
            "other"};
        for (int i = 0; i < 13; ++i)
            sqlite3_bind_text(insert, i + 1, values[i].c_str(), static_cast<int>(values[i].size()),
                              SQLITE_TRANSIENT);
        ok = sqlite3_step(insert) == SQLITE_DONE;
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    ok = ok && exec("COMMIT;");
    std::string error = ok ? "" : std::string("cannot build the ledger: ") + sqlite3_errmsg(db);
    sqlite3_close(db);
    return error;
}

RecordStore* ledger(std::string& error) {
    static RecordStore store;
    static const std::string problem = [] {
        const fs::path file = ledgerFile();
        if (!complete(file)) {
            std::string built = build(file);
            if (!built.empty())
                return built;
        }
        const vantorel::Status opened = store.openOrCreate(file);
        return opened ? std::string() : opened.error().message;
    }();
    error = problem;
    return problem.empty() ? &store : nullptr;
}

// One application for the benchmark program, on the offscreen platform
// unless another is asked for; it lives until the process ends.
void ensureApplication() {
    if (QApplication::instance() != nullptr)
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "vantorel-bench";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

void BM_RecordsGridLoad(benchmark::State& state) {
    std::string error;
    RecordStore* store = ledger(error);
    if (store == nullptr) {
        state.SkipWithError(error.c_str());
        return;
    }
    ensureApplication();
    vantorel::gui::RecordsWindow window(*store);
    window.show();
    QCoreApplication::processEvents();

    long peakGrowthKb = 0;
    int rows = 0;
    for (auto _ : state) {
        state.PauseTiming();
        window.model()->clear(); // each listing starts from an empty grid
        vantorel::bench::PeakGrowth memory;
        memory.start();
        state.ResumeTiming();

        window.query();
        QTableView* grid = window.grid();
        grid->doItemsLayout();
        grid->viewport()->repaint();
        rows = window.model()->rowCount();

        state.PauseTiming();
        peakGrowthKb = std::max(peakGrowthKb, memory.stopKb());
        state.ResumeTiming();
    }
    if (rows != kRows) {
        state.SkipWithError("the grid did not list every record");
        return;
    }
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["peak_growth_MB"] = static_cast<double>(peakGrowthKb) * 1024 / 1e6;
}

} // namespace

BENCHMARK(BM_RecordsGridLoad)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
