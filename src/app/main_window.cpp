#include "app/main_window.h"

#include "app/browser_cookies.h"
#include "app/browser_view.h"
#include "app/program_share_work.h"
#include "app/program_state.h"
#include "app/skin.h"
#include "app/toolbar_icons.h"
#include "app/ui_share_observer.h"
#include "app/web_login_source.h"
#include "ui/about_window.h"
#include "ui/help_window.h"
#include "ui/ui_wait.h"
#include "ui/window_util.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWebEngineProfile>

namespace vantorel::gui {

namespace {

constexpr QSize kOuterSize(1178, 769);
constexpr int kToolbarHeight = 41;
constexpr QSize kProgressSize(287, 20);
constexpr int kProgressTop = 10;
// The window was designed with a client area 1162 wide (its outer width less
// the frame), where the bar's left edge is at 754. The bar keeps that distance
// from the right edge whatever the width.
constexpr int kDesignedClientWidth = 1162;
constexpr int kProgressRightGap = kDesignedClientWidth - 754 - 287;
constexpr QSize kDefaultPopupSize(960, 640);
// The least room between the last button and the bar.
constexpr int kProgressGap = 12;
// Toolbar, some of the page and the status bar.
constexpr int kMinimumHeight = 360;
// The room the status bar gives the item being shared or the pause.
constexpr int kActivityWidth = 420;

const char16_t* const kCaptions[kToolbarButtonCount] = {
    u"首页", u"刷新", u"分享", u"停止", u"管理", u"设置", u"帮助", u"关于",
};

QMessageBox::Icon boxIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Error:
        return QMessageBox::Critical;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

// The window's side of a share run, behind the thread-safe bridge; UI thread
// only.
class MainWindow::UiSide final : public ShareObserver {
public:
    explicit UiSide(MainWindow& window) : window_(window) {}
    void setProgressMaximum(int maximum) override { window_.setProgressMaximum(maximum); }
    void setProgressPosition(int position) override { window_.setProgressPosition(position); }
    // The window decides what a phase of the run does to its toolbar.
    void runPhase(RunPhase phase) override {
        if (phase == RunPhase::Done) {
            window_.giveShareBack();
        }
    }
    void showMessage(std::string_view text, MessageIcon icon, std::stop_token dismiss) override {
        window_.showMessage(fromUtf8(text), boxIcon(icon), std::move(dismiss));
    }
    void entryStarted(std::string_view path) override {
        window_.startedPath_ = std::string(path);
        window_.showActivity(QStringLiteral("正在分享: ") + fromUtf8(path));
    }
    void pauseStarted(std::chrono::milliseconds length) override { window_.showPause(length); }
    void entryFinished(const EntryOutcome& outcome) override {
        if (outcome.verdict == EntryVerdict::Shared && !window_.startedPath_.empty() &&
            outcome.path != window_.startedPath_) {
            window_.renamedInRun_ = true;
        }
        window_.startedPath_.clear();
        RunSummary& tally = window_.tally_;
        switch (outcome.verdict) {
        case EntryVerdict::Shared:
            ++tally.shared;
            break;
        case EntryVerdict::Failed:
            ++tally.failed;
            break;
        case EntryVerdict::Skipped:
            ++tally.skipped;
            break;
        case EntryVerdict::Pending:
            ++tally.pending;
            break;
        }
        window_.showTally(tally, false);
        window_.showProcessed();
    }
    void runFinished(const RunSummary& summary) override { window_.finishRun(summary); }

private:
    MainWindow& window_;
};

Expected<std::unique_ptr<QWebEngineProfile>> makeBrowserProfile(const QString& dataDir) {
    if (dataDir.isEmpty()) {
        return Error{"没有数据目录"};
    }
    const QString storage = QDir(dataDir).filePath(QStringLiteral("browser"));
    const QString cache = QDir(storage).filePath(QStringLiteral("cache"));
    if (!QDir().mkpath(storage) || !QDir().mkpath(cache)) {
        return Error{"无法创建浏览器数据目录：" + QDir::toNativeSeparators(storage).toStdString()};
    }
    auto profile = std::make_unique<QWebEngineProfile>(QStringLiteral("vantorel"));
    profile->setPersistentStoragePath(storage);
    profile->setCachePath(cache);
    profile->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
    // Session cookies too: the service's login must survive a restart.
    profile->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
    profile->setHttpAcceptLanguage(QStringLiteral("zh-CN,zh;q=0.9,en;q=0.6"));
    return profile;
}

Expected<std::unique_ptr<MainWindow>> MainWindow::load(ProgramState& state) {
    Expected<std::unique_ptr<QWebEngineProfile>> profile = makeBrowserProfile(state.dataDir);
    if (!profile) {
        return profile.error();
    }
    return std::unique_ptr<MainWindow>(new MainWindow(state, std::move(profile.value())));
}

MainWindow::MainWindow(ProgramState& state, std::unique_ptr<QWebEngineProfile> profile)
    : state_(state), origin_(browserOrigin(state)), profile_(std::move(profile)) {
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(QStringLiteral("Vantorel"));
    setWindowIcon(programIcon());

    cookies_ = std::make_unique<CookieMirror>(
        profile_->cookieStore(),
        QDir(profile_->persistentStoragePath()).filePath(QStringLiteral("cookie-journal")));
    uiSide_ = std::make_unique<UiSide>(*this);
    observer_ = std::make_unique<UiShareObserver>(*uiSide_);
    session_ = std::make_unique<ShareSession>(
        SessionSettings{.dataDir = toFilePath(state_.dataDir), .connection = state_.connection},
        state_.recordStore, *observer_);

    buildToolbar();

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 46 - kToolbarHeight, 4, 4);
    view_ = new BrowserView(profile_.get(), central);
    view_->setObjectName(QStringLiteral("BrowserView"));
    view_->browserPage()->setPopupFactory(
        [this](QWebEnginePage::WebWindowType) { return openPopup(); });
    layout->addWidget(view_);
    setCentralWidget(central);

