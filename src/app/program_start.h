#pragma once

// From a parsed command line to a running main window and back.

#include <QString>
#include <functional>

namespace vantorel::gui {

class ShareController;
struct ProgramState;

struct StartHooks {
    // Shows that the main window could not be loaded ("载入启动窗口失败")
    // and why; by default in a message box.
    std::function<void(const QString& text, const QString& details)> reportLoadFailure;
    // The share engine, or null while there is none. Outlives the window.
    ShareController* controller = nullptr;
};

// Before the application object exists: the attributes and environment the
// embedded browser needs. Running as root, the browser's sandbox cannot start,
// so it is switched off with a warning on standard error.
void prepareBrowserEnvironment();

// Loads the main window over `state`, runs the event loop until it closes and
// releases the state. Returns 0 after a normal end and -1 when the main window
// could not be loaded. Needs a QApplication.
int programStart(ProgramState& state, const StartHooks& hooks = {});

} // namespace vantorel::gui
