#include "cli/progress.h"

#include <string>

namespace vantorel::cli {

ConsoleObserver::ConsoleObserver(std::FILE* out, std::FILE* err, bool interactive)
    : out_(out), err_(err), interactive_(interactive) {}

void ConsoleObserver::setProgressMaximum(int maximum) {
    std::lock_guard lock(mutex_);
    maximum_ = maximum;
    started_ = std::chrono::steady_clock::now();
    if (!interactive_)
        std::fprintf(err_, "%d entries to go through\n", maximum);
}

void ConsoleObserver::setProgressPosition(int position) {
    std::lock_guard lock(mutex_);
    position_ = position;
}

void ConsoleObserver::showMessage(std::string_view text, MessageIcon, std::stop_token) {
    std::lock_guard lock(mutex_);
    clearBar();
    std::fprintf(err_, "%.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(err_);
}

void ConsoleObserver::entryFinished(const EntryOutcome& outcome) {
    std::lock_guard lock(mutex_);
    clearBar();
    switch (outcome.verdict) {
    case EntryVerdict::Shared:
        std::fprintf(out_, "shared\t%s\t%s\t%s\n", outcome.path.c_str(), outcome.link.c_str(),
                     outcome.code.c_str());
        break;
    case EntryVerdict::Failed:
        std::fprintf(out_, "failed\t%s\t%s\n", outcome.path.c_str(), outcome.errnoText.c_str());
        // Without an errno the service was never asked: say why.
        if (outcome.errnoText.empty() && !outcome.reason.empty())
            std::fprintf(err_, "%s: %s\n", outcome.path.c_str(), outcome.reason.c_str());
        break;
    case EntryVerdict::Skipped:
        std::fprintf(out_, "skipped\t%s\n", outcome.path.c_str());
        break;
    case EntryVerdict::Pending:
        std::fprintf(out_, "pending\t%s\t%s\n", outcome.path.c_str(), outcome.reason.c_str());
        break;
    }
    std::fflush(out_);
    ++done_;
    if (interactive_)
        drawBar(outcome.path);
}

void ConsoleObserver::runFinished(const RunSummary& summary) {
    std::lock_guard lock(mutex_);
    clearBar();
    std::fprintf(err_, "%d shared, %d failed, %d skipped", summary.shared, summary.failed,
                 summary.skipped);
    if (summary.pending > 0)
        std::fprintf(err_, ", %d pending", summary.pending);
    std::fprintf(err_, "\n");
    std::fflush(err_);
}

void ConsoleObserver::drawBar(std::string_view current) {
    constexpr int width = 30;
    const int total = maximum_ > 0 ? maximum_ : 1;
    const int filled = std::min(width, done_ * width / total);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(width, '.');

    std::string left;
    if (done_ > 0 && maximum_ > done_) {
        const auto elapsed = std::chrono::steady_clock::now() - started_;
        const auto remaining =
            std::chrono::duration_cast<std::chrono::seconds>(elapsed / done_ * (maximum_ - done_));
        const long long s = remaining.count();
        left = s >= 60 ? std::to_string(s / 60) + "m" + std::to_string(s % 60) + "s left"
                       : std::to_string(s) + "s left";
    }
    std::string name(current.substr(current.size() > 40 ? current.size() - 40 : 0));
    std::fprintf(err_, "\r\x1b[2K[%s] %d/%d %s %s", bar.c_str(), done_, maximum_, left.c_str(),
                 name.c_str());
    std::fflush(err_);
    barShown_ = true;
}

void ConsoleObserver::clearBar() {
    if (barShown_) {
        std::fprintf(err_, "\r\x1b[2K");
        barShown_ = false;
    }
}

} // namespace vantorel::cli
