#pragma once

// From the command line to a running main window and back.

#include <QString>
#include <functional>

namespace vantorel::gui {

class MainWindow;
struct ProgramState;

struct StartHooks {
    // Shows that the main window could not be loaded ("载入启动窗口失败")
    // and why; by default in a message box.
    std::function<void(const QString& text, const QString& details)> reportLoadFailure;
    // Runs once the main window is shown and the event loop is about to run;
    // lets a driver (a test, a screenshot) work the window as a user would.
    std::function<void(MainWindow& window, ProgramState& state)> onShown;
};

// Before the application object exists: the attributes and environment the
// embedded browser needs. Running as root, the browser's sandbox cannot start,
// so it is switched off with a warning on standard error.
void prepareBrowserEnvironment();

// Loads the main window over `state`, runs its created handler and the event
// loop until the window closes, then releases the window (and with it a share
// run, stopped first) and the state. Returns 0 after a normal end and -1 when
// the main window could not be loaded. Needs a QApplication.
int programStart(ProgramState& state, const StartHooks& hooks = {});

// The whole program: application object, options (--data-dir, --origin,
// --ca-file, as the command line has them), the data directory, then
// programStart. Returns the process's exit code: 0, -1 when the main window
// cannot be loaded (the data directory cannot be made, for one), 2 for bad
// options.
int runProgram(int argc, char** argv, const StartHooks& hooks = {});

} // namespace vantorel::gui
