#include "cli/interrupt.h"

#include <chrono>
#include <csignal>

#ifndef _WIN32
#include <pthread.h>
#include <time.h>
#endif

namespace vantorel::cli {

#ifndef _WIN32

namespace {
sigset_t interruptSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}
} // namespace

InterruptWatcher::InterruptWatcher() {
    const sigset_t set = interruptSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    thread_ = std::jthread([this](std::stop_token stop) {
        const sigset_t watched = interruptSignals();
        while (!stop.stop_requested()) {
            const timespec slice{0, 100'000'000};
            if (const int signal = sigtimedwait(&watched, nullptr, &slice); signal > 0)
                fire(signal);
        }
    });
}

InterruptWatcher::~InterruptWatcher() {
    thread_.request_stop();
    thread_.join();
    const sigset_t set = interruptSignals();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

#else

namespace {
std::atomic<int> signalled{0};
extern "C" void onSignal(int signal) {
    signalled = signal;
}
} // namespace

InterruptWatcher::InterruptWatcher() {
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    thread_ = std::jthread([this](std::stop_token stop) {
        while (!stop.stop_requested()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (const int signal = signalled.exchange(0); signal != 0)
                fire(signal);
        }
    });
}

InterruptWatcher::~InterruptWatcher() {
    thread_.request_stop();
    thread_.join();
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

#endif

void InterruptWatcher::fire(int signal) {
    int none = 0;
    signal_.compare_exchange_strong(none, signal);
    interrupted_ = true;
    std::lock_guard lock(mutex_);
    if (action_)
        action_();
}

void InterruptWatcher::onInterrupt(std::function<void()> action) {
    std::lock_guard lock(mutex_);
    action_ = std::move(action);
    if (interrupted_ && action_)
        action_();
}

} // namespace vantorel::cli
