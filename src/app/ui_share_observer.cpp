#include "app/ui_share_observer.h"

#include <QThread>
#include <algorithm>
#include <string>

namespace vantorel::gui {

UiShareObserver::UiShareObserver(ShareObserver& target, QObject* parent)
    : QObject(parent), target_(target) {}

UiShareObserver::~UiShareObserver() {
    close();
}

bool UiShareObserver::accepts(unsigned long long generation) const {
    std::lock_guard lock(mutex_);
    return !closed_ && generation == generation_;
}

template <class Call> void UiShareObserver::post(Call call) {
    unsigned long long generation = 0;
    {
        std::lock_guard lock(mutex_);
        if (closed_) {
            return;
        }
        generation = generation_;
    }
    if (QThread::currentThread() == thread()) {
        call();
        return;
    }
    QMetaObject::invokeMethod(
        this,
        [this, generation, call = std::move(call)] {
            if (accepts(generation)) {
                call();
            }
        },
        Qt::QueuedConnection);
}

void UiShareObserver::setProgressMaximum(int maximum) {
    post([this, maximum] { target_.setProgressMaximum(maximum); });
}

void UiShareObserver::setProgressPosition(int position) {
    post([this, position] { target_.setProgressPosition(position); });
}

void UiShareObserver::runPhase(RunPhase phase) {
    post([this, phase] { target_.runPhase(phase); });
}

void UiShareObserver::entryStarted(std::string_view path) {
    post([this, path = std::string(path)] { target_.entryStarted(path); });
}

void UiShareObserver::pauseStarted(std::chrono::milliseconds length) {
    post([this, length] { target_.pauseStarted(length); });
}

void UiShareObserver::entryFinished(const EntryOutcome& outcome) {
    post([this, outcome] { target_.entryFinished(outcome); });
}

void UiShareObserver::runFinished(const RunSummary& summary) {
    post([this, summary] { target_.runFinished(summary); });
}

void UiShareObserver::showMessage(std::string_view text, MessageIcon icon, std::stop_token stop) {
    if (QThread::currentThread() == thread()) {
        if (!isClosed()) {
            target_.showMessage(text, icon, std::move(stop));
        }
        return;
    }
    auto pending = std::make_shared<PendingMessage>();
    unsigned long long generation = 0;
    {
        std::lock_guard lock(mutex_);
        if (closed_ || stop.stop_requested()) {
            return;
        }
        generation = generation_;
        pending_.push_back(pending);
    }
    QMetaObject::invokeMethod(
        this,
        [this, generation, pending, text = std::string(text), icon] {
            bool show = false;
            {
                std::lock_guard lock(mutex_);
                show = !closed_ && generation == generation_ && !pending->done;
            }
            if (show) {
                target_.showMessage(text, icon, pending->dismiss.get_token());
            }
            release(pending);
        },
        Qt::QueuedConnection);

    // Runs on the thread that asks for the stop (or here, when it already
    // has): the worker goes on at once, and the box is taken down.
    const std::stop_callback onStop(stop, [this, pending] { release(pending); });
    std::unique_lock lock(mutex_);
    released_.wait(lock, [&] { return pending->done; });
}

void UiShareObserver::release(const std::shared_ptr<PendingMessage>& pending) {
    {
        std::lock_guard lock(mutex_);
        pending->done = true;
        pending_.erase(std::remove(pending_.begin(), pending_.end(), pending), pending_.end());
    }
    released_.notify_all();
    pending->dismiss.request_stop();
}

void UiShareObserver::close() {
    std::vector<std::shared_ptr<PendingMessage>> waiting;
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        ++generation_;
        for (const auto& pending : pending_) {
            pending->done = true;
        }
        waiting.swap(pending_);
    }
    released_.notify_all();
    for (const auto& pending : waiting) {
        pending->dismiss.request_stop();
    }
}

void UiShareObserver::reopen() {
    std::lock_guard lock(mutex_);
    closed_ = false;
}

bool UiShareObserver::isClosed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

} // namespace vantorel::gui
