#pragma once

// Ctrl-C (SIGINT) and SIGTERM end a share run the way the stop button does:
// the signals are taken by one watcher thread, never by the worker in the
// middle of a ledger write.

#include <atomic>
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

private:
    void fire();

    std::atomic<bool> interrupted_{false};
    std::mutex mutex_;
    std::function<void()> action_;
    std::jthread thread_;
};

} // namespace vantorel::cli
