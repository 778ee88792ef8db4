#include "app/main_window.h"
#include "app/program_start.h"
#include "app/program_state.h"
#include "app/ui_wait.h"
#include "test_support.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <gtest/gtest.h>

using namespace vantorel::gui;
using namespace vantorel::gui::test;

TEST(AppOptions, KeepsDataDirOriginAndCaFile) {
    const auto options = parseAppOptions({QStringLiteral("vantorel"), QStringLiteral("--data-dir"),
                                          QStringLiteral("some/dir"), QStringLiteral("--origin"),
                                          QStringLiteral("http://127.0.0.1:8080"),
                                          QStringLiteral("--ca-file"), QStringLiteral("ca.pem")});
    ASSERT_TRUE(options) << options.error().message;
    EXPECT_EQ(options->dataDir, QStringLiteral("some/dir"));
    EXPECT_EQ(options->origin, QStringLiteral("http://127.0.0.1:8080"));
    EXPECT_EQ(options->caFile, QStringLiteral("ca.pem"));
    EXPECT_TRUE(options->screenshotFile.isEmpty());
    EXPECT_FALSE(options->help);
}

TEST(AppOptions, RejectsWhatItCannotUse) {
    for (const QStringList& arguments :
         {QStringList{QStringLiteral("vantorel"), QStringLiteral("--origin"),
                      QStringLiteral("pan.baidu.com")},
          QStringList{QStringLiteral("vantorel"), QStringLiteral("--bogus")},
          QStringList{QStringLiteral("vantorel"), QStringLiteral("stray")},
          QStringList{QStringLiteral("vantorel"), QStringLiteral("--data-dir")}}) {
        const auto options = parseAppOptions(arguments);
        ASSERT_FALSE(options) << arguments.join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(options.error().code, 2);
        EXPECT_FALSE(options.error().message.empty());
    }
}

TEST(AppOptions, HelpListsTheOptionsButNotTheScreenshot) {
    const QString help = appOptionsHelp();
    EXPECT_TRUE(help.contains(QStringLiteral("--data-dir")));
    EXPECT_TRUE(help.contains(QStringLiteral("--origin")));
    EXPECT_TRUE(help.contains(QStringLiteral("--ca-file")));
    EXPECT_FALSE(help.contains(QStringLiteral("--screenshot")));
    const auto options = parseAppOptions({QStringLiteral("vantorel"), QStringLiteral("--help")});
    ASSERT_TRUE(options);
    EXPECT_TRUE(options->help);
}

struct OriginCase {
    const char* name;
    const char* text;
    const char* expected; // nullptr: rejected
};

void PrintTo(const OriginCase& c, std::ostream* os) {
    *os << c.name;
}

class ServiceOrigin : public ::testing::TestWithParam<OriginCase> {};

TEST_P(ServiceOrigin, IsSchemeHostAndPortOnly) {
    const OriginCase& c = GetParam();
    const auto origin = parseServiceOrigin(QString::fromUtf8(c.text));
    if (c.expected == nullptr) {
        EXPECT_FALSE(origin) << origin->toString().toStdString();
    } else {
        ASSERT_TRUE(origin) << origin.error().message;
        EXPECT_EQ(origin->toString().toStdString(), c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ServiceOrigin,
    ::testing::Values(OriginCase{"Https", "https://pan.baidu.com", "https://pan.baidu.com"},
                      OriginCase{"TrailingSlash", "http://127.0.0.1:8080/",
                                 "http://127.0.0.1:8080"},
                      OriginCase{"UpperCaseScheme", "HTTP://127.0.0.1:9", "http://127.0.0.1:9"},
                      OriginCase{"NoScheme", "pan.baidu.com", nullptr},
                      OriginCase{"OtherScheme", "ftp://pan.baidu.com", nullptr},
                      OriginCase{"WithPath", "https://pan.baidu.com/disk/home", nullptr},
                      OriginCase{"WithQuery", "https://pan.baidu.com/?a=1", nullptr},
                      OriginCase{"WithUser", "https://u@pan.baidu.com", nullptr},
                      OriginCase{"Empty", "", nullptr}),
    [](const ::testing::TestParamInfo<OriginCase>& param) {
        return std::string(param.param.name);
    });

TEST(WaitPumping, ZeroOrNegativeTimeReturnsWithoutRunningEvents) {
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    EXPECT_TRUE(waitPumping(0));
    EXPECT_TRUE(waitPumping(-250));
    EXPECT_FALSE(ran);
    QCoreApplication::processEvents();
    EXPECT_TRUE(ran);
}

TEST(WaitPumping, HandlesEventsWhileItWaitsAndOutlastsThem) {
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(waitPumping(60));
    // The 0 ms event ran inside the wait, and the wait still took its time.
    EXPECT_TRUE(ran);
    EXPECT_GE(clock.elapsed(), 50);
}

TEST(WaitPumping, EndsEarlyWhenTheApplicationExits) {
    // A minute, unless the exit ends it (the test's time-out guards a hang).
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    EXPECT_TRUE(waitPumping(1, 2));
}

TEST(WaitPumping, StepsPerUnit) {
    EXPECT_EQ(millisecondsPerStep(0), 1);
    EXPECT_EQ(millisecondsPerStep(1), 1000);
    EXPECT_EQ(millisecondsPerStep(2), 60'000);
    EXPECT_EQ(millisecondsPerStep(3), 3'600'000);
    EXPECT_EQ(millisecondsPerStep(250), 250);
}

TEST(ProgramStart, WindowThatCannotLoadEndsWithMinusOne) {
    // A file where the data directory should be: nothing can be made in it.
    const QString blocked = scratchDirectory() + QStringLiteral("/blocked");
    QFile file(blocked);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    ProgramState state;
    state.dataDir = blocked;
    state.origin = QUrl(QStringLiteral("http://127.0.0.1:9"));
    QString shownText;
    QString shownDetails;
    StartHooks hooks;
    hooks.reportLoadFailure = [&](const QString& text, const QString& details) {
        shownText = text;
        shownDetails = details;
    };
    EXPECT_EQ(programStart(state, hooks), -1);
    EXPECT_EQ(shownText, QStringLiteral("载入启动窗口失败"));
    EXPECT_TRUE(shownDetails.contains(QStringLiteral("blocked"))) << shownDetails.toStdString();
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
}

TEST(ProgramStart, ClosingTheMainWindowEndsWithZero) {
    LocalServer server([](httplib::Server& s) { servePage(s, "/", "<p>home</p>"); });
    TestState test(server.origin());
    const QString expectedDbPath = test.filePath(QStringLiteral("linkledger.db"));
    bool sawWindow = false;
    QString dbPathWhileRunning;
    QTimer::singleShot(0, [&] {
        dbPathWhileRunning = test.state.dbPath;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* window = qobject_cast<MainWindow*>(widget)) {
                sawWindow = window->isVisible();
                window->close();
            }
        }
    });
    EXPECT_EQ(programStart(test.state), 0);
    EXPECT_TRUE(sawWindow);
    EXPECT_EQ(dbPathWhileRunning, expectedDbPath);
    // The exit routine has run: the program-wide values are released.
    EXPECT_TRUE(test.state.dbPath.isEmpty());
    EXPECT_TRUE(test.state.dataDir.isEmpty());
}
