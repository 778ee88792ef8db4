// Every window is laid out, not placed at fixed rectangles: at its minimum
// size and as it opens on the screen, every control lies inside the window
// and gets at least the room it asks for (no clipped caption, no cut-off
// line of a wrapped note), and the window fits its screen. The same checks
// run again in child processes on a 1024 x 600 screen and at scale factors
// 1.5 and 2 (on screens of 1024 x 600 logical pixels).

#include "app/main_window.h"
#include "app/skin.h"
#include "named_case.h"
#include "records/record_store.h"
#include "run_process.h"
#include "settings/settings_window.h"
#include "test_support.h"
#include "ui/about_window.h"
#include "ui/help_window.h"
#include "ui/records_window.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <gtest/gtest.h>
#include <memory>

using namespace vantorel;
using namespace vantorel::gui;
using namespace vantorel::gui::test;
using vantorel::test::CaseName;

namespace {

struct Holder {
    std::unique_ptr<TestState> state;
    RecordStore store;
    std::unique_ptr<QWidget> window;
};

struct WindowCase {
    const char* name;
    std::function<void(Holder&)> make;
};

void PrintTo(const WindowCase& c, std::ostream* os) {
    *os << c.name;
}

void makeSettings(Holder& h) {
    h.window = std::make_unique<SettingsWindow>(scratchDirectory());
}

void makeRecords(Holder& h) {
    ASSERT_TRUE(h.store.openOrCreate(
        (scratchDirectory() + QStringLiteral("/linkledger.db")).toStdString()));
    ShareRecord r;
    r.isdir = "0";
    r.beforename = "一个名字很长很长的文件 2021 年度报告 最终版.docx";
    r.path = "/我的文档/" + r.beforename;
    r.sharelink = "http://127.0.0.1:8080/s/1abcdefghijklmnopqrstu";
    r.password = "ab12";
    r.sharetime = "2024-05-20 09:12:03";
    r.username = "测试账号_小明";
    ASSERT_TRUE(h.store.insertRecord(r));
    h.window = std::make_unique<RecordsWindow>(h.store);
}

void makeHelp(Holder& h) {
    h.window = std::make_unique<HelpWindow>();
}

void makeAbout(Holder& h) {
    h.window = std::make_unique<AboutWindow>();
}

void makeMain(Holder& h) {
    h.state = std::make_unique<TestState>(deadOrigin());
    auto loaded = MainWindow::load(h.state->state);
    ASSERT_TRUE(loaded) << loaded.error().message;
    h.window = std::move(loaded.value());
}

// Widgets of the window's own making: named, and not the insides of a Qt
// control (a combo box's list, a table's scroll bars, ...).
QList<QWidget*> controlsOf(QWidget& window) {
    QList<QWidget*> controls;
    for (QWidget* child : window.findChildren<QWidget*>()) {
        if (child->isWindow() || child->objectName().isEmpty() ||
            child->objectName().startsWith(QLatin1String("qt_")) || !child->isVisibleTo(&window)) {
            continue;
        }
        bool insideControl = false;
        for (QWidget* up = child->parentWidget(); up != nullptr && up != &window;
             up = up->parentWidget()) {
            insideControl = insideControl || up->inherits("QAbstractSpinBox") ||
                            up->inherits("QComboBox") || up->inherits("QAbstractItemView") ||
                            up->inherits("QWebEngineView");
        }
        if (!insideControl) {
            controls.append(child);
        }
    }
    return controls;
}

// Everything the user should see of the window is there.
void expectEveryControlInside(QWidget& window, const char* when) {
    QCoreApplication::processEvents();
    const QRect inside = window.rect();
    const QList<QWidget*> controls = controlsOf(window);
    EXPECT_FALSE(controls.isEmpty()) << when;
    for (QWidget* control : controls) {
        const std::string name = control->objectName().toStdString() + " " + when;
        const QRect at(control->mapTo(&window, QPoint(0, 0)), control->size());
        const auto* scroll = qobject_cast<QScrollArea*>(
            control->parentWidget() != nullptr ? control->parentWidget()->parentWidget() : nullptr);
        if (scroll != nullptr) {
            // Scrolled text: as wide as the view, as high as its text.
            EXPECT_LE(control->width(), scroll->viewport()->width()) << name;
        } else {
            EXPECT_TRUE(inside.contains(at)) << name << ": " << testing::PrintToString(at) << " in "
                                             << testing::PrintToString(inside);
        }
        const QSize least = control->minimumSizeHint();
        const auto* label = qobject_cast<QLabel*>(control);
        const bool sizedByToolbar = control->parentWidget()->inherits("QToolBar");
        if (label != nullptr && label->hasScaledContents()) {
            continue; // a picture scaled to whatever room it has
        }
        if (control->hasHeightForWidth()) {
            // Wrapped text, or a group holding some: the lines it needs at
            // the width it has.
            EXPECT_LE(control->heightForWidth(control->width()), control->height()) << name;
            EXPECT_GE(control->width(), least.width()) << name;
        } else if (least.isValid() && !control->inherits("QAbstractScrollArea") &&
                   !control->inherits("QToolBar") && !sizedByToolbar) {
            EXPECT_GE(control->width(), least.width()) << name;
            EXPECT_GE(control->height(), least.height()) << name;
        }
    }
    if (auto* main = qobject_cast<MainWindow*>(&window)) {
        // Every button of the toolbar and the bar itself, none behind the
        // toolbar's overflow arrow.
        const QRect bar(main->toolbar()->mapTo(main, QPoint(0, 0)), main->toolbar()->size());
        for (int i = 0; i < kToolbarButtonCount; ++i) {
            QToolButton* button = main->toolbarButton(i);
            EXPECT_TRUE(button->isVisible()) << i << " " << when;
            EXPECT_TRUE(bar.contains(QRect(button->mapTo(main, QPoint(0, 0)), button->size())))
                << i << " " << when;
        }
        const QRect progress(main->progressBar()->mapTo(main, QPoint(0, 0)),
                             main->progressBar()->size());
        EXPECT_TRUE(bar.contains(progress)) << when;
        const QRect last(main->toolbarButton(kAboutButton)->mapTo(main, QPoint(0, 0)),
                         main->toolbarButton(kAboutButton)->size());
        EXPECT_GT(progress.left(), last.right()) << "the bar is right of the buttons " << when;
    }
}

class WindowLayout : public ::testing::TestWithParam<WindowCase> {
protected:
    void SetUp() override {
        // As the program draws them: the skin's margins and paddings count.
        applySkin(storedSkinData(), 0, 0);
        GetParam().make(holder_);
        ASSERT_NE(holder_.window, nullptr);
    }
    QWidget& window() { return *holder_.window; }
    Holder holder_;
};

TEST_P(WindowLayout, EveryControlInsideAtMinimumSize) {
    window().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
    EXPECT_NE(window().minimumSize(), window().maximumSize()) << "resizable";
    window().resize(window().minimumSize());
    ASSERT_TRUE(waitFor([&] { return window().size() == window().minimumSize(); }));
    expectEveryControlInside(window(), "at the minimum size");
    // The minimum fits a screen of 1024 x 600 (less a title bar and a panel).
    EXPECT_LE(window().minimumWidth(), 1000);
    EXPECT_LE(window().minimumHeight(), 540);
}

TEST_P(WindowLayout, EveryControlInsideAsOpenedOnTheScreen) {
    window().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
    const QRect screen = window().screen()->availableGeometry();
    EXPECT_TRUE(screen.contains(window().frameGeometry()))
        << testing::PrintToString(window().frameGeometry()) << " on "
        << testing::PrintToString(screen);
    expectEveryControlInside(window(), "as opened");
    // Larger, the extra room goes to the grid or the text, and still every
    // control is inside.
    window().resize(window().size() + QSize(200, 150));
    QCoreApplication::processEvents();
    expectEveryControlInside(window(), "enlarged");
}

INSTANTIATE_TEST_SUITE_P(Windows, WindowLayout,
                         ::testing::Values(WindowCase{"Settings", makeSettings},
                                           WindowCase{"Records", makeRecords},
                                           WindowCase{"Help", makeHelp},
                                           WindowCase{"About", makeAbout},
                                           WindowCase{"Main", makeMain}),
                         CaseName{});

struct ScreenCase {
    const char* name;
    QSize devicePixels;
    const char* scaleFactor; // empty: none
};

void PrintTo(const ScreenCase& c, std::ostream* os) {
    *os << c.name;
}

class OtherScreens : public ::testing::TestWithParam<ScreenCase> {};

// The layout checks above, in a child process of this test program on
// another screen.
TEST_P(OtherScreens, WindowLayoutHoldsAtMinimumSizeAndAsOpened) {
    const ScreenCase& c = GetParam();
    vantorel::test::ProcessOptions options;
    options.setEnv = {{"QT_QPA_PLATFORM", offscreenPlatform(c.devicePixels).toStdString()}};
    if (*c.scaleFactor != '\0') {
        options.setEnv.emplace_back("QT_SCALE_FACTOR", c.scaleFactor);
    } else {
        options.unsetEnv = {"QT_SCALE_FACTOR"};
    }
    const vantorel::test::ProcessResult r = vantorel::test::runProcess(
        QCoreApplication::applicationFilePath().toStdString(),
        {"--gtest_filter=Windows/WindowLayout.*"}, options, std::chrono::minutes(4));
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("[  PASSED  ] 10 tests"), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Layout, OtherScreens,
                         ::testing::Values(ScreenCase{"Screen1024x600", QSize(1024, 600), ""},
                                           ScreenCase{"ScaleFactor1_5", QSize(1536, 900), "1.5"},
                                           ScreenCase{"ScaleFactor2", QSize(2048, 1200), "2"}),
                         CaseName{});

} // namespace
