#pragma once

// The browser side of a command-line share: the login comes as a cookie
// text, the folder as a plain netdisk path, the selection as a file.

#include "netdisk/login_context.h"

#include <string>

namespace vantorel::cli {

class CommandLineBrowser final : public BrowserSource {
public:
    // `folderAddress` is the address a browser would show for the folder;
    // `selectionJson` is "[]" for a folder run.
    CommandLineBrowser(std::string cookieText, std::string folderAddress, std::string selectionJson)
        : cookieText_(std::move(cookieText)), address_(std::move(folderAddress)),
          selection_(std::move(selectionJson)) {}

    std::string cookieText() override { return cookieText_; }
    // Whether a login was given at all (for what to tell when it is refused).
    bool loginGiven() const { return !cookieText_.empty(); }
    std::string currentUrl() override { return address_; }
    std::string runPageScript(std::string_view) override { return selection_; }

private:
    std::string cookieText_;
    std::string address_;
    std::string selection_;
};

} // namespace vantorel::cli
