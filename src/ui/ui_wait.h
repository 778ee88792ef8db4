#pragma once

// The UI thread's pause: the timed wait that keeps the window answering.

#include "base/wait.h"

namespace vantorel::gui {

// Waits `interval` steps of `unit` (waitDuration's) in a nested event loop, so clicks,
// paints and queued calls are handled meanwhile; handlers may therefore run
// again inside the wait, which is why callers disable their button first.
// A zero or negative time returns at once. The wait also ends early when the
// application is told to exit. Always returns true.
bool waitPumping(long long interval, WaitUnit unit = WaitUnit::Milliseconds);

} // namespace vantorel::gui
