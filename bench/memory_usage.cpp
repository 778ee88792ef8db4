#include "memory_usage.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

namespace vantorel::bench {

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

bool resetPeak() {
    std::FILE* f = std::fopen("/proc/self/clear_refs", "w");
    if (!f)
        return false;
    const bool ok = std::fputs("5", f) >= 0;
    return std::fclose(f) == 0 && ok;
}

long lifetimePeakKb() {
#if !defined(_WIN32)
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
#else
    return 0;
#endif
}

void PeakGrowth::start() {
    before_ = statusKb("VmRSS");
    windowed_ = resetPeak();
    lifetimeBefore_ = lifetimePeakKb();
}

long PeakGrowth::stopKb() const {
    return windowed_ ? statusKb("VmHWM") - before_ : lifetimePeakKb() - lifetimeBefore_;
}

} // namespace vantorel::bench
