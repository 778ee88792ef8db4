// A large folder as today's service hands it out: 100,000 entries in 100
// pages of 1,000, fetched and decoded by the real client from the simulated
// service on loopback. Reports the time of the whole listing and its peak
// memory growth; the simulator's own work is part of the time, as the
// service's is for a user.

#include "bench_service.h"
#include "memory_usage.h"
#include "netdisk/netdisk_client.h"
#include "sim_client.h"
#include "sim_process.h"

#include <benchmark/benchmark.h>
#include <string>

namespace {

using namespace vantorel;
using vantorel::test::SimProcess;

constexpr int kEntries = 100000;

void BM_ListingPaged(benchmark::State& state) {
    const std::optional<vantorel::bench::BenchService> service =
        vantorel::bench::startBenchService(state, kEntries);
    if (!service)
        return;
    const SimProcess& sim = *service->sim;
    const ConnectionSettings& connection = service->connection;
    LoginContext login = vantorel::bench::benchLogin();

    // The simulator sorts a folder once, on its first listing; that is not
    // the client's cost. The client's first listing is measured as it is, so
    // that its memory comes fresh from the system.
    auto warm = vantorel::test::makeSimClient(sim);
    const auto sorted = warm->Get(
        std::string("/api/list?dir=%2F&order=time&desc=1&num=1&bdstoken=") + SimProcess::kBdstoken,
        {{"Cookie", SimProcess::loginCookieHeader()}});
    if (!sorted || sorted->status != 200) {
        state.SkipWithError("the simulator did not list the folder");
        return;
    }

    long peakKb = 0;
    for (auto _ : state) {
        state.PauseTiming();
        vantorel::bench::PeakGrowth memory;
        memory.start();
        state.ResumeTiming();
        {
            NetdiskClient client(connection, login);
            const Expected<Listing> listing = client.fetchListing("%2F");
            if (!listing || listing->files.size() != kEntries) {
                state.SkipWithError("the listing was not whole");
                break;
            }
            benchmark::DoNotOptimize(listing->files.data());
        }
        state.PauseTiming();
        peakKb = std::max(peakKb, memory.stopKb());
        state.ResumeTiming();
    }
    state.counters["entries"] = kEntries;
    state.counters["peak_growth_MB"] = static_cast<double>(peakKb) / 1024.0;
}

BENCHMARK(BM_ListingPaged)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
