#include "base/wait.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <utility>

namespace vantorel {

std::chrono::milliseconds waitDuration(std::int64_t interval, int unit) {
    double perStep;
    switch (unit) {
    case kWaitMilliseconds:
        perStep = 1;
        break;
    case kWaitSeconds:
        perStep = 1000;
        break;
    case kWaitMinutes:
        perStep = 60000;
        break;
    case kWaitHours:
        perStep = 3600000;
        break;
    default:
        perStep = unit;
        break;
    }
    const double total = std::trunc(static_cast<double>(interval) * perStep);
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

WaitResult waitInterruptibly(std::stop_token stop, std::int64_t interval, int unit) {
    return waitFor(std::move(stop), waitDuration(interval, unit));
}

} // namespace vantorel
