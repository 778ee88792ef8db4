// A whole share run end to end: the share engine on its worker thread, the web
// API client over loopback to the simulated service, and the ledger of a heavy
// user's size. The engine's own cost per entry (lookup, request, row) must
// stay far below the service's response time.

#include "bench_ledger.h"
#include "bench_service.h"
#include "netdisk/netdisk_client.h"
#include "records/record_store.h"
#include "share/share_run.h"
#include "sim_process.h"
#include "sim_state.h"

#include <benchmark/benchmark.h>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace vantorel;
using vantorel::test::SimProcess;
namespace fs = std::filesystem;

constexpr int kFiles = 2000;

class EndObserver final : public ShareObserver {
public:
    void runFinished(const RunSummary&) override {
        {
            std::lock_guard lock(mutex_);
            ended_ = true;
        }
        ended.notify_all();
    }
    void wait() {
        std::unique_lock lock(mutex_);
        ended.wait(lock, [this] { return ended_; });
        ended_ = false;
    }

private:
    std::mutex mutex_;
    std::condition_variable ended;
    bool ended_ = false;
};

// A copy of a ledger file in the temporary directory, removed again.
struct LedgerCopy {
    explicit LedgerCopy(const fs::path& source)
        : file(fs::temp_directory_path() /
               ("vantorel-bench-share-ledger-" + std::to_string(::getpid()) + ".db")) {
        std::error_code ec;
        fs::copy_file(source, file, fs::copy_options::overwrite_existing, ec);
        if (ec)
            error = "cannot copy " + source.string() + ": " + ec.message();
    }
    ~LedgerCopy() {
        std::error_code ec;
        fs::remove(file, ec);
        fs::remove(fs::path(file.string() + "-journal"), ec);
    }
    LedgerCopy(const LedgerCopy&) = delete;
    LedgerCopy& operator=(const LedgerCopy&) = delete;

    fs::path file;
    std::string error;
};

// The rows a run added after `lastId`, deleted again so that the next run
// finds its entries unrecorded and the ledger keeps its size.
bool removeRowsAfter(RecordStore& ledger, std::int64_t lastId, std::string& error) {
    RecordFilter added;
    added.afterId = lastId;
    auto rows = ledger.selectRecords(added);
    if (!rows) {
        error = rows.error().message;
        return false;
    }
    std::vector<std::int64_t> ids;
    for (const ShareRecord& row : *rows)
        ids.push_back(row.id);
    auto deleted = ledger.deleteByIds(ids);
    if (!deleted) {
        error = deleted.error().message;
        return false;
    }
    return true;
}

void BM_ShareEngineLoopback(benchmark::State& state) {
    // A private copy of the large ledger, so that the rows a run adds never
    // reach the file other benchmarks (and later runs) share.
    std::string error;
    const fs::path source = bench::millionRowLedgerFile(error);
    if (source.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    const LedgerCopy copy(source);
    RecordStore ledger;
    if (const Status opened =
            copy.error.empty() ? ledger.openOrCreate(copy.file) : Status(Error{copy.error, 0});
        !opened) {
        state.SkipWithError(opened.error().message.c_str());
        return;
    }
    // Every file in the folder that is shared, none in sub-folders.
    const std::optional<bench::BenchService> service = bench::startBenchService(state, kFiles);
    if (!service)
        return;
    const SimProcess& sim = *service->sim;
    const ConnectionSettings& connection = service->connection;
    const std::int64_t lastId = bench::kLedgerRows;

    LoginContext login = bench::benchLogin();
    login.currentPath = "%2F";
    login.selectionJson = "[]";
    ShareOptions options;
    options.shareType = ShareType::Files;
    options.intervalSeconds = 0;

    EndObserver observer;
    ShareRun run(ledger, observer, [&connection](LoginContext& context, std::stop_token stop) {
        return std::make_unique<NetdiskClient>(connection, context, std::move(stop));
    });

    std::int64_t entries = 0;
    std::int64_t shared = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // Fresh items: the service forgets its shares and the ledger the
        // rows of the run before.
        const bool reset = test::simControl(sim, "/__sim/reset");
        const bool cleared = removeRowsAfter(ledger, lastId, error);
        state.ResumeTiming();
        if (!reset || !cleared) {
            state.SkipWithError(reset ? error.c_str() : "the simulator did not reset");
            break;
        }

        if (const Status started = run.start(login, options); !started) {
            state.SkipWithError(started.error().message.c_str());
            break;
        }
        observer.wait();
        run.wait();
        const RunSummary summary = run.summary();
        if (summary.end != RunEnd::Completed || summary.failed != 0 ||
            summary.shared + summary.skipped != kFiles) {
            state.SkipWithError("the run did not share every entry");
            break;
        }
        entries += kFiles;
        shared += summary.shared;
    }
    state.SetItemsProcessed(entries);
    state.counters["shared"] =
        benchmark::Counter(static_cast<double>(shared), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ShareEngineLoopback)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
