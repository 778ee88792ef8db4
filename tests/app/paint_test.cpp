// What the main window shows on the X server (not what its widgets would
// render): after each secondary window was opened and closed during a run,
// and after the window was hidden and shown again, the toolbar, the progress
// bar and the status bar are painted as they are now.

#include "app/browser_view.h"
#include "app/main_window.h"
#include "app/secondary_windows.h"
#include "sim_process.h"
#include "sim_window.h"
#include "test_support.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QSignalSpy>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QWindow>
#include <gtest/gtest.h>

using namespace vantorel::gui;
using namespace vantorel::gui::test;
using vantorel::test::SimProcess;

namespace {

// The window's pixels as the X server holds them.
QImage onScreen(MainWindow& window) {
    return window.screen()
        ->grabWindow(window.winId())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

// Pixels of `widget` on screen that differ from what it draws now.
int stalePixels(const QImage& screen, QWidget& widget, QWidget& window) {
    const QImage drawn = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QPoint at = widget.mapTo(&window, QPoint(0, 0));
    int differing = 0;
    for (int y = 0; y < drawn.height(); ++y) {
        for (int x = 0; x < drawn.width(); ++x) {
            if (screen.pixel(at.x() + x, at.y() + y) != drawn.pixel(x, y)) {
                ++differing;
            }
        }
    }
    return differing;
}

// Collects what Qt says about GL surfaces it cannot use: the sign of raster
// child windows beside the browser's GL-composed window.
QStringList g_surfaceComplaints;
QtMessageHandler g_previousHandler = nullptr;

void noteSurfaceComplaints(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.contains(QLatin1String("non-opengl surface")) ||
        text.contains(QLatin1String("Failed to make context current"))) {
        g_surfaceComplaints.append(text);
    }
    if (g_previousHandler != nullptr) {
        g_previousHandler(type, context, text);
    }
}

bool isNativeChild(const QWidget* widget) {
    return widget->internalWinId() != 0;
}

class PaintTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_surfaceComplaints.clear();
        g_previousHandler = qInstallMessageHandler(noteSurfaceComplaints);
        ASSERT_TRUE(sim_.started()) << sim_.error();
        QFile settings(test_.filePath(QStringLiteral("set.ini")));
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        settings.write("[set]\ntime=600\n"); // the run sits in its pause after the first item
        settings.close();
        auto loaded = MainWindow::load(test_.state);
        ASSERT_TRUE(loaded) << loaded.error().message;
        window_ = std::move(loaded.value());
        window_->onCreated();
        installSecondaryWindows(*window_, test_.state.recordStore, test_.state.dataDir);
        QSignalSpy settled(window_->browserView()->page(), &QWebEnginePage::loadFinished);
        window_->show();
        ASSERT_TRUE(waitFor([&] { return !settled.isEmpty(); }));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    }

    void TearDown() override {
        window_.reset();
        qInstallMessageHandler(g_previousHandler);
    }

    // Opens the secondary window of `button` from the toolbar and closes it
    // once it is on screen.
    void openAndClose(int button) {
        bool seen = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            for (QWidget* top : QApplication::topLevelWidgets()) {
                if (top == window_.get() || !top->isVisible() || top->inherits("QMenu") ||
                    qobject_cast<QMessageBox*>(top) != nullptr || top->inherits("PopupWindow")) {
                    continue;
                }
                if (top->windowHandle() == nullptr || !top->windowHandle()->isExposed()) {
                    return;
                }
                poll.stop();
                seen = true;
                QTimer::singleShot(300, top, [top] { top->close(); });
                return;
            }
        });
        poll.start(20);
        window_->onToolbarClick(button);
        ASSERT_TRUE(waitFor([&] { return seen; })) << button;
        // A window that is not modal returns at once: wait until it is gone.
        ASSERT_TRUE(waitFor([&] {
            for (QWidget* top : QApplication::topLevelWidgets()) {
                if (top != window_.get() && top->isVisible() && !top->inherits("PopupWindow")) {
                    return false;
                }
            }
            return true;
        })) << button;
        QTest::qWait(400); // what the server shows has settled
    }

    void expectPainted(const char* after) {
        const QImage screen = onScreen(*window_);
        ASSERT_FALSE(screen.isNull());
        EXPECT_EQ(stalePixels(screen, *window_->toolbar(), *window_), 0) << "toolbar, " << after;
        EXPECT_EQ(stalePixels(screen, *window_->statusBar(), *window_), 0)
            << "status bar, " << after;
        // The toolbar's pixels hold the bar's; it shows the run: its filled
        // part is the skin's accent.
        QProgressBar* bar = window_->progressBar();
        const QPoint barAt = bar->mapTo(window_.get(), QPoint(0, 0));
        const QColor filled = screen.pixelColor(barAt.x() + 6, barAt.y() + bar->height() / 2);
        EXPECT_EQ(filled, QColor(0x2f, 0x6f, 0xdf)) << after;
    }

    SimProcess sim_;
    TestState test_{QUrl(QString::fromStdString(sim_.origin()))};
    std::unique_ptr<MainWindow> window_;
    BoxAnswerer boxes_;
};

} // namespace

TEST_F(PaintTest, MainWindowKeepsPaintingAfterEachSecondaryWindowDuringARun) {
    ASSERT_TRUE(logInOnPage(*window_, kPatienceMs));
    ASSERT_TRUE(openFolder(*window_, QStringLiteral("/我的文档"), kPatienceMs));
    ASSERT_EQ(
        tickItems(*window_, {QStringLiteral("报告 2021.docx"), QStringLiteral("it's mine.txt")}),
        2);
    window_->toolbarButton(kShareButton)->click();
    ASSERT_TRUE(waitFor([&] { return window_->progressBar()->value() == 1; }));
    QTest::qWait(400);
    expectPainted("before any other window");

    const std::pair<int, const char*> windows[] = {{kManageButton, "after 管理"},
                                                   {kSettingsButton, "after 设置"},
                                                   {kHelpButton, "after 帮助"},
                                                   {kAboutButton, "after 关于"}};
    for (const auto& [button, after] : windows) {
        openAndClose(button);
        EXPECT_TRUE(window_->shareRunning()) << after;
        expectPainted(after);
    }

    window_->hide();
    QTest::qWait(200);
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    QTest::qWait(400);
    expectPainted("after hiding and showing the window");

    // Nothing beside the browser became a native window of its own.
    EXPECT_FALSE(isNativeChild(window_->toolbar()));
    EXPECT_FALSE(isNativeChild(window_->statusBar()));
    EXPECT_FALSE(isNativeChild(window_->centralWidget()));
    EXPECT_TRUE(g_surfaceComplaints.isEmpty()) << g_surfaceComplaints.join('\n').toStdString();
    window_->toolbarButton(kStopButton)->click();
}