    address_ = new QLabel(this);
    address_->setObjectName(QStringLiteral("AddressLabel"));
    address_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusBar()->addWidget(address_, 1);
    activity_ = new QLabel(this);
    activity_->setObjectName(QStringLiteral("RunActivityLabel"));
    statusBar()->addPermanentWidget(activity_);
    runStatus_ = new QLabel(this);
    runStatus_->setObjectName(QStringLiteral("RunStatusLabel"));
    statusBar()->addPermanentWidget(runStatus_);
    pauseTicker_.setInterval(1000);
    connect(&pauseTicker_, &QTimer::timeout, this, [this] { showPauseLeft(); });
    statusBar()->setSizeGripEnabled(true);
    connect(view_, &BrowserView::shownAddressChanged, this,
            [this](const QUrl& address) { address_->setText(address.toDisplayString()); });
    connect(view_->browserPage(), &QWebEnginePage::linkHovered, this, [this](const QString& link) {
        if (link.isEmpty()) {
            statusBar()->clearMessage();
        } else {
            statusBar()->showMessage(link);
        }
    });

    loginSource_ = std::make_unique<WebLoginSource>(*view_, *cookies_, origin_);
    shareWork_ =
        std::make_unique<ProgramShareWork>(*loginSource_, state_.recordStore, session_->settings());

    openers_[kHelpButton] = [](QWidget* parent) {
        HelpWindow dialog(parent);
        dialog.exec();
    };
    openers_[kAboutButton] = [](QWidget* parent) {
        AboutWindow dialog(parent);
        dialog.exec();
    };

    placeCentred(*this, kOuterSize);

