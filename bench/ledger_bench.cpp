// The lookup a share run makes before every item, on a ledger of a heavy
// user's size. It must stay far below the time of one web request, however
// large the ledger grows.

#include "bench_ledger.h"
#include "records/record_store.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <string>

namespace {
using vantorel::RecordStore;
using namespace vantorel::bench;

// Keys in a scattered order, about half of them in the ledger, so that
// neither the page cache nor the statement sees the same key twice in a row.
template <class Lookup> void lookups(benchmark::State& state, Lookup lookup) {
    std::string error;
    RecordStore* store = millionRowLedger(error);
    if (!store) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::int64_t step = 0;
    std::int64_t found = 0;
    for (auto _ : state) {
        const auto n = static_cast<std::int64_t>(mix(static_cast<std::uint64_t>(step++)) %
                                                 static_cast<std::uint64_t>(2 * kLedgerRows));
        const vantorel::Expected<bool> hit = lookup(*store, n);
        if (!hit) {
            state.SkipWithError(hit.error().message.c_str());
            return;
        }
        found += *hit ? 1 : 0;
    }
    state.counters["found"] =
        benchmark::Counter(static_cast<double>(found), benchmark::Counter::kAvgIterations);
}

void BM_LedgerLookupFid(benchmark::State& state) {
    lookups(state, [](RecordStore& store, std::int64_t n) { return store.findByFid(fidOf(n)); });
}

void BM_LedgerLookupMd5(benchmark::State& state) {
    lookups(state, [](RecordStore& store, std::int64_t n) { return store.findByMd5(md5Of(n)); });
}

} // namespace

BENCHMARK(BM_LedgerLookupFid)->Name("BM_LedgerLookup/fid");
BENCHMARK(BM_LedgerLookupMd5)->Name("BM_LedgerLookup/md5");
