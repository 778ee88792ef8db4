#pragma once

// Timed pauses of the share worker. A pause must never outlast a stop: the
// user who presses stop during a long interval expects the run to end now.

#include <chrono>
#include <cstdint>
#include <stop_token>

namespace vantorel {

// Units of a wait interval. Any other value n counts n milliseconds a step.
enum class WaitUnit : int {
    Milliseconds = 0,
    Seconds = 1,
    Minutes = 2,
    Hours = 3,
};

// Milliseconds of one step of `unit`.
std::int64_t millisecondsPerStep(WaitUnit unit);

// How long `interval` steps of `unit` last: interval × milliseconds per step,
// computed in double and truncated toward zero, saturating at the limits of
// the 64-bit count. Zero or negative means no wait at all.
std::chrono::milliseconds waitDuration(std::int64_t interval,
                                       WaitUnit unit = WaitUnit::Milliseconds);

enum class WaitResult {
    Completed, // the whole duration passed
    Stopped,   // a stop was requested before or during the wait
};

// Blocks for `duration` or until `stop` is requested, whichever comes first.
// A zero or negative duration returns at once. A stop requested before the
// call reports Stopped even then, so the caller can always act on it.
WaitResult waitFor(std::stop_token stop, std::chrono::milliseconds duration);

// waitFor(stop, waitDuration(interval, unit)).
WaitResult waitInterruptibly(std::stop_token stop, std::int64_t interval,
                             WaitUnit unit = WaitUnit::Milliseconds);

} // namespace vantorel
