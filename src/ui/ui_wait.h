#pragma once

// The UI thread's pause: the timed wait that keeps the window answering.

namespace vantorel::gui {

// Waits `interval` steps of `unit` (0: milliseconds, 1: seconds, 2: minutes,
// 3: hours, any other n: n milliseconds) in a nested event loop, so clicks,
// paints and queued calls are handled meanwhile; handlers may therefore run
// again inside the wait, which is why callers disable their button first.
// A zero or negative time returns at once. The wait also ends early when the
// application is told to exit. Always returns true.
bool waitPumping(long long interval, int unit = 0);

// Milliseconds of one step of `unit`, as waitPumping reads it.
long long millisecondsPerStep(int unit);

} // namespace vantorel::gui
