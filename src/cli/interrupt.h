#pragma once

// Ctrl-C (SIGINT), SIGTERM and SIGHUP (the terminal closed) end a share run
// the way the stop button does: the signals are taken by one watcher thread,
// never by the worker in the middle of a ledger write, so the ledger is
// closed as after any run and no journal files are left beside it.

#include <atomic>
#include <csignal>
#include <functional>
#include <mutex>
#include <thread>

namespace vantorel::cli {

class InterruptWatcher {
public:
    // Must be created before any other thread, so that every thread inherits
    // the blocked signals and only the watcher receives them.
    InterruptWatcher();
    ~InterruptWatcher();
    InterruptWatcher(const InterruptWatcher&) = delete;
    InterruptWatcher& operator=(const InterruptWatcher&) = delete;

    // Called on the watcher thread at each interrupt.
    void onInterrupt(std::function<void()> action);
    bool interrupted() const { return interrupted_; }
    // The first signal that came, or 0.
    int signal() const { return signal_; }
    // What a shell reports for a process ended by that signal: 128 + its
    // number (130 for Ctrl-C, 143 for SIGTERM, 129 for SIGHUP).
    // Ctrl-C's when no signal came (a stop for another reason).
    int exitStatus() const { return 128 + (signal_ != 0 ? signal_.load() : SIGINT); }

private:
    void fire(int signal);

    std::atomic<bool> interrupted_{false};
    std::atomic<int> signal_{0};
    std::mutex mutex_;
    std::function<void()> action_;
    std::jthread thread_;
};

} // namespace vantorel::cli
