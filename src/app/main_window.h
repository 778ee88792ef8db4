#pragma once

// The program's start window: the service in an embedded browser, the toolbar
// that starts and stops share runs and opens the other windows, and the
// progress bar a run drives.

#include "base/expected.h"
#include "netdisk/login_context.h"
#include "share/share_run.h"
#include "share/share_session.h"
#include "ui/share_work.h"

#include <QList>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>

class QAction;
class QLabel;
class QProgressBar;
class QToolBar;
class QToolButton;
class QWebEnginePage;
class QWebEngineProfile;

namespace vantorel::gui {

class BrowserView;
class CookieMirror;
class PopupWindow;
class UiShareObserver;
class WebLoginSource;
struct ProgramState;

// Toolbar button indices.
enum ToolbarButton : int {
    kHomeButton = 0,
    kRefreshButton = 1,
    kShareButton = 2,
    kStopButton = 3,
    kManageButton = 4,
    kSettingsButton = 5,
    kHelpButton = 6,
    kAboutButton = 7,
    kToolbarButtonCount = 8,
};

class MainWindow final : public QMainWindow {
    Q_OBJECT
public:
    using DialogOpener = std::function<void(QWidget* parent)>;

    // Creates the window, its controls and its browser profile under
    // state.dataDir, and starts loading the service origin. Fails when the
    // profile's directory cannot be made. The state must outlive the window.
    static Expected<std::unique_ptr<MainWindow>> load(ProgramState& state);
    ~MainWindow() override;

    // Created handler: forms dbPath, applies the skin, then opens or creates
    // the ledger; when it cannot, a message box names the path and the
    // reason, and share runs refuse to start.
    void onCreated();
    // The window is going: a share run is stopped (its request abandoned,
    // its pause ended, its worker joined) before anything else goes, popups
    // close, and programEnding() tells the program to end with exit code 0.
    void onDestroyed();
    // One toolbar command by button index; indices without a command do
    // nothing.
    void onToolbarClick(int index);
    // Where a page's new window goes: one third of the primary screen's
    // width and height from its top-left corner. Parent, width and height
    // are left as given.
    void onNewWindowPlacement(QWidget*& parent, int& left, int& top, int& width, int& height);

    // The window's own operations; UI thread only. A share run reaches them
    // through shareObserver().
    void setProgressMaximum(int maximum);
    void setProgressPosition(int position);
    void setButtonEnabled(int index, bool enabled);
    bool isButtonEnabled(int index) const;
    // A task-modal message box with the caption "信息："; returns when it is
    // closed, or when `dismiss` is stopped (the box is then taken down).
    void showMessage(const QString& text, QMessageBox::Icon icon, std::stop_token dismiss = {});

    // Thread-safe, for the share run.
    ShareObserver& shareObserver();
    // UI thread only: the browser's part of the login context.
    BrowserSource& loginSource();
    // Whether a share run's worker is going.
    bool shareRunning() const;
    // The records window's work on the service's shares, with this
    // window's login.
    ShareWorkProvider& shareWork();

    // What buttons 4 to 7 open as a modal dialog; help and about are set.
    void setDialogOpener(int index, DialogOpener opener);

    QToolBar* toolbar() const { return toolbar_; }
    QAction* toolbarAction(int index) const;
    QToolButton* toolbarButton(int index) const;
    QProgressBar* progressBar() const { return progress_; }
    BrowserView* browserView() const { return view_; }
    QLabel* addressLabel() const { return address_; }
    // The tally of the current or last run, at the right of the status bar.
    QLabel* runStatusLabel() const { return runStatus_; }
    // The item being shared, or the pause before the next one.
    QLabel* runActivityLabel() const { return activity_; }
    QList<PopupWindow*> popups() const;
    QWebEngineProfile* profile() const { return profile_.get(); }
    const CookieMirror& cookies() const { return *cookies_; }
    const QUrl& origin() const { return origin_; }

signals:
    // The main window has closed: the program ends (exit code 0).
    void programEnding();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    QMenu* createPopupMenu() override { return nullptr; }

private:
    class UiSide;

    MainWindow(ProgramState& state, std::unique_ptr<QWebEngineProfile> profile);

    void buildToolbar();
    void placeProgressBar();
    void shareCommand();
    void stopCommand();
    void stopEverything();
    // The session's preparation (options, ledger, login) on a helper thread
    // while a nested event loop keeps the window answering; a stop or a close
    // abandons its requests.
    Expected<PreparedShare> prepareShare(BrowserSource& browser);
    // Whether the run may go ahead with the page's selection: when the page
    // gave none the user may take the address's folder instead (asked) or
    // is told to open the file page.
    bool settleSelection(PreparedShare& share);
    bool askYesNo(const QString& text);
    void showRefusal(const Error& refused);
    void giveShareBack();
    void showTally(const RunSummary& summary, bool finished);
    void showProcessed();
    void showActivity(const QString& text);
    void showPause(std::chrono::milliseconds length);
    void showPauseLeft();
    void finishRun(const RunSummary& summary);
    void holdWhile(int index, const std::function<void()>& action);
    QWebEnginePage* openPopup();

    ProgramState& state_;
    QUrl origin_;
    std::unique_ptr<QWebEngineProfile> profile_; // outlives every page below
    std::unique_ptr<CookieMirror> cookies_;
    std::unique_ptr<UiSide> uiSide_;
    std::unique_ptr<UiShareObserver> observer_;
    std::unique_ptr<ShareSession> session_; // goes before the observer it reports to
    std::unique_ptr<WebLoginSource> loginSource_;
    std::unique_ptr<ShareWorkProvider> shareWork_;
    std::stop_source gatherStop_{std::nostopstate}; // the home-page request in flight

    QToolBar* toolbar_ = nullptr;
    std::array<QAction*, kToolbarButtonCount> actions_{};
    QProgressBar* progress_ = nullptr;
    BrowserView* view_ = nullptr;
    QLabel* address_ = nullptr;
    QLabel* runStatus_ = nullptr;
    QLabel* activity_ = nullptr;
    QTimer pauseTicker_;
    std::chrono::steady_clock::time_point pauseEnd_;
    QList<QPointer<PopupWindow>> popups_;

    std::array<DialogOpener, kToolbarButtonCount> openers_{};
    bool closing_ = false;
    unsigned long long stopClicks_ = 0;
    RunSummary tally_;
    int entries_ = 0;           // what the run has to go through
    std::string startedPath_;   // the entry being shared, as listed
    bool renamedInRun_ = false; // a shared entry got a new name
};

// Makes the browser profile under `dataDir`: cookies, storage and cache on
// disk, so the login outlives the program.
Expected<std::unique_ptr<QWebEngineProfile>> makeBrowserProfile(const QString& dataDir);

} // namespace vantorel::gui
