#include "app/ui_share_observer.h"
#include "test_support.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace vantorel::gui;
using namespace vantorel::gui::test;
using vantorel::EntryOutcome;
using vantorel::EntryVerdict;
using vantorel::MessageIcon;
using vantorel::RunEnd;
using vantorel::RunSummary;

namespace {

// Records what reaches the window's side, and on which thread.
class RecordingTarget final : public vantorel::ShareObserver {
public:
    void setProgressMaximum(int maximum) override { note("max " + std::to_string(maximum)); }
    void setProgressPosition(int position) override { note("pos " + std::to_string(position)); }
    void runPhase(vantorel::RunPhase phase) override {
        note(phase == vantorel::RunPhase::Done      ? "done"
             : phase == vantorel::RunPhase::Stopped ? "stopped"
                                                    : "started");
    }
    void showMessage(std::string_view text, MessageIcon, std::stop_token dismiss) override {
        note("message " + std::string(text));
        if (onMessage) {
            onMessage(dismiss);
        }
    }
    void entryStarted(std::string_view path) override { note("start " + std::string(path)); }
    void pauseStarted(std::chrono::milliseconds length) override {
        note("pause " + std::to_string(length.count()));
    }
    void entryFinished(const EntryOutcome& outcome) override { note("entry " + outcome.path); }
    void runFinished(const RunSummary& summary) override {
        note("finished " + std::to_string(summary.shared));
    }

    std::vector<std::string> calls;
    bool allOnUiThread = true;
    std::function<void(std::stop_token)> onMessage;

private:
    void note(std::string call) {
        allOnUiThread = allOnUiThread && QThread::currentThread() == qApp->thread();
        calls.push_back(std::move(call));
    }
};

} // namespace

TEST(ShareBridge, CarriesWorkerCallsToTheUiThreadInOrder) {
    RecordingTarget target;
    UiShareObserver bridge(target);
    std::thread worker([&] {
        bridge.setProgressMaximum(2);
        bridge.setProgressPosition(1);
        std::string path = "/a";
        bridge.entryStarted(path);
        path = "/changed"; // the bridge keeps its own copy
        bridge.entryFinished({.verdict = EntryVerdict::Shared, .path = "/a"});
        bridge.pauseStarted(std::chrono::milliseconds(3000));
        bridge.runPhase(vantorel::RunPhase::Done);
        bridge.runFinished({.shared = 1, .end = RunEnd::Completed});
    });
    worker.join();
    EXPECT_TRUE(target.calls.empty()) << "nothing runs on the worker itself";
    ASSERT_TRUE(waitFor([&] { return target.calls.size() == 7; }));
    EXPECT_EQ(target.calls, (std::vector<std::string>{"max 2", "pos 1", "start /a", "entry /a",
                                                      "pause 3000", "done", "finished 1"}));
    EXPECT_TRUE(target.allOnUiThread);
}

TEST(ShareBridge, MessageBlocksTheWorkerUntilTheBoxIsClosed) {
    RecordingTarget target;
    UiShareObserver bridge(target);
    std::atomic<bool> returned = false;
    bool returnedWhileShowing = true;
    target.onMessage = [&](std::stop_token) {
        returnedWhileShowing = returned.load();
    };
    std::thread worker([&] {
        bridge.showMessage("分享完成!", MessageIcon::Information, {});
        returned = true;
        bridge.setProgressPosition(0);
    });
    ASSERT_TRUE(waitFor([&] { return returned.load(); }));
    worker.join();
    EXPECT_FALSE(returnedWhileShowing);
    ASSERT_TRUE(waitFor([&] { return target.calls.size() == 2; }));
    EXPECT_EQ(target.calls, (std::vector<std::string>{"message 分享完成!", "pos 0"}));
    EXPECT_TRUE(target.allOnUiThread);
}

TEST(ShareBridge, StopReleasesTheWorkerAtOnceAndTakesTheBoxDown) {
    RecordingTarget target;
    UiShareObserver bridge(target);
    std::stop_source stop;
    std::atomic<bool> returned = false;
    bool workerFreeWhileShowing = false;
    bool dismissed = false;
    target.onMessage = [&](std::stop_token dismiss) {
        // The user does not answer; the run is stopped meanwhile.
        QTimer::singleShot(0, [&] { stop.request_stop(); });
        workerFreeWhileShowing = waitFor([&] { return returned.load(); });
        dismissed = waitFor([&] { return dismiss.stop_requested(); });
    };
    std::thread worker([&] {
        bridge.showMessage("今日分享数量完成!", MessageIcon::None, stop.get_token());
        returned = true;
    });
    ASSERT_TRUE(waitFor([&] { return !target.calls.empty(); }));
    worker.join();
    EXPECT_TRUE(workerFreeWhileShowing);
    EXPECT_TRUE(dismissed);
}

TEST(ShareBridge, MessageOfAStoppedRunIsNeverShown) {
    RecordingTarget target;
    UiShareObserver bridge(target);
    std::stop_source stop;
    stop.request_stop();
    std::thread([&] {
        bridge.showMessage("分享完成!", MessageIcon::Information, stop.get_token());
    }).join();
    QCoreApplication::processEvents();
    EXPECT_TRUE(target.calls.empty());
}

TEST(ShareBridge, ClosingReleasesAWaitingWorkerWithoutShowingAnything) {
    RecordingTarget target;
    UiShareObserver bridge(target);
    std::atomic<bool> asking = false;
    std::thread worker([&] {
        asking = true;
        bridge.showMessage("今日分享数量完成!", MessageIcon::None, {});
        bridge.runPhase(vantorel::RunPhase::Done);
    });
    while (!asking) {
        std::this_thread::yield();
    }
    // The UI thread runs no events here: only close() can free the worker,
    // as when the window joins it while it closes.
    bridge.close();
    worker.join();
    QCoreApplication::processEvents();
    EXPECT_TRUE(target.calls.empty());
    EXPECT_TRUE(bridge.isClosed());
}

TEST(ShareBridge, ReopenedBridgeDropsCallsQueuedBeforeTheClose) {
    RecordingTarget target;
    UiShareObserver bridge(target);
    std::thread([&] { bridge.setProgressPosition(5); }).join();
    bridge.close();
    bridge.reopen();
    std::thread([&] { bridge.setProgressPosition(7); }).join();
    ASSERT_TRUE(waitFor([&] { return !target.calls.empty(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(target.calls, (std::vector<std::string>{"pos 7"}));
}

TEST(ShareBridge, CallsFromTheUiThreadGoStraightThrough) {
    RecordingTarget target;
    UiShareObserver bridge(target);
    bridge.runPhase(vantorel::RunPhase::Started);
    bridge.showMessage("hi", MessageIcon::Information, {});
    EXPECT_EQ(target.calls, (std::vector<std::string>{"started", "message hi"}));
}
