#include "app/ui_share_observer.h"

#include <QThread>
#include <algorithm>

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

void UiShareObserver::setButtonEnabled(int index, bool enabled) {
    post([this, index, enabled] { target_.setButtonEnabled(index, enabled); });
}

void UiShareObserver::message(const std::string& text, MessageIcon icon) {
    if (QThread::currentThread() == thread()) {
        if (!isClosed()) {
            target_.message(text, icon);
        }
        return;
    }
    auto pending = std::make_shared<PendingMessage>();
    unsigned long long generation = 0;
    {
        std::lock_guard lock(mutex_);
        if (closed_) {
            return;
        }
        generation = generation_;
        pending_.push_back(pending);
    }
    QMetaObject::invokeMethod(
        this,
        [this, generation, pending, text, icon] {
            bool show = false;
            {
                std::lock_guard lock(mutex_);
                show = !closed_ && generation == generation_ && !pending->done;
            }
            if (show) {
                target_.message(text, icon);
            }
            release(pending);
        },
        Qt::QueuedConnection);

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
}

void UiShareObserver::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        ++generation_;
        for (const auto& pending : pending_) {
            pending->done = true;
        }
        pending_.clear();
    }
    released_.notify_all();
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
