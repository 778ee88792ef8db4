#include "base/wait.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <utility>

namespace vantorel {

std::int64_t millisecondsPerStep(WaitUnit unit) {
    switch (unit) {
    case WaitUnit::Milliseconds:
        return 1;
    case WaitUnit::Seconds:
        return 1000;
    case WaitUnit::Minutes:
        return 60'000;
    case WaitUnit::Hours:
        return 3'600'000;
    }
    return static_cast<std::int64_t>(unit);
}

std::chrono::milliseconds waitDuration(std::int64_t interval, WaitUnit unit) {
    // In double, as the product may leave the integer range for long hours.
    const double total =
        std::trunc(static_cast<double>(interval) * static_cast<double>(millisecondsPerStep(unit)));
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    constexpr double limit = 9223372036854775808.0;
    using Rep = std::chrono::milliseconds::rep;
    if (total >= limit)
        return std::chrono::milliseconds(std::numeric_limits<Rep>::max());
    if (total <= -limit)
        return std::chrono::milliseconds(std::numeric_limits<Rep>::min());
    return std::chrono::milliseconds(static_cast<Rep>(total));
}

WaitResult waitFor(std::stop_token stop, std::chrono::milliseconds duration) {
    using Clock = std::chrono::steady_clock;
    if (stop.stop_requested())
        return WaitResult::Stopped;
    if (duration <= std::chrono::milliseconds::zero())
        return WaitResult::Completed;

    // Long waits go in slices of a day: the deadline then never overflows the
    // clock's nanosecond count, and no platform wait sees an oversized timeout.
    constexpr auto slice = std::chrono::hours(24);
    std::mutex mutex;
    std::condition_variable_any wakeUp;
    std::unique_lock lock(mutex);
    auto remaining = duration;
    while (remaining > std::chrono::milliseconds::zero()) {
        const auto step = std::min<std::chrono::milliseconds>(remaining, slice);
        const auto start = Clock::now();
        // Nothing but the stop wakes the wait early; spurious wake-ups are
        // absorbed by wait_until's own loop.
        wakeUp.wait_until(lock, stop, start + step, [] { return false; });
        if (stop.stop_requested())
            return WaitResult::Stopped;
        remaining -= step;
    }
    return WaitResult::Completed;
}

WaitResult waitInterruptibly(std::stop_token stop, std::int64_t interval, WaitUnit unit) {
    return waitFor(std::move(stop), waitDuration(interval, unit));
}

} // namespace vantorel
