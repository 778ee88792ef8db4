#pragma once

// How a command-line share run reports: one line per entry on standard
// output (the part scripts read), progress and messages on standard error.

#include "share/share_run.h"

#include <chrono>
#include <cstdio>
#include <mutex>

namespace vantorel::cli {

class ConsoleObserver final : public ShareObserver {
public:
    // With `interactive`, standard error is a terminal and gets a redrawn
    // progress bar; otherwise plain lines.
    ConsoleObserver(std::FILE* out, std::FILE* err, bool interactive);

    void setProgressMaximum(int maximum) override;
    void setProgressPosition(int position) override;
    void showMessage(std::string_view text, MessageIcon icon, std::stop_token stop) override;
    void entryFinished(const EntryOutcome& outcome) override;
    void runFinished(const RunSummary& summary) override;

private:
    void drawBar(std::string_view current);
    void clearBar();

    std::FILE* out_;
    std::FILE* err_;
    bool interactive_;
    std::mutex mutex_;
    int maximum_ = 0;
    int position_ = 0;
    int done_ = 0;
    bool barShown_ = false;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

} // namespace vantorel::cli
