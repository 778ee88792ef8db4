#pragma once

// The seam between the main window and the share engine. Plain C++ on purpose:
// the engine lives in the core, which never sees Qt, and drives the window only
// through ShareObserver.

#include "base/expected.h"

#include <string>

namespace vantorel::gui {

class BrowserLoginSource;

enum class MessageIcon { None, Information, Warning, Critical, Question };

// What a share run may do to the main window. Every call is safe from any
// thread; the window's implementation forwards them to the UI thread.
class ShareObserver {
public:
    virtual void setProgressMaximum(int maximum) = 0;
    virtual void setProgressPosition(int position) = 0;
    // Toolbar buttons by index: 2 is "分享", 3 is "停止".
    virtual void setButtonEnabled(int index, bool enabled) = 0;
    // Shows a task-modal message box with the caption "信息：" and returns when
    // the user has closed it. It returns at once, without showing anything,
    // while the window is stopping the run or closing.
    virtual void message(const std::string& text, MessageIcon icon) = 0;

protected:
    ~ShareObserver() = default;
};

// One share engine. All calls come from the UI thread, in the order of the
// share command: obtainShareOptions, gatherLogin, start; stop at any time.
class ShareController {
public:
    virtual ~ShareController() = default;

    // Reads the share options the way the settings window would, without
    // showing it. Whether they were accepted is not consulted: a rejected set
    // leaves the options of the previous run in place.
    virtual void obtainShareOptions() = 0;

    // Fills the login context from the browser (cookies, address, selection)
    // and the service's home page. Blocks the UI thread for one request.
    virtual void gatherLogin(BrowserLoginSource& browser) = 0;

    // Starts one run on a worker thread and returns at once. The observer
    // outlives the run (stop() is called before it goes away). An error means
    // no run was started; its message is shown to the user.
    virtual Status start(ShareObserver& observer) = 0;

    // Ends the running run and waits for its worker; without one it does
    // nothing. The worker's pending message boxes are released first, so the
    // engine may join here.
    virtual void stop() = 0;
};

} // namespace vantorel::gui
