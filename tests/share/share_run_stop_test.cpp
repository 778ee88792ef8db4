// Ending a share run from another thread while a third one waits for it: the
// command line waits on its main thread and stops from its signal thread.

#include "netdisk/netdisk_api.h"
#include "records/record_store.h"
#include "share/share_run.h"

#include <chrono>
#include <condition_variable>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace vantorel;

namespace {

class AlwaysShares final : public NetdiskApi {
public:
    Expected<Listing> fetchListing(std::string_view) override { return Listing{}; }
    ShareReply createShareLink(std::string_view, std::string_view, std::string_view fsId) override {
        return {.outcome = ShareOutcome::Shared,
                .link = "https://svc.test/s/1" + std::string(fsId),
                .shareTime = "2021-05-27 15:17:58",
                .errnoValue = 0};
    }
    RenameReply renameItem(std::string_view, std::string_view) override { return {}; }
};

class EntryCounter final : public ShareObserver {
public:
    void entryFinished(const EntryOutcome&) override {
        std::lock_guard lock(mutex_);
        ++entries_;
        changed_.notify_all();
    }
    bool waitForEntries(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return entries_ >= count; });
    }
    int entries() {
        std::lock_guard lock(mutex_);
        return entries_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int entries_ = 0;
};

TEST(ShareRunStop, ReachesTheRunWhileAnotherThreadWaitsForIt) {
    RecordStore ledger;
    ASSERT_TRUE(ledger.openOrCreate(":memory:"));
    EntryCounter observer;
    ShareRun run(ledger, observer,
                 [](LoginContext&, std::stop_token) { return std::make_unique<AlwaysShares>(); });
    LoginContext login;
    login.userName = "u";
    login.bdstoken = "5f3a9c1e7b2d48604a9e1c3b7d2f6e80";
    login.selectionJson = R"([{"fs_id":1,"server_filename":"a","path":"/a","isdir":0},)"
                          R"({"fs_id":2,"server_filename":"b","path":"/b","isdir":0}])";
    ShareOptions options;
    options.intervalSeconds = 30; // far beyond the guard below
    ASSERT_TRUE(run.start(login, options));
    ASSERT_TRUE(observer.waitForEntries(1));

    auto waited = std::async(std::launch::async, [&run] { run.wait(); });
    // Give the waiter time to take the worker; the stop must reach the run
    // either way.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    run.requestStop();
    EXPECT_EQ(waited.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    waited.wait();

    EXPECT_FALSE(run.running());
    EXPECT_EQ(observer.entries(), 1);
    EXPECT_EQ(run.summary().end, RunEnd::Stopped);
    EXPECT_EQ(run.summary().shared, 1);
}

} // namespace
