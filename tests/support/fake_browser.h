#pragma once

// A browser side for tests: fixed cookies, address and selection, and every
// page script it was asked to run, in order.

#include "netdisk/login_context.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantorel::test {

class FakeBrowser final : public BrowserSource {
public:
    FakeBrowser(std::string cookies, std::string url, std::string selection)
        : cookies_(std::move(cookies)), url_(std::move(url)), selection_(std::move(selection)) {}
    std::string cookieText() override { return cookies_; }
    std::string currentUrl() override { return url_; }
    std::string runPageScript(std::string_view script) override {
        scripts.emplace_back(script);
        return selection_;
    }

    std::vector<std::string> scripts;

private:
    std::string cookies_;
    std::string url_;
    std::string selection_;
};

} // namespace vantorel::test
