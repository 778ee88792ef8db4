#pragma once

// The program's start window: the service in an embedded browser, the toolbar
// that starts and stops share runs and opens the other windows, and the
// progress bar a run drives.

#include "app/share_controller.h"
#include "base/expected.h"

#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QUrl>
#include <array>
#include <functional>
#include <memory>

class QAction;
class QLabel;
class QProgressBar;
class QToolBar;
class QToolButton;
class QWebEnginePage;
class QWebEngineProfile;

namespace vantorel::gui {

class BrowserLoginSource;
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
    using MessagePresenter = std::function<void(const QString& text, MessageIcon icon)>;
    using DialogOpener = std::function<void(QWidget* parent)>;

    // Creates the window, its controls and its browser profile under
    // state.dataDir, and starts loading the service origin. Fails when the
    // profile's directory cannot be made. `controller` may be null (no
    // share engine) and must outlive the window.
    static Expected<std::unique_ptr<MainWindow>> load(ProgramState& state,
                                                      ShareController* controller);
    ~MainWindow() override;

    // Created handler: forms dbPath and applies the skin (before the ledger
    // would be opened).
    void onCreated();
    // The window is going: the run is stopped and joined, popups closed, and
    // programEnding() tells the program to end with exit code 0.
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
    // A task-modal message box with the caption "信息："; returns when closed.
    void showMessage(const QString& text, MessageIcon icon);

    // Thread-safe, for the share run.
    ShareObserver& shareObserver();
    // UI thread only, for gathering the login context.
    BrowserLoginSource& loginSource();

    // Replaces the message box (tests answer it without a screen).
    void setMessagePresenter(MessagePresenter presenter);
    // What buttons 4 to 7 open as a modal dialog; help and about are set.
    void setDialogOpener(int index, DialogOpener opener);

    QToolBar* toolbar() const { return toolbar_; }
    QAction* toolbarAction(int index) const;
    QToolButton* toolbarButton(int index) const;
    QProgressBar* progressBar() const { return progress_; }
    BrowserView* browserView() const { return view_; }
    QLabel* addressLabel() const { return address_; }
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

    MainWindow(ProgramState& state, ShareController* controller,
               std::unique_ptr<QWebEngineProfile> profile);

    void buildToolbar();
    void placeProgressBar();
    void shareCommand();
    void stopCommand();
    void holdWhile(int index, const std::function<void()>& action);
    QWebEnginePage* openPopup();

    ProgramState& state_;
    ShareController* controller_;
    QUrl origin_;
    std::unique_ptr<QWebEngineProfile> profile_; // outlives every page below
    std::unique_ptr<CookieMirror> cookies_;
    std::unique_ptr<UiSide> uiSide_;
    std::unique_ptr<UiShareObserver> observer_;
    std::unique_ptr<WebLoginSource> loginSource_;

    QToolBar* toolbar_ = nullptr;
    std::array<QAction*, kToolbarButtonCount> actions_{};
    QProgressBar* progress_ = nullptr;
    BrowserView* view_ = nullptr;
    QLabel* address_ = nullptr;
    QList<QPointer<PopupWindow>> popups_;

    MessagePresenter presenter_;
    std::array<DialogOpener, kToolbarButtonCount> openers_{};
    bool closing_ = false;
    unsigned long long stopClicks_ = 0;
};

// Makes the browser profile under `dataDir`: cookies, storage and cache on
// disk, so the login outlives the program.
Expected<std::unique_ptr<QWebEngineProfile>> makeBrowserProfile(const QString& dataDir);

} // namespace vantorel::gui