    view_->load(origin_);
}

MainWindow::~MainWindow() {
    if (!closing_) {
        closing_ = true;
        stopEverything();
    }
    session_.reset();
    // Every page goes before the profile: popups first, then the view.
    for (const QPointer<PopupWindow>& popup : popups_) {
        delete popup.data();
    }
    popups_.clear();
    shareWork_.reset();
    loginSource_.reset();
    delete view_;
    view_ = nullptr;
    cookies_.reset();
    profile_.reset();
}

void MainWindow::buildToolbar() {
    toolbar_ = new QToolBar(this);
    toolbar_->setObjectName(QStringLiteral("工具条1"));
    toolbar_->setMovable(false);
    toolbar_->setFloatable(false);
    toolbar_->setFixedHeight(kToolbarHeight);
    toolbar_->setIconSize(QSize(32, 32));
    toolbar_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toolbar_->toggleViewAction()->setVisible(false);
    addToolBar(Qt::TopToolBarArea, toolbar_);

    const QFont captionFont = uiFont(12);
    for (int index = 0; index < kToolbarButtonCount; ++index) {
        QAction* action =
            toolbar_->addAction(toolbarIcon(index), QString::fromUtf16(kCaptions[index]));
        action->setEnabled(index != kStopButton);
        connect(action, &QAction::triggered, this, [this, index] { onToolbarClick(index); });
        actions_[static_cast<std::size_t>(index)] = action;
        if (auto* button = qobject_cast<QToolButton*>(toolbar_->widgetForAction(action))) {
            button->setObjectName(QStringLiteral("ToolbarButton%1").arg(index));
            button->setFont(captionFont);
        }
    }

    progress_ = new QProgressBar(toolbar_);
    progress_->setObjectName(QStringLiteral("进度条1"));
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progress_->setTextVisible(true);
    progress_->setAlignment(Qt::AlignCenter);
    progress_->setFormat(QStringLiteral("就绪"));
    progress_->setFixedSize(kProgressSize);
    toolbar_->installEventFilter(this);
    placeProgressBar();
    // Narrower, buttons would go behind the toolbar's overflow arrow or the
    // bar over them.
    setMinimumSize(toolbar_->sizeHint().width() + kProgressGap + kProgressSize.width() +
                       kProgressGap,
                   kMinimumHeight);
}

void MainWindow::placeProgressBar() {
    // Right-anchored, but never over the buttons when the window is narrow.
    int left = toolbar_->width() - kProgressRightGap - kProgressSize.width();
    if (QWidget* last = toolbar_->widgetForAction(actions_[kToolbarButtonCount - 1])) {
        left = std::max(left, last->geometry().right() + kProgressGap);
    }
    progress_->move(left, kProgressTop);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == toolbar_ &&
        (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest)) {
        placeProgressBar();
    }
    return QMainWindow::eventFilter(watched, event);
}

QAction* MainWindow::toolbarAction(int index) const {
    if (index < 0 || index >= kToolbarButtonCount) {
        return nullptr;
    }
    return actions_[static_cast<std::size_t>(index)];
}

QToolButton* MainWindow::toolbarButton(int index) const {
    QAction* action = toolbarAction(index);
    return action != nullptr ? qobject_cast<QToolButton*>(toolbar_->widgetForAction(action))
                             : nullptr;
}

QList<PopupWindow*> MainWindow::popups() const {
    QList<PopupWindow*> open;
    for (const QPointer<PopupWindow>& popup : popups_) {
        if (popup != nullptr) {
            open.append(popup.data());
        }
    }
    return open;
}

void MainWindow::onCreated() {
    state_.dbPath = QDir(state_.dataDir).filePath(QStringLiteral("linkledger.db"));
    applySkin(storedSkinData(), 0, 0);
    if (const Status opened = state_.recordStore.openOrCreate(toFilePath(state_.dbPath)); !opened) {
        // Sharing without a ledger would share everything again and record
        // nothing; the share command refuses until the program is restarted.
        showMessage(fromUtf8(kNoLedgerMessage) + QString::fromStdString(opened.error().message),
                    QMessageBox::Critical);
    }
}

void MainWindow::stopEverything() {
    gatherStop_.request_stop();
    // Nothing of the run may reach the window any more, and nothing may keep
    // the worker from being joined: a box it waits on is released.
    observer_->close();
    session_->stop();
}

void MainWindow::onDestroyed() {
    if (closing_) {
        return;
    }
    closing_ = true;
    stopEverything();
    for (const QPointer<PopupWindow>& popup : popups_) {
        delete popup.data();
    }
    popups_.clear();
    emit programEnding();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    onDestroyed();
    event->accept();
}

void MainWindow::setProgressMaximum(int maximum) {
    // A range of 0 to 0 would turn the bar into a busy indicator that never
    // stops; an empty folder shows an empty bar instead.
    progress_->setMaximum(std::max(maximum, 1));
    entries_ = std::max(maximum, 0);
    showProcessed();
}

void MainWindow::showProcessed() {
    const int processed = tally_.shared + tally_.failed + tally_.skipped;
    progress_->setFormat(QStringLiteral("已处理 %1/%2").arg(processed).arg(entries_));
}

void MainWindow::showActivity(const QString& text) {
    pauseTicker_.stop();
    activity_->setToolTip(text);
    activity_->setText(activity_->fontMetrics().elidedText(text, Qt::ElideMiddle, kActivityWidth));
}

void MainWindow::showPause(std::chrono::milliseconds length) {
    pauseEnd_ = std::chrono::steady_clock::now() + length;
    showPauseLeft();
    pauseTicker_.start();
}

