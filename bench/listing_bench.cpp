// Decoding a large folder listing the way the listing request reads it:
// parse the reply, count "list", then read isdir and the seven entry keys of
// every member by path. Reports the peak memory growth of one decode next to
// the reply size.

#include "base/json_document.h"
#include "listing_generator.h"
#include "memory_usage.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <charconv>
#include <string>
#include <string_view>

namespace {

using vantorel::JsonDocument;

const std::string& reply(std::size_t members) {
    static const std::string text = vantorel::bench::makeListingReply(members);
    return text;
}

void BM_ListingDecode(benchmark::State& state) {
    const auto members = static_cast<std::size_t>(state.range(0));
    const std::string& text = reply(members);
    static constexpr std::string_view kKeys[] = {
        "server_filename", "path", "local_ctime", "fs_id", "md5", "size", "thumbs.url3"};
    long peakGrowthKb = 0;
    std::size_t checksum = 0;
    std::string path;
    for (auto _ : state) {
        state.PauseTiming();
        vantorel::bench::PeakGrowth memory;
        memory.start();
        state.ResumeTiming();

        {
            JsonDocument doc;
            if (!doc.parse(text)) {
                state.SkipWithError("the generated reply did not parse");
                break;
            }
            const int n = doc.count("list");
            if (n != static_cast<int>(members)) {
                state.SkipWithError("wrong member count");
                break;
            }
            for (int i = 0; i < n; ++i) {
                path.assign("list[");
                char digits[16];
                path.append(digits, std::to_chars(digits, digits + sizeof digits, i).ptr);
                path.append("].");
                const std::size_t base = path.size();
                path.append("isdir");
                checksum += doc.getText(path).size();
                for (std::string_view key : kKeys) {
                    path.resize(base);
                    path.append(key);
                    checksum += doc.getText(path).size();
                }
            }
            benchmark::DoNotOptimize(checksum);
        } // the document's memory goes back here, inside the measured time

        state.PauseTiming();
        peakGrowthKb = std::max(peakGrowthKb, memory.stopKb());
        state.ResumeTiming();
    }
    const double replyMb = static_cast<double>(text.size()) / 1e6;
    const double peakMb = static_cast<double>(peakGrowthKb) * 1024 / 1e6;
    state.counters["reply_MB"] = replyMb;
    state.counters["peak_MB"] = peakMb;
    state.counters["peak_per_reply"] = peakMb / replyMb;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size()));
}

} // namespace

BENCHMARK(BM_ListingDecode)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
