#pragma once

#include "app/browser_login_source.h"
#include "app/share_controller.h"

#include <functional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace vantorel::gui::test {

// Stands in for the share engine: notes the calls the window makes and runs
// `run` on a worker thread, as a share run would.
class FakeShareController final : public ShareController {
public:
    using RunBody = std::function<void(ShareObserver&, std::stop_token)>;

    ~FakeShareController() override { stop(); }

    void obtainShareOptions() override { calls.push_back("options"); }
    void gatherLogin(BrowserLoginSource& browser) override {
        calls.push_back("gather");
        gatheredAddress = browser.currentAddress();
    }
    Status start(ShareObserver& observer) override {
        calls.push_back("start");
        if (!startResult) {
            return startResult;
        }
        if (run) {
            worker = std::jthread([this, &observer](std::stop_token stop) { run(observer, stop); });
        }
        return {};
    }
    void stop() override {
        calls.push_back("stop");
        if (worker.joinable()) {
            worker.request_stop();
            worker.join();
        }
    }

    bool called(const std::string& name) const {
        for (const std::string& call : calls) {
            if (call == name) {
                return true;
            }
        }
        return false;
    }

    std::vector<std::string> calls; // UI thread only
    RunBody run;
    Status startResult;
    std::string gatheredAddress;
    std::jthread worker;
};

} // namespace vantorel::gui::test
