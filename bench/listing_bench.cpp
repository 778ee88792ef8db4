// Decoding a large folder listing the way the listing request reads it:
// parse the reply, count "list", then read isdir and the seven entry keys of
// every member by path. Reports the peak memory growth of one decode next to
// the reply size.

#include "base/json_document.h"
#include "listing_generator.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

namespace {

using vantorel::JsonDocument;

// Resident set figures of this process in KiB (Linux /proc), or -1.
long statusKb(const char* field) {
    long value = -1;
    if (std::FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        const std::size_t n = std::strlen(field);
        while (std::fgets(line, sizeof line, f)) {
            if (std::strncmp(line, field, n) == 0 && line[n] == ':') {
                value = std::strtol(line + n + 1, nullptr, 10);
                break;
            }
        }
        std::fclose(f);
    }
    return value;
}

// Resets the kernel's resident high-water mark (VmHWM) so that it measures
// one decode only; false where that is not possible.
bool resetPeak() {
    std::FILE* f = std::fopen("/proc/self/clear_refs", "w");
    if (!f)
        return false;
    const bool ok = std::fputs("5", f) >= 0;
    return std::fclose(f) == 0 && ok;
}

// The process's lifetime peak in KiB (kilobytes on Linux), or 0 where unknown.
long lifetimePeakKb() {
#if !defined(_WIN32)
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
#else
    return 0;
#endif
}

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
        const long before = statusKb("VmRSS");
        const bool windowed = resetPeak();
        const long lifetimeBefore = lifetimePeakKb();
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
        const long peak = windowed ? statusKb("VmHWM") : lifetimePeakKb();
        const long growth = peak - (windowed ? before : lifetimeBefore);
        peakGrowthKb = std::max(peakGrowthKb, growth);
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
