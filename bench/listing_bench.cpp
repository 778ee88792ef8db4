// Decoding folder listings the way the listing request reads them: parse the
// reply, count "list", then read isdir and the seven entry keys of every
// member by path. BM_ListingDecode decodes one reply (a page of 1,000
// entries, or a whole folder of 100,000 in one reply); BM_ListingDecodePages
// decodes a folder of 100,000 as the service now hands it out, in 100 pages
// of 1,000, each in a fresh document. Both report the peak memory growth
// next to the reply size.

#include "base/json_document.h"
#include "listing_generator.h"
#include "memory_usage.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <charconv>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace {

using vantorel::JsonDocument;

constexpr std::size_t kPageSize = 1000;
constexpr std::size_t kPages = 100;

const std::string& reply(std::size_t members) {
    static std::map<std::size_t, std::string> texts;
    auto [it, added] = texts.try_emplace(members);
    if (added)
        it->second = vantorel::bench::makeListingReply(members);
    return it->second;
}

// The pages of one folder: different entries on every page.
const std::vector<std::string>& pages() {
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> all;
        for (std::size_t page = 0; page < kPages; ++page)
            all.push_back(vantorel::bench::makeListingReply(kPageSize, 20200720 + page));
        return all;
    }();
    return texts;
}

// Decodes one reply; false (with the benchmark skipped) when it is not the
// listing it should be.
bool decode(benchmark::State& state, const std::string& text, std::size_t members,
            std::size_t& checksum) {
    static constexpr std::string_view kKeys[] = {
        "server_filename", "path", "local_ctime", "fs_id", "md5", "size", "thumbs.url3"};
    JsonDocument doc;
    if (!doc.parse(text)) {
        state.SkipWithError("the generated reply did not parse");
        return false;
    }
    const int n = doc.count("list");
    if (n != static_cast<int>(members)) {
        state.SkipWithError("wrong member count");
        return false;
    }
    std::string path;
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
    return true; // the document's memory goes back here, inside the measured time
}

void report(benchmark::State& state, std::size_t bytesPerIteration, std::size_t largestReply,
            long peakGrowthKb) {
    const double replyMb = static_cast<double>(largestReply) / 1e6;
    const double peakMb = static_cast<double>(peakGrowthKb) * 1024 / 1e6;
    state.counters["reply_MB"] = replyMb;
    state.counters["peak_MB"] = peakMb;
    state.counters["peak_per_reply"] = peakMb / replyMb;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(bytesPerIteration));
}

// Runs `decodeAll` once per iteration; the peak memory growth of each is
// measured outside the timed part. Returns the largest, in KiB.
template <class Decode> long timedDecodes(benchmark::State& state, Decode decodeAll) {
    long peakGrowthKb = 0;
    for (auto _ : state) {
        state.PauseTiming();
        vantorel::bench::PeakGrowth memory;
        memory.start();
        state.ResumeTiming();

        if (!decodeAll())
            break;

        state.PauseTiming();
        peakGrowthKb = std::max(peakGrowthKb, memory.stopKb());
        state.ResumeTiming();
    }
    return peakGrowthKb;
}

void BM_ListingDecode(benchmark::State& state) {
    const auto members = static_cast<std::size_t>(state.range(0));
    const std::string& text = reply(members);
    std::size_t checksum = 0;
    const long peakGrowthKb =
        timedDecodes(state, [&] { return decode(state, text, members, checksum); });
    report(state, text.size(), text.size(), peakGrowthKb);
}

void BM_ListingDecodePages(benchmark::State& state) {
    const std::vector<std::string>& texts = pages();
    std::size_t bytes = 0;
    std::size_t largest = 0;
    for (const std::string& text : texts) {
        bytes += text.size();
        largest = std::max(largest, text.size());
    }
    std::size_t checksum = 0;
    const long peakGrowthKb = timedDecodes(state, [&] {
        for (const std::string& text : texts)
            if (!decode(state, text, kPageSize, checksum))
                return false;
        return true;
    });
    report(state, bytes, largest, peakGrowthKb);
}

} // namespace

BENCHMARK(BM_ListingDecode)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ListingDecodePages)->Unit(benchmark::kMillisecond)->UseRealTime();
