// Request throughput of the HTTP layer over loopback: sequential GETs of a
// small body from the simulated service through one reused client, so every
// request after the first rides the same kept-alive connection, as a share
// run's requests do.

#include "base/http_request.h"
#include "netdisk/service_headers.h"
#include "sim_process.h"

#include <benchmark/benchmark.h>
#include <string>

namespace {

void BM_HttpLoopback(benchmark::State& state) {
    vantorel::test::SimProcess sim;
    if (!sim.started()) {
        state.SkipWithError(("netdisk-sim did not start: " + sim.error()).c_str());
        return;
    }
    vantorel::HttpClient client;
    std::string cookies = vantorel::test::SimProcess::loginCookieHeader();
    vantorel::HttpRequestOptions options;
    options.client = &client;
    options.cookies = &cookies;
    options.extraHeaders = vantorel::listingHeaders();
    // A fixed reply of a dozen bytes: what is timed is the exchange itself.
    const std::string url = sim.origin() + "/__sim/ping";

    for (auto _ : state) {
        const vantorel::HttpResponse response = vantorel::HttpRequest::perform(url, options);
        if (response.status != 200) {
            state.SkipWithError("request failed");
            break;
        }
        benchmark::DoNotOptimize(response.body.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HttpLoopback)->UseRealTime()->MinTime(2.0);

} // namespace
