#include "app/browser_view.h"
#include "app/main_window.h"
#include "sim_window.h"
#include "test_support.h"
#include "ui/about_window.h"
#include "ui/help_window.h"

#include <QAction>
#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <atomic>
#include <gtest/gtest.h>

using namespace vantorel::gui;
using namespace vantorel::gui::test;

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    // Opens the window on `origin` and waits for its first page to settle.
    void open(const QUrl& origin) {
        test_ = std::make_unique<TestState>(origin);
        auto loaded = MainWindow::load(test_->state);
        ASSERT_TRUE(loaded) << loaded.error().message;
        window_ = std::move(loaded.value());
        QSignalSpy settled(window_->browserView()->page(), &QWebEnginePage::loadFinished);
        window_->show();
        ASSERT_TRUE(waitFor([&] { return !settled.isEmpty(); }));
    }

    void openServed() {
        server_ = std::make_unique<LocalServer>([this](httplib::Server& s) {
            servePage(s, "/", "<!DOCTYPE html><title>home</title><p>home</p>");
            servePage(s, "/other", "<!DOCTYPE html><title>other</title><p>other</p>");
            servePage(s, "/popup", "<!DOCTYPE html><title>popup</title><p>popup</p>");
            s.Get("/count", [this](const httplib::Request&, httplib::Response& res) {
                ++countHits_;
                res.set_content("<p>count</p>", "text/html");
            });
            s.Get("/disk/home", [this](const httplib::Request&, httplib::Response& res) {
                ++homePageHits_;
                res.set_content("<p>not logged in</p>", "text/html");
            });
        });
        open(server_->origin());
    }

    void navigate(const QUrl& url) {
        QSignalSpy loaded(window_->browserView()->page(), &QWebEnginePage::loadFinished);
        window_->browserView()->load(url);
        ASSERT_TRUE(waitFor([&] { return !loaded.isEmpty(); }));
    }

    void TearDown() override {
        window_.reset();
        server_.reset();
    }

    MainWindow& window() { return *window_; }
    std::vector<bool> buttonStates() const {
        std::vector<bool> states;
        for (int i = 0; i < kToolbarButtonCount; ++i) {
            states.push_back(window_->isButtonEnabled(i));
        }
        return states;
    }

    std::unique_ptr<LocalServer> server_;
    std::unique_ptr<TestState> test_;
    std::unique_ptr<MainWindow> window_;
    std::atomic<int> countHits_ = 0;
    std::atomic<int> homePageHits_ = 0;
};

QPoint placeIn(const QWidget& widget, const QWidget& window) {
    return widget.mapTo(&window, QPoint(0, 0));
}

// Inspects and closes the next modal dialog once it is up.
void closeModalWhenShown(const std::function<void(QWidget*)>& inspect) {
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [timer, inspect] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            inspect(modal);
            modal->close();
        }
    });
    timer->start(10);
}

} // namespace

