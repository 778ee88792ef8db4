#pragma once

// The process's memory as the benchmarks report it (Linux /proc; elsewhere
// the figures are -1 or 0 and the counters say nothing).

namespace vantorel::bench {

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM"), or -1.
long statusKb(const char* field);

// Resets the kernel's resident high-water mark (VmHWM) so that it measures
// what follows only; false where that is not possible.
bool resetPeak();

// The process's lifetime peak in KiB (kilobytes on Linux), or 0 where unknown.
long lifetimePeakKb();

// Measures the peak resident growth over a stretch of work: the window's own
// peak where the kernel can reset it, else the growth of the lifetime peak.
class PeakGrowth {
public:
    void start();
    long stopKb() const; // growth in KiB since start()

private:
    long before_ = 0;
    long lifetimeBefore_ = 0;
    bool windowed_ = false;
};

} // namespace vantorel::bench
