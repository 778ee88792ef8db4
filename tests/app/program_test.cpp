#include "app/main_window.h"
#include "app/program_start.h"
#include "app/program_state.h"
#include "test_support.h"
#include "ui/ui_wait.h"

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
    EXPECT_FALSE(options->help);

    const auto none = parseAppOptions({QStringLiteral("vantorel")});
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->dataDir.has_value());
    EXPECT_FALSE(none->origin.has_value());
    EXPECT_FALSE(none->caFile.has_value());
}

TEST(AppOptions, RejectsWhatItCannotUse) {
    for (const QStringList& arguments :
         {QStringList{QStringLiteral("vantorel"), QStringLiteral("--origin"),
                      QStringLiteral("pan.baidu.com")},
          QStringList{QStringLiteral("vantorel"), QStringLiteral("--origin"),
                      QStringLiteral("https://pan.baidu.com/disk/home")},
          QStringList{QStringLiteral("vantorel"), QStringLiteral("--bogus")},
          QStringList{QStringLiteral("vantorel"), QStringLiteral("stray")},
          QStringList{QStringLiteral("vantorel"), QStringLiteral("--data-dir")}}) {
        const auto options = parseAppOptions(arguments);
        ASSERT_FALSE(options) << arguments.join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(options.error().code, 2);
        EXPECT_FALSE(options.error().message.empty());
    }
}

TEST(AppOptions, HelpListsTheOptions) {
    const QString help = appOptionsHelp();
    EXPECT_TRUE(help.contains(QStringLiteral("--data-dir")));
    EXPECT_TRUE(help.contains(QStringLiteral("--origin")));
    EXPECT_TRUE(help.contains(QStringLiteral("--ca-file")));
    const auto options = parseAppOptions({QStringLiteral("vantorel"), QStringLiteral("--help")});
    ASSERT_TRUE(options);
    EXPECT_TRUE(options->help);
}

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
    EXPECT_TRUE(waitPumping(1, vantorel::WaitUnit::Minutes));
}

TEST(WaitPumping, StepsPerUnit) {
    using vantorel::millisecondsPerStep;
    using vantorel::WaitUnit;
    EXPECT_EQ(millisecondsPerStep(WaitUnit::Milliseconds), 1);
    EXPECT_EQ(millisecondsPerStep(WaitUnit::Seconds), 1000);
    EXPECT_EQ(millisecondsPerStep(WaitUnit::Minutes), 60'000);
    EXPECT_EQ(millisecondsPerStep(WaitUnit::Hours), 3'600'000);
    EXPECT_EQ(millisecondsPerStep(static_cast<WaitUnit>(250)), 250);
}

TEST(ProgramStart, WindowThatCannotLoadEndsWithMinusOne) {
    // A file where the data directory should be: nothing can be made in it.
    const QString blocked = scratchDirectory() + QStringLiteral("/blocked");
    QFile file(blocked);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    ProgramState state;
    state.dataDir = blocked;
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
    bool ledgerOpen = false;
    QString dbPathWhileRunning;
    StartHooks hooks;
    hooks.onShown = [&](MainWindow& window, ProgramState& state) {
        dbPathWhileRunning = state.dbPath;
        ledgerOpen = state.recordStore.isOpen();
        sawWindow = window.isVisible();
        (void)state.recordStore.findByFid("1"); // a query before the end
        window.close();
    };
    EXPECT_EQ(programStart(test.state, hooks), 0);
    EXPECT_TRUE(sawWindow);
    EXPECT_EQ(dbPathWhileRunning, expectedDbPath);
    EXPECT_TRUE(ledgerOpen);
    EXPECT_TRUE(QFile::exists(expectedDbPath)) << "the first start creates the ledger";
    // The exit routine has run: the program-wide values are released and the
    // ledger closed.
    EXPECT_FALSE(test.state.recordStore.isOpen());
    EXPECT_TRUE(test.state.dbPath.isEmpty());
    EXPECT_TRUE(test.state.dataDir.isEmpty());
}
