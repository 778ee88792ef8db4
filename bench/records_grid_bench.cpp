// One full listing of a large ledger in the records window: the query, the
// grid model's rows and the view's first layout and paint of them, as the
// user waits for them after pressing "查询". Reports the peak memory growth
// of one listing and the rows listed.

#include "bench_ledger.h"
#include "memory_usage.h"
#include "records/record_store.h"
#include "ui/records_window.h"

#include <QApplication>
#include <QTableView>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <filesystem>
#include <string>

namespace {
namespace fs = std::filesystem;
using vantorel::RecordStore;
using vantorel::bench::ensureLedgerFile;
using vantorel::bench::LedgerRow;

constexpr std::int64_t kRows = 100'000;

fs::path ledgerFile() {
    return fs::temp_directory_path() / "vantorel-bench-ledger-100k.db";
}

// Rows shaped like a heavy user's: Chinese folder and file names, links,
// codes, share times, every tenth a failure.
LedgerRow gridRow(std::int64_t n) {
    const bool failed = n % 10 == 9;
    const std::string number = std::to_string(n);
    const std::string name = "课程录像 第" + number + "讲.mp4";
    return {"0",
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
}

RecordStore* ledger(std::string& error) {
    static RecordStore store;
    static const std::string problem = [] {
        const fs::path file = ledgerFile();
        if (std::string built = ensureLedgerFile(file, kRows, gridRow); !built.empty())
            return built;
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