void MainWindow::showPauseLeft() {
    const auto left =
        std::chrono::ceil<std::chrono::seconds>(pauseEnd_ - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
        pauseTicker_.stop();
        activity_->clear();
        return;
    }
    activity_->setToolTip(QString());
    activity_->setText(QStringLiteral("暂停 %1 秒后继续").arg(left.count()));
}

void MainWindow::finishRun(const RunSummary& summary) {
    pauseTicker_.stop();
    activity_->clear();
    showTally(summary, true);
    if (summary.end == RunEnd::Completed) {
        progress_->setFormat(QStringLiteral("就绪"));
    }
    // The file page still lists the old names of what the run renamed.
    if (renamedInRun_) {
        renamedInRun_ = false;
        view_->reloadPage();
    }
}

void MainWindow::setProgressPosition(int position) {
    progress_->setValue(std::clamp(position, progress_->minimum(), progress_->maximum()));
}

void MainWindow::setButtonEnabled(int index, bool enabled) {
    if (QAction* action = toolbarAction(index)) {
        action->setEnabled(enabled);
    }
}

bool MainWindow::isButtonEnabled(int index) const {
    const QAction* action = toolbarAction(index);
    return action != nullptr && action->isEnabled();
}

void MainWindow::showMessage(const QString& text, QMessageBox::Icon icon, std::stop_token dismiss) {
    if (dismiss.stop_requested()) {
        return;
    }
    // Owned by no window and modal for the whole application, as a box
    // raised by the run should be.
    QMessageBox box(icon, QStringLiteral("信息："), text, QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    // The request may come from any thread: the box is closed on its own.
    const std::stop_callback takeDown(dismiss, [&box] {
        QMetaObject::invokeMethod(
            &box, [&box] { box.done(QMessageBox::Ok); }, Qt::QueuedConnection);
    });
    box.exec();
}

ShareObserver& MainWindow::shareObserver() {
    return *observer_;
}

ShareWorkProvider& MainWindow::shareWork() {
    return *shareWork_;
}

BrowserSource& MainWindow::loginSource() {
    return *loginSource_;
}

bool MainWindow::shareRunning() const {
    return session_->running();
}

void MainWindow::setDialogOpener(int index, DialogOpener opener) {
    if (index >= kManageButton && index <= kAboutButton) {
        openers_[static_cast<std::size_t>(index)] = std::move(opener);
    }
}

void MainWindow::holdWhile(int index, const std::function<void()>& action) {
    setButtonEnabled(index, false);
    action();
    if (!closing_) {
        setButtonEnabled(index, true);
    }
}

void MainWindow::onToolbarClick(int index) {
    if (closing_) {
        return;
    }
    switch (index) {
    case kHomeButton:
        holdWhile(index, [this] {
            view_->load(origin_);
            waitPumping(1000);
        });
        break;
    case kRefreshButton:
        holdWhile(index, [this] {
            view_->reloadPage();
            waitPumping(1000);
        });
        break;
    case kShareButton:
        shareCommand();
        break;
    case kStopButton:
        stopCommand();
        break;
    case kManageButton:
    case kSettingsButton:
    case kHelpButton:
    case kAboutButton:
        holdWhile(index, [this, index] {
            if (const DialogOpener& open = openers_[static_cast<std::size_t>(index)]) {
                open(this);
            }
        });
        break;
    default:
        break;
    }
}

void MainWindow::onNewWindowPlacement(QWidget*& /*parent*/, int& left, int& top, int& /*width*/,
                                      int& /*height*/) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize size = screen != nullptr ? screen->geometry().size() : QSize(0, 0);
    left = size.width() / 3;
    top = size.height() / 3;
}

QWebEnginePage* MainWindow::openPopup() {
    if (closing_) {
        return nullptr;
    }
    // Until the page asks for a size of its own, the window gets one that
    // stays on screen from one third of the way across and down.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize room =
        screen != nullptr ? screen->availableGeometry().size() * 2 / 3 : kDefaultPopupSize;
    QWidget* parent = this;
    int left = 0;
    int top = 0;
    int width = std::min(kDefaultPopupSize.width(), std::max(room.width(), 320));
    int height = std::min(kDefaultPopupSize.height(), std::max(room.height(), 240));
    onNewWindowPlacement(parent, left, top, width, height);

    auto* popup = new PopupWindow(
        profile_.get(), [this](QWebEnginePage::WebWindowType) { return openPopup(); }, parent);
    popup->resize(width, height);
    popup->move(left, top);
    popups_.append(popup);
    popup->show();
    return popup->page();
}

} // namespace vantorel::gui
