#pragma once

// The records window's work on the service's shares, done with the
// program's login: the browser's cookies and the service's tokens, as a
// share run gathers them.

#include "share/share_session.h"
#include "ui/share_work.h"

namespace vantorel {
class RecordStore;
}

namespace vantorel::gui {

class ProgramShareWork final : public ShareWorkProvider {
public:
    // The browser is asked on the UI thread when work is prepared; the
    // ledger must outlive every job handed out.
    ProgramShareWork(BrowserSource& browser, RecordStore& ledger, SessionSettings settings);

    Expected<ShareWorkJob> prepare(ShareWork work, std::vector<std::int64_t> recordIds) override;

private:
    BrowserSource& browser_;
    RecordStore& ledger_;
    SessionSettings settings_;
};

} // namespace vantorel::gui
