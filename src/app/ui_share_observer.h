#pragma once

// The thread-safe face of the main window towards a share run. The worker
// calls it from its own thread; every call is carried over to the UI thread,
// and showMessage() blocks the worker until the user has closed the box or
// the run is told to stop.

#include "share/share_run.h"

#include <QObject>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string_view>
#include <vector>

namespace vantorel::gui {

class UiShareObserver final : public QObject, public ShareObserver {
    Q_OBJECT
public:
    // `target` does the work and is only ever called on this object's thread
    // (the thread that created it: the UI thread). The token its showMessage()
    // gets is stopped once nobody waits for the answer any more (the run was
    // stopped, or the bridge closed), so that it can take the box down.
    explicit UiShareObserver(ShareObserver& target, QObject* parent = nullptr);
    // The run must be over (its worker joined) before the bridge goes away.
    ~UiShareObserver() override;

    void setProgressMaximum(int maximum) override;
    void setProgressPosition(int position) override;
    void runPhase(RunPhase phase) override;
    // Returns once the box is closed, or at once when `stop` is requested:
    // a stop never waits for the user.
    void showMessage(std::string_view text, MessageIcon icon, std::stop_token stop) override;
    void entryStarted(std::string_view path) override;
    void pauseStarted(std::chrono::milliseconds length) override;
    void entryFinished(const EntryOutcome& outcome) override;
    void runFinished(const RunSummary& summary) override;

    // Shuts the bridge: later calls return at once and do nothing, calls
    // still queued for the UI thread are dropped, and a worker waiting in
    // showMessage() is released. Used while the run is stopped and when the
    // window closes, so that nothing of a stopped run reaches the window and
    // joining the worker can never wait on the UI.
    void close();
    // Opens it again for the next run; nothing queued before close() runs.
    void reopen();
    bool isClosed() const;

private:
    struct PendingMessage {
        bool done = false;        // under mutex_
        std::stop_source dismiss; // stopped when the worker no longer waits
    };

    template <class Call> void post(Call call);
    bool accepts(unsigned long long generation) const;
    void release(const std::shared_ptr<PendingMessage>& pending);

    ShareObserver& target_;
    mutable std::mutex mutex_;
    std::condition_variable released_;
    bool closed_ = false;
    unsigned long long generation_ = 0;
    std::vector<std::shared_ptr<PendingMessage>> pending_;
};

} // namespace vantorel::gui
