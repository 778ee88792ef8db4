#pragma once

// Work on the account's shares that the records window asks for: checking
// their state on the service, cancelling them, sharing again what died.
// The window knows the ledger, not the login; the program, which holds the
// browser, does the work and hands the window a job to run.

#include "base/expected.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>
#include <vector>

namespace vantorel::gui {

enum class ShareWork {
    Sync,    // 同步状态: every shared record of the ledger against the service's list
    Cancel,  // 取消分享: the chosen records' shares
    Reshare, // 重新分享: fresh links for the chosen records whose share died
};

struct ShareWorkProgress {
    std::size_t done = 0;
    std::size_t total = 0; // 0 while unknown (a sync before its list has ended)
    // Rows of the ledger changed since the last report: the window shows
    // their new states as they come, not only at the end.
    bool ledgerChanged = false;
};

// Called from the job's thread, as often as the work likes.
using ShareWorkReporter = std::function<void(const ShareWorkProgress&)>;

// Runs on a helper thread and ends soon after `stop` is requested. Its
// value is the summary the window shows in its status line; an error's
// message is shown in a box.
using ShareWorkJob =
    std::function<Expected<std::string>(std::stop_token stop, const ShareWorkReporter& report)>;

class ShareWorkProvider {
public:
    virtual ~ShareWorkProvider() = default;

    // On the UI thread: takes what the work needs from the browser (the
    // login) and returns the job, or why it cannot start.
    virtual Expected<ShareWorkJob> prepare(ShareWork work, std::vector<std::int64_t> recordIds) = 0;
};

} // namespace vantorel::gui