TEST_F(MainWindowTest, OpensCentredAtItsDesignedSizeWithTheToolbarAsDesigned) {
    openServed();
    EXPECT_EQ(window().windowTitle(), QStringLiteral("Vantorel"));
    EXPECT_EQ(window().frameGeometry().size(), QSize(1178, 769));
    const QRect screen = window().screen()->availableGeometry();
    EXPECT_LE((window().frameGeometry().center() - screen.center()).manhattanLength(), 2);
    EXPECT_NE(window().minimumSize(), window().maximumSize()) << "resizable";

    EXPECT_EQ(window().toolbar()->objectName(), QStringLiteral("工具条1"));
    EXPECT_EQ(window().toolbar()->height(), 41);
    EXPECT_EQ(window().toolbar()->iconSize(), QSize(32, 32));
    const char* captions[] = {"首页", "刷新", "分享", "停止", "管理", "设置", "帮助", "关于"};
    for (int i = 0; i < kToolbarButtonCount; ++i) {
        QToolButton* button = window().toolbarButton(i);
        ASSERT_NE(button, nullptr) << i;
        EXPECT_EQ(button->text(), QString::fromUtf8(captions[i]));
        EXPECT_FALSE(button->icon().isNull()) << i;
        EXPECT_EQ(button->font().families().value(0), QStringLiteral("微软雅黑"));
        EXPECT_EQ(button->font().pixelSize(), 12);
        EXPECT_TRUE(QFontMetrics(button->font()).inFont(button->text().at(0)));
    }
    EXPECT_EQ(window().toolbarAction(8), nullptr);
    EXPECT_EQ(buttonStates(), (std::vector<bool>{true, true, true, false, true, true, true, true}));

    const QProgressBar* progress = window().progressBar();
    EXPECT_EQ(progress->objectName(), QStringLiteral("进度条1"));
    EXPECT_EQ(progress->minimum(), 0);
    EXPECT_EQ(progress->maximum(), 100);
    EXPECT_EQ(progress->value(), 0);
    EXPECT_EQ(progress->size(), QSize(287, 20));
    // On the right of the toolbar; at the designed client width at 754, 10.
    window().resize(1162, window().height());
    ASSERT_TRUE(waitFor([&] { return window().toolbar()->width() == 1162; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(placeIn(*progress, window()), QPoint(754, 10));

    EXPECT_EQ(window().browserView()->objectName(), QStringLiteral("BrowserView"));
    EXPECT_EQ(placeIn(*window().browserView(), window()), QPoint(4, 46));
    EXPECT_EQ(window().browserView()->url(), server_->url(QStringLiteral("/")));
}

TEST_F(MainWindowTest, ProgressBarAndBrowserFollowTheWindowWhenResized) {
    openServed();
    const QPoint progressBefore = placeIn(*window().progressBar(), window());
    const QSize viewBefore = window().browserView()->size();
    window().resize(window().size() + QSize(120, 60));
    ASSERT_TRUE(waitFor([&] { return window().browserView()->size() != viewBefore; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(window().browserView()->size(), viewBefore + QSize(120, 60));
    EXPECT_EQ(placeIn(*window().browserView(), window()), QPoint(4, 46));
    EXPECT_EQ(placeIn(*window().progressBar(), window()), progressBefore + QPoint(120, 0));
}

TEST_F(MainWindowTest, HomeLoadsTheOriginAndHoldsItsButtonThroughTheWait) {
    openServed();
    navigate(server_->url(QStringLiteral("/other")));
    QSignalSpy triggered(window().toolbarAction(kHomeButton), &QAction::triggered);
    bool disabledInWait = false;
    QTimer::singleShot(0, [&] {
        disabledInWait = !window().isButtonEnabled(kHomeButton);
        window().toolbarButton(kHomeButton)->click(); // ignored: the button is disabled
    });
    window().onToolbarClick(kHomeButton);
    EXPECT_TRUE(disabledInWait);
    EXPECT_EQ(triggered.count(), 0);
    EXPECT_TRUE(window().isButtonEnabled(kHomeButton));
    EXPECT_TRUE(waitFor([&] { return window().browserView()->url() == server_->url("/"); }));
}

TEST_F(MainWindowTest, RefreshReloadsThePageAndHoldsItsButtonThroughTheWait) {
    openServed();
    navigate(server_->url(QStringLiteral("/count")));
    ASSERT_EQ(countHits_, 1);
    bool disabledInWait = false;
    QTimer::singleShot(0, [&] { disabledInWait = !window().isButtonEnabled(kRefreshButton); });
    window().onToolbarClick(kRefreshButton);
    EXPECT_TRUE(disabledInWait);
    EXPECT_TRUE(window().isButtonEnabled(kRefreshButton));
    EXPECT_TRUE(waitFor([&] { return countHits_ == 2; }));
}

TEST_F(MainWindowTest, StopWithNoRunOnlySwapsTheButtons) {
    openServed();
    window().setButtonEnabled(kStopButton, true);
    window().setButtonEnabled(kShareButton, false);
    window().onToolbarClick(kStopButton);
    EXPECT_TRUE(window().isButtonEnabled(kShareButton));
    EXPECT_FALSE(window().isButtonEnabled(kStopButton));
    EXPECT_FALSE(window().shareRunning());
}

TEST_F(MainWindowTest, StopDuringTheShortWaitCallsTheShareOff) {
    openServed();
    QTimer::singleShot(0, [&] { window().toolbarButton(kStopButton)->click(); });
    window().onToolbarClick(kShareButton);
    EXPECT_EQ(homePageHits_, 0) << "no login was gathered";
    EXPECT_FALSE(window().shareRunning());
    EXPECT_TRUE(window().isButtonEnabled(kShareButton));
    EXPECT_FALSE(window().isButtonEnabled(kStopButton));
}

TEST_F(MainWindowTest, HelpAndAboutHoldTheirButtonWhileTheModalDialogIsOpen) {
    openServed();
    for (const int index : {kHelpButton, kAboutButton}) {
        bool sawDialog = false;
        bool heldDisabled = false;
        closeModalWhenShown([&](QWidget* dialog) {
            sawDialog = index == kHelpButton ? qobject_cast<HelpWindow*>(dialog) != nullptr
                                             : qobject_cast<AboutWindow*>(dialog) != nullptr;
            heldDisabled = !window().isButtonEnabled(index);
        });
        window().onToolbarClick(index);
        EXPECT_TRUE(sawDialog) << index;
        EXPECT_TRUE(heldDisabled) << index;
        EXPECT_TRUE(window().isButtonEnabled(index)) << index;
    }
}

TEST_F(MainWindowTest, ManageAndSettingsOpenWhatIsPluggedInWhileHoldingTheButton) {
    openServed();
    bool heldDisabled = false;
    window().setDialogOpener(kSettingsButton, [&](QWidget* parent) {
        heldDisabled = !window().isButtonEnabled(kSettingsButton);
        EXPECT_EQ(parent, &window());
    });
    window().onToolbarClick(kSettingsButton);
    EXPECT_TRUE(heldDisabled);
    EXPECT_TRUE(window().isButtonEnabled(kSettingsButton));
    window().onToolbarClick(kManageButton); // nothing plugged in: only the hold
    EXPECT_TRUE(window().isButtonEnabled(kManageButton));
}

TEST_F(MainWindowTest, PagePopupIsPlacedAtOneThirdOfTheScreenAtTheSizeItAsked) {
    openServed();
    window().loginSource().runPageScript(
        "window.open('/popup', 'p', 'width=300,height=200'); return '';");
    ASSERT_TRUE(waitFor([&] { return window().popups().size() == 1; }));
    PopupWindow* popup = window().popups().first();
    ASSERT_TRUE(waitFor([&] { return popup->sizedByPage(); }));
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    EXPECT_EQ(popup->frameGeometry().topLeft(), QPoint(screen.width() / 3, screen.height() / 3));
    EXPECT_EQ(popup->size(), QSize(300, 200));
    EXPECT_TRUE(popup->isVisible());
    EXPECT_TRUE(waitFor([&] { return popup->page()->url() == server_->url("/popup"); }));

    // The page may close its own window.
    popup->page()->runJavaScript(QStringLiteral("window.close();"));
    EXPECT_TRUE(waitFor([&] { return window().popups().isEmpty(); }));
}

TEST(MainWindowPlacement, NewWindowGoesToOneThirdOfTheScreenAndKeepsItsSize) {
    TestState test(deadOrigin());
    auto window = MainWindow::load(test.state);
    ASSERT_TRUE(window);
    QWidget* parent = window->get();
    int left = -1;
    int top = -1;
    int width = 320;
    int height = 240;
    (*window)->onNewWindowPlacement(parent, left, top, width, height);
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    EXPECT_EQ(left, screen.width() / 3);
    EXPECT_EQ(top, screen.height() / 3);
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 240);
    EXPECT_EQ(parent, window->get());
}

TEST_F(MainWindowTest, StatusBarShowsTheAddressOfThePageShown) {
    openServed();
    const QUrl url = server_->url(QStringLiteral("/other?path=%2Fdocs"));
    navigate(url);
    EXPECT_TRUE(waitFor([&] { return window().addressLabel()->text() == url.toDisplayString(); }))
        << window().addressLabel()->text().toStdString();
}

TEST_F(MainWindowTest, PageThatFailsToLoadSaysSoInTheView) {
    const QUrl origin = deadOrigin();
    open(origin);
    BrowserView* view = window().browserView();
    ASSERT_TRUE(waitFor([&] { return view->showsLoadFailure(); }));
    std::string text;
    ASSERT_TRUE(waitFor([&] {
        text = window().loginSource().runPageScript("return document.body.innerText;");
        return text.find("页面载入失败") != std::string::npos;
    })) << text;
    EXPECT_NE(text.find(origin.host().toStdString()), std::string::npos) << text;
    EXPECT_EQ(view->shownAddress(), QUrl(origin.toString() + QStringLiteral("/")));
    EXPECT_TRUE(waitFor([&] { return window().addressLabel()->text().contains(origin.host()); }));
}

TEST_F(MainWindowTest, ShareThatCannotStartSaysWhyAndRestoresTheButtons) {
    openServed(); // a home page without a login
    BoxAnswerer boxes;
    window().onToolbarClick(kShareButton);
    ASSERT_TRUE(boxes.waitForBoxes(1, kPatienceMs));
    EXPECT_EQ(boxes.seen()[0].text, QStringLiteral("未获取到登录信息,请先在浏览器中登录百度网盘"));
    EXPECT_EQ(boxes.seen()[0].title, QStringLiteral("信息："));
    EXPECT_EQ(homePageHits_, 1);
    EXPECT_FALSE(window().shareRunning());
    EXPECT_TRUE(window().isButtonEnabled(kShareButton));
    EXPECT_FALSE(window().isButtonEnabled(kStopButton));
}

TEST_F(MainWindowTest, ProgressOfAnEmptyFolderIsAStillEmptyBar) {
    openServed();
    window().setProgressMaximum(0);
    window().setProgressPosition(0);
    EXPECT_GT(window().progressBar()->maximum(), window().progressBar()->minimum())
        << "a range of 0 to 0 is an endless busy indicator";
    EXPECT_EQ(window().progressBar()->value(), 0);
}
