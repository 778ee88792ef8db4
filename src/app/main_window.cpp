#include "app/main_window.h"

#include "app/browser_cookies.h"
#include "app/browser_view.h"
#include "app/program_state.h"
#include "app/skin.h"
#include "app/toolbar_icons.h"
#include "app/ui_share_observer.h"
#include "app/ui_wait.h"
#include "app/web_login_source.h"
#include "ui/about_window.h"
#include "ui/help_window.h"
#include "ui/window_util.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QStatusBar>
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

const char16_t* const kCaptions[kToolbarButtonCount] = {
    u"首页", u"刷新", u"分享", u"停止", u"管理", u"设置", u"帮助", u"关于",
};

QMessageBox::Icon boxIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Critical:
        return QMessageBox::Critical;
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

// The window's operations behind the thread-safe bridge; UI thread only.
class MainWindow::UiSide final : public ShareObserver {
public:
    explicit UiSide(MainWindow& window) : window_(window) {}
    void setProgressMaximum(int maximum) override { window_.setProgressMaximum(maximum); }
    void setProgressPosition(int position) override { window_.setProgressPosition(position); }
    void setButtonEnabled(int index, bool enabled) override {
        window_.setButtonEnabled(index, enabled);
    }
    void message(const std::string& text, MessageIcon icon) override {
        window_.showMessage(QString::fromStdString(text), icon);
    }

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

Expected<std::unique_ptr<MainWindow>> MainWindow::load(ProgramState& state,
                                                       ShareController* controller) {
    Expected<std::unique_ptr<QWebEngineProfile>> profile = makeBrowserProfile(state.dataDir);
    if (!profile) {
        return profile.error();
    }
    if (!state.origin.isValid() || state.origin.host().isEmpty()) {
        return Error{"没有服务地址"};
    }
    return std::unique_ptr<MainWindow>(
        new MainWindow(state, controller, std::move(profile.value())));
}

MainWindow::MainWindow(ProgramState& state, ShareController* controller,
                       std::unique_ptr<QWebEngineProfile> profile)
    : state_(state), controller_(controller), origin_(state.origin), profile_(std::move(profile)) {
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(QStringLiteral("Vantorel"));
    setWindowIcon(programIcon());

    cookies_ = std::make_unique<CookieMirror>(
        profile_->cookieStore(),
        QDir(profile_->persistentStoragePath()).filePath(QStringLiteral("cookie-journal")));
    uiSide_ = std::make_unique<UiSide>(*this);
    observer_ = std::make_unique<UiShareObserver>(*uiSide_);

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
        observer_->close();
        if (controller_ != nullptr) {
            controller_->stop();
        }
    }
    // Every page goes before the profile: popups first, then the view.
    for (const QPointer<PopupWindow>& popup : popups_) {
        delete popup.data();
    }
    popups_.clear();
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
    progress_->setTextVisible(false);
    progress_->setFixedSize(kProgressSize);
    toolbar_->installEventFilter(this);
    placeProgressBar();
}

void MainWindow::placeProgressBar() {
    // Right-anchored, but never over the buttons when the window is narrow.
    int left = toolbar_->width() - kProgressRightGap - kProgressSize.width();
    if (QWidget* last = toolbar_->widgetForAction(actions_[kToolbarButtonCount - 1])) {
        left = std::max(left, last->geometry().right() + 12);
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
    // TODO: open or create the ledger at dbPath here, once the records store
    // is in; when it fails, say so with the path and the reason and keep the
    // share command from starting.
}

void MainWindow::onDestroyed() {
    if (closing_) {
        return;
    }
    closing_ = true;
    // Nothing may block the join: release a worker waiting on a message box.
    observer_->close();
    if (controller_ != nullptr) {
        controller_->stop();
    }
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
    progress_->setMaximum(std::max(maximum, 0));
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

void MainWindow::showMessage(const QString& text, MessageIcon icon) {
    if (presenter_) {
        presenter_(text, icon);
        return;
    }
    // Owned by no window and modal for the whole application, as a box
    // raised by the run should be.
    QMessageBox box(boxIcon(icon), QStringLiteral("信息："), text, QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

ShareObserver& MainWindow::shareObserver() {
    return *observer_;
}

BrowserLoginSource& MainWindow::loginSource() {
    return *loginSource_;
}

void MainWindow::setMessagePresenter(MessagePresenter presenter) {
    presenter_ = std::move(presenter);
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

void MainWindow::shareCommand() {
    setButtonEnabled(kShareButton, false);
    setButtonEnabled(kStopButton, true);
    const unsigned long long stopsBefore = stopClicks_;
    // The command runs nested event loops (the wait, the page script, message
    // boxes); a stop or a close meanwhile calls the whole command off.
    const auto calledOff = [&] {
        return closing_ || stopClicks_ != stopsBefore;
    };

    waitPumping(100);
    if (calledOff()) {
        return;
    }
    if (controller_ == nullptr) {
        showMessage(QStringLiteral("分享功能暂不可用。"), MessageIcon::Warning);
        if (!calledOff()) {
            setButtonEnabled(kShareButton, true);
            setButtonEnabled(kStopButton, false);
        }
        return;
    }
    controller_->obtainShareOptions();
    if (calledOff()) {
        return;
    }
    controller_->gatherLogin(*loginSource_);
    if (calledOff()) {
        return;
    }
    observer_->reopen();
    const Status started = controller_->start(*observer_);
    if (!started) {
        showMessage(QString::fromStdString(started.error().message), MessageIcon::Warning);
        if (!calledOff()) {
            setButtonEnabled(kShareButton, true);
            setButtonEnabled(kStopButton, false);
        }
    }
}

void MainWindow::stopCommand() {
    setButtonEnabled(kStopButton, false);
    setButtonEnabled(kShareButton, true);
    ++stopClicks_;
    if (controller_ == nullptr) {
        return;
    }
    // A worker blocked on a message box would never see the stop; release it
    // and drop what it still has queued for the window.
    observer_->close();
    controller_->stop();
    observer_->reopen();
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
