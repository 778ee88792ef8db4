// The desktop app end to end against the simulated service: logged in on the
// service's own page in the embedded browser, a folder opened and items ticked
// there, the toolbar pressed, the message boxes answered, and the ledger and
// the toolbar read back.

#include "app/browser_view.h"
#include "app/main_window.h"
#include "app/program_state.h"
#include "app/secondary_windows.h"
#include "named_case.h"
#include "records/record_store.h"
#include "run_process.h"
#include "share_flow_fixture.h"
#include "sim_client.h"
#include "sim_process.h"
#include "sim_request_log.h"
#include "sim_state.h"
#include "sim_tree_json.h"
#include "sim_window.h"
#include "test_support.h"
#include "ui/records_window.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <set>

using namespace vantorel::gui;
using namespace vantorel::gui::test;
using vantorel::ShareRecord;
using vantorel::test::SimProcess;
using vantorel::test::TempDir;

namespace {

bool isCode(const std::string& code) {
    return code.size() == 4 &&
           std::all_of(code.begin(), code.end(), [](char c) { return std::isalnum(c) != 0; });
}

} // namespace

TEST_F(ShareFlowTest, TickedItemsAreSharedRecordedAndTheToolbarFollowsTheRun) {
    start();
    prepareShare(QStringLiteral("/我的文档"),
                 {QStringLiteral("报告 2021.docx"), QStringLiteral("it's mine.txt")});
    const std::set<std::string> ids = {fsIdOf(QStringLiteral("报告 2021.docx")),
                                       fsIdOf(QStringLiteral("it's mine.txt"))};
    ASSERT_EQ(ids.size(), 2U);
    ASSERT_EQ(toolbar(), (Toolbar{true, false, 0, 100})) << "idle";

    Toolbar atMessage;
    boxes_.setOnShown([&](QMessageBox&) { atMessage = toolbar(); });
    pressShare();
    EXPECT_EQ(toolbar().share, false) << "after a share click";
    EXPECT_EQ(toolbar().stop, true) << "after a share click";

    ASSERT_TRUE(boxes_.waitForBoxes(1, kPatienceMs));
    EXPECT_EQ(boxes_.seen()[0].text, QStringLiteral("分享完成!"));
    EXPECT_EQ(boxes_.seen()[0].title, QStringLiteral("信息："));
    EXPECT_EQ(boxes_.seen()[0].icon, QMessageBox::Information);
    EXPECT_EQ(atMessage, (Toolbar{false, true, 2, 2})) << "the run set maximum and position";
    waitForRunEnd();
    EXPECT_EQ(toolbar(), (Toolbar{true, false, 0, 2})) << "run completed";
    EXPECT_TRUE(window().runStatusLabel()->text().contains(QStringLiteral("已分享 2")));

    const std::vector<ShareRecord> rows = records();
    ASSERT_EQ(rows.size(), 2U);
    std::set<std::string> recordedIds;
    for (const ShareRecord& row : rows) {
        recordedIds.insert(row.fid);
        EXPECT_EQ(row.isdir, "0");
        EXPECT_EQ(row.path, "/我的文档/" + row.beforename);
        EXPECT_EQ(row.aftername, "");
        EXPECT_EQ(row.sharelink.rfind(linkPrefix(), 0), 0U) << row.sharelink;
        EXPECT_TRUE(isCode(row.password)) << row.password;
        EXPECT_FALSE(row.sharetime.empty());
        EXPECT_FALSE(row.md5.empty());
        EXPECT_EQ(row.username, SimProcess::kUser);
    }
    EXPECT_EQ(recordedIds, ids);
    EXPECT_TRUE(boxes_.seen().size() == 1) << "no other message";
}

TEST_F(ShareFlowTest, NothingTickedSharesTheOpenFolder) {
    start();
    prepareShare(QStringLiteral("/A"), {});
    Toolbar atMessage;
    boxes_.setOnShown([&](QMessageBox&) { atMessage = toolbar(); });
    pressShare();
    ASSERT_TRUE(boxes_.waitForBoxes(1, kPatienceMs));
    EXPECT_EQ(boxes_.seen()[0].text, QStringLiteral("分享完成!"));
    EXPECT_EQ(atMessage, (Toolbar{false, true, 3, 3}));
    waitForRunEnd();
    EXPECT_EQ(toolbar(), (Toolbar{true, false, 0, 3}));

    // Share type 1: the folder's files, then its folders, not what they hold.
    const std::vector<ShareRecord> rows = records();
    ASSERT_EQ(rows.size(), 3U);
    EXPECT_EQ(rows[0].beforename, "a1.txt");
    EXPECT_EQ(rows[0].isdir, "0");
    EXPECT_EQ(rows[1].beforename, "B");
    EXPECT_EQ(rows[1].isdir, "1");
    EXPECT_EQ(rows[2].beforename, "C");
    EXPECT_EQ(rows[2].isdir, "1");
    for (const ShareRecord& row : rows) {
        EXPECT_EQ(row.path, "/A/" + row.beforename);
        EXPECT_EQ(row.sharelink.rfind(linkPrefix(), 0), 0U) << row.sharelink;
    }

    // Again: everything is recorded, so nothing is shared twice.
    pressShare();
    ASSERT_TRUE(boxes_.waitForBoxes(2, kPatienceMs));
    waitForRunEnd();
    EXPECT_EQ(records().size(), 3U);
    EXPECT_TRUE(window().runStatusLabel()->text().contains(QStringLiteral("跳过 3")));
}

TEST_F(ShareFlowTest, DailyLimitEndsTheRunAndTheButtonsStayUntilStop) {
    start({}, "time=1\nShareNumber=1\n");
    prepareShare(QStringLiteral("/我的文档"),
                 {QStringLiteral("报告 2021.docx"), QStringLiteral("it's mine.txt")});
    Toolbar atMessage;
    boxes_.setOnShown([&](QMessageBox&) { atMessage = toolbar(); });
    pressShare();
    ASSERT_TRUE(boxes_.waitForBoxes(1, kPatienceMs));
    EXPECT_EQ(boxes_.seen()[0].text, QStringLiteral("今日分享数量完成!"));
    EXPECT_EQ(boxes_.seen()[0].icon, QMessageBox::NoIcon);
    waitForRunEnd();
    EXPECT_EQ(toolbar(), atMessage) << "the daily limit leaves toolbar and progress as they are";
    EXPECT_EQ(toolbar().share, false);
    EXPECT_EQ(toolbar().stop, true);
    EXPECT_EQ(records().size(), 1U);

    pressStop();
    EXPECT_EQ(toolbar(), (Toolbar{true, false, atMessage.position, atMessage.maximum}))
        << "after a stop click";
    EXPECT_EQ(boxes_.seen().size(), 1U);
}

TEST_F(ShareFlowTest, StopDuringTheRunEndsItAtOnce) {
    start({}, "time=600\n"); // the run sits in its pause after the first item
    prepareShare(QStringLiteral("/我的文档"),
                 {QStringLiteral("报告 2021.docx"), QStringLiteral("it's mine.txt")});
    pressShare();
    ASSERT_TRUE(waitFor([&] { return records().size() == 1; }));
    ASSERT_TRUE(waitFor([&] { return window().progressBar()->value() == 1; }));
    pressStop();
    EXPECT_FALSE(window().shareRunning()) << "the worker is joined";
    EXPECT_EQ(toolbar(), (Toolbar{true, false, 1, 2})) << "a stop keeps the position";
    EXPECT_EQ(records().size(), 1U);
    EXPECT_TRUE(boxes_.seen().empty()) << "a stopped run says nothing";
    EXPECT_TRUE(window().runStatusLabel()->text().contains(QStringLiteral("已停止")))
        << window().runStatusLabel()->text().toStdString();
}

TEST_F(ShareFlowTest, StopAbandonsAShareRequestInFlight) {
    TempDir logDir;
    const std::string log = logDir.file("requests.jsonl");
    start({"--delay", "share=120000", "--log", log});
    prepareShare(QStringLiteral("/A"), {QStringLiteral("a1.txt")});
    pressShare();
    ASSERT_TRUE(waitFor(
        [&] { return vantorel::test::readFile(log).find("/share/set") != std::string::npos; }));
    QElapsedTimer clock;
    clock.start();
    pressStop();
    EXPECT_LT(clock.elapsed(), 60'000) << "the stop did not wait for the reply";
    EXPECT_FALSE(window().shareRunning());
    EXPECT_TRUE(records().empty()) << "an abandoned request leaves no row";
    EXPECT_EQ(toolbar().share, true);
}

TEST_F(ShareFlowTest, WindowAnswersWhileTheLoginIsGatheredAndStopAbandonsIt) {
    TempDir logDir;
    const std::string log = logDir.file("requests.jsonl");
    start({"--log", log});
    prepareShare(QStringLiteral("/A"), {QStringLiteral("a1.txt")});
    // From now on the home page answers only after ten minutes.
    auto client = vantorel::test::makeSimClient(*sim_);
    auto added = client->Post(
        "/__sim/fault", R"({"endpoint":"home","kind":"delay","value":600000})", "application/json");
    ASSERT_TRUE(added && added->status == 200);
    const auto homeRequests = [&] {
        const std::string text = vantorel::test::readFile(log);
        std::size_t count = 0;
        for (std::size_t at = text.find("/disk/home"); at != std::string::npos;
             at = text.find("/disk/home", at + 1)) {
            ++count;
        }
        return count;
    };
    const std::size_t before = homeRequests();

    // The click returns only once the command is over; meanwhile the window
    // keeps handling events, among them the stop.
    bool stoppedWhileGathering = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (homeRequests() > before) {
            watcher.stop();
            stoppedWhileGathering = true;
            pressStop();
        }
    });
    watcher.start(20);
    QElapsedTimer clock;
    clock.start();
    pressShare();
    EXPECT_TRUE(stoppedWhileGathering);
    EXPECT_LT(clock.elapsed(), 300'000) << "the request was abandoned";
    EXPECT_FALSE(window().shareRunning()) << "a stop during the gather calls the run off";
    EXPECT_EQ(toolbar(), (Toolbar{true, false, 0, 100}));
    EXPECT_TRUE(boxes_.seen().empty());
}

TEST_F(ShareFlowTest, ClosingWhileTheRunWaitsOnAMessageTakesTheBoxDown) {
    start({}, "time=1\nShareNumber=1\n");
    prepareShare(QStringLiteral("/A"), {QStringLiteral("a1.txt")});
    QSignalSpy ending(&window(), &MainWindow::programEnding);
    bool takenDown = false;
    boxes_.setOnShown([&](QMessageBox& box) {
        window().close(); // as the window manager would
        takenDown = waitFor([&] { return !box.isVisible(); });
    });
    pressShare();
    ASSERT_TRUE(boxes_.waitForBoxes(1, kPatienceMs));
    EXPECT_EQ(boxes_.seen()[0].text, QStringLiteral("今日分享数量完成!"));
    EXPECT_TRUE(takenDown);
    EXPECT_EQ(ending.count(), 1);
    EXPECT_FALSE(window().shareRunning());
    EXPECT_EQ(records().size(), 1U);
    pressShare();
    EXPECT_FALSE(window().shareRunning()) << "no command runs once the window is closing";
}

TEST_F(ShareFlowTest, ClosingDuringTheRunStopsItBeforeTheWindowGoes) {
    start({}, "time=600\n");
    prepareShare(QStringLiteral("/我的文档"),
                 {QStringLiteral("报告 2021.docx"), QStringLiteral("it's mine.txt")});
    QSignalSpy ending(&window(), &MainWindow::programEnding);
    pressShare();
    ASSERT_TRUE(waitFor([&] { return records().size() == 1; }));
    window().close();
    EXPECT_EQ(ending.count(), 1);
    EXPECT_FALSE(window().shareRunning());
    EXPECT_EQ(records().size(), 1U);
    EXPECT_TRUE(boxes_.seen().empty());
}

TEST_F(ShareFlowTest, NotLoggedInTheShareRefusesAndRestoresTheButtons) {
    start();
    pressShare();
    ASSERT_TRUE(boxes_.waitForBoxes(1, kPatienceMs));
    EXPECT_EQ(boxes_.seen()[0].text, QStringLiteral("未获取到登录信息,请先在浏览器中登录百度网盘"));
    EXPECT_EQ(toolbar(), (Toolbar{true, false, 0, 100}));
    EXPECT_FALSE(window().shareRunning());
    EXPECT_TRUE(records().empty());
}

TEST_F(ShareFlowTest, LedgerThatCannotBeOpenedIsReportedAndTheShareRefuses) {
    QString dbPath;
    start({}, "time=1\n", [&](TestState& test) {
        dbPath = test.filePath(QStringLiteral("linkledger.db"));
        ASSERT_TRUE(QDir().mkpath(dbPath)); // a directory where the file should be
    });
    ASSERT_TRUE(boxes_.waitForBoxes(1, kPatienceMs)); // shown by the created handler
    const QString atStart = boxes_.seen()[0].text;
    EXPECT_TRUE(atStart.startsWith(QStringLiteral("无法打开分享记录数据库:")))
        << atStart.toStdString();
    EXPECT_TRUE(atStart.contains(dbPath)) << atStart.toStdString();

    prepareShare(QStringLiteral("/A"), {QStringLiteral("a1.txt")});
    pressShare();
    ASSERT_TRUE(boxes_.waitForBoxes(2, kPatienceMs));
    const QString atShare = boxes_.seen()[1].text;
    EXPECT_TRUE(atShare.startsWith(QStringLiteral("无法打开分享记录数据库:")))
        << atShare.toStdString();
    EXPECT_TRUE(atShare.contains(dbPath)) << atShare.toStdString();
    EXPECT_EQ(toolbar(), (Toolbar{true, false, 0, 100}));
    EXPECT_FALSE(window().shareRunning());
}

std::size_t requestsTo(const std::string& log, const std::string& path) {
    const std::string text = vantorel::test::readFile(log);
    std::size_t count = 0;
    for (std::size_t at = text.find(path); at != std::string::npos; at = text.find(path, at + 1)) {
        ++count;
    }
    return count;
}

TEST_F(ShareFlowTest, ShareWithARejectedSettingsFileSaysSoAndSendsNoRequest) {
    TempDir logDir;
    const std::string log = logDir.file("requests.jsonl");
    start({"--log", log}, "time=1\npassword=ab12\n");
    prepareShare(QStringLiteral("/A"), {QStringLiteral("a1.txt")});
    pressShare();
    ASSERT_TRUE(boxes_.waitForBoxes(1, kPatienceMs));
    waitForRunEnd();
    ASSERT_EQ(records().size(), 1U);

    // The user saves a code the service would refuse (by hand: the window
    // refuses it): the next share says so and shares nothing, with neither
    // this code nor the previous one.
    writeSettings("time=1\npassword=abc12\n");
    ASSERT_TRUE(openFolder(window(), QStringLiteral("/我的文档"), kPatienceMs));
    ASSERT_EQ(tickItems(window(), {QStringLiteral("it's mine.txt")}), 1);
    QTest::qWait(300); // what the page itself asks for is in the log
    const std::size_t shares = requestsTo(log, "/share/set");
    const std::size_t homePages = requestsTo(log, "/disk/home");
    pressShare();
    ASSERT_TRUE(boxes_.waitForBoxes(2, kPatienceMs));
    EXPECT_EQ(boxes_.texts(), (std::vector<QString>{QStringLiteral("分享完成!"),
                                                    QStringLiteral("提取密码,不能大于4位")}));
    EXPECT_FALSE(window().shareRunning());
    EXPECT_EQ(toolbar().share, true);
    EXPECT_EQ(toolbar().stop, false);
    QTest::qWait(300); // nothing goes out afterwards either
    EXPECT_EQ(requestsTo(log, "/share/set"), shares);
    EXPECT_EQ(requestsTo(log, "/disk/home"), homePages) << "not even the login is asked for";
    EXPECT_EQ(records().size(), 1U);
    EXPECT_EQ(boxes_.seen().size(), 2U);

    // Short enough, but not four letters or digits: the service would
    // refuse it as well.
    writeSettings("time=1\npassword=ab\n");
    pressShare();
    ASSERT_TRUE(boxes_.waitForBoxes(3, kPatienceMs));
    EXPECT_EQ(boxes_.seen()[2].text, QStringLiteral("提取密码必须是4位数字和字母组合"));
    QTest::qWait(300);
    EXPECT_EQ(requestsTo(log, "/share/set"), shares);
    EXPECT_EQ(records().size(), 1U);
}

TEST_F(ShareFlowTest, UnreadableSettingsAreReportedAndNothingIsShared) {
    TempDir logDir;
    const std::string log = logDir.file("requests.jsonl");
    start({"--log", log}, "", [](TestState& test) {
        const QString file = test.filePath(QStringLiteral("set.ini"));
        ASSERT_TRUE(QFile::remove(file));
        ASSERT_TRUE(QDir().mkpath(file)); // cannot be read as a file
    });
    prepareShare(QStringLiteral("/A"), {QStringLiteral("a1.txt")});
    pressShare();
    ASSERT_TRUE(boxes_.waitForBoxes(1, kPatienceMs));
    EXPECT_TRUE(boxes_.seen()[0].text.startsWith(QStringLiteral("无法读取设置文件")))
        << boxes_.seen()[0].text.toStdString();
    QTest::qWait(300);
    EXPECT_FALSE(window().shareRunning());
    EXPECT_EQ(toolbar(), (Toolbar{true, false, 0, 100}));
    EXPECT_EQ(requestsTo(log, "/share/set"), 0U);
    EXPECT_TRUE(records().empty());
    EXPECT_EQ(boxes_.seen().size(), 1U);
}

TEST_F(ShareFlowTest, ProgressNamesTheItemTheCountAndThePause) {
    start({"--delay", "share=1500"}, "time=600\n");
    prepareShare(QStringLiteral("/我的文档"),
                 {QStringLiteral("报告 2021.docx"), QStringLiteral("it's mine.txt")});
    QProgressBar* bar = window().progressBar();
    EXPECT_TRUE(bar->isTextVisible());
    EXPECT_EQ(bar->text(), QStringLiteral("就绪")) << "nothing misleading before the first run";
    pressShare();
    // The first item is on its way: the status bar names it.
    ASSERT_TRUE(waitFor([&] {
        return window().runActivityLabel()->text().startsWith(QStringLiteral("正在分享: "));
    }));
    EXPECT_EQ(window().runActivityLabel()->text(),
              QStringLiteral("正在分享: /我的文档/报告 2021.docx"));
    EXPECT_EQ(bar->text(), QStringLiteral("已处理 0/2"));
    // Shared, the run waits: the count and the pause.
    ASSERT_TRUE(waitFor([&] { return records().size() == 1; }));
    ASSERT_TRUE(waitFor([&] { return bar->text() == QStringLiteral("已处理 1/2"); }))
        << bar->text().toStdString();
    ASSERT_TRUE(waitFor([&] {
        return window().runActivityLabel()->text().contains(QStringLiteral("秒后继续"));
    })) << window().runActivityLabel()->text().toStdString();
    const int secondsLeft =
        window().runActivityLabel()->text().section(QLatin1Char(' '), 1, 1).toInt();
    EXPECT_GT(secondsLeft, 590) << window().runActivityLabel()->text().toStdString();
    EXPECT_LE(secondsLeft, 600);
    pressStop();
    EXPECT_TRUE(window().runActivityLabel()->text().isEmpty());
    EXPECT_EQ(bar->text(), QStringLiteral("已处理 1/2")) << "a stop keeps what was done";
}

TEST_F(ShareFlowTest, CompletedRunShowsReadyAgain) {
    start();
    prepareShare(QStringLiteral("/A"), {QStringLiteral("a1.txt")});
    pressShare();
    ASSERT_TRUE(boxes_.waitForBoxes(1, kPatienceMs));
    waitForRunEnd();
    EXPECT_EQ(window().progressBar()->text(), QStringLiteral("就绪"));
    EXPECT_TRUE(window().runActivityLabel()->text().isEmpty());
    EXPECT_TRUE(window().runStatusLabel()->text().contains(QStringLiteral("已分享 1")));
}

TEST_F(ShareFlowTest, RecordsWindowStaysOpenDuringARunAndStopStaysInReach) {
    start({}, "time=2\n");
    installSecondaryWindows(window(), test_->state.recordStore, test_->state.dataDir);
    prepareShare(QStringLiteral("/A"), {});
    pressShare();
    ASSERT_TRUE(waitFor([&] { return records().size() == 1; }));
    window().onToolbarClick(kManageButton);
    RecordsWindow* shown = nullptr;
    ASSERT_TRUE(waitFor([&] {
        shown = window().findChild<RecordsWindow*>();
        return shown != nullptr && shown->isVisible();
    }));
    QPointer<RecordsWindow> recordsWindow(shown);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "not modal";
    EXPECT_GE(recordsWindow->model()->rowCount(), 1) << "it opens listing the ledger";
    EXPECT_TRUE(window().shareRunning());

    // The run goes on meanwhile; 查询 shows its new rows.
    ASSERT_TRUE(waitFor([&] { return records().size() == 2; }));
    QTest::mouseClick(recordsWindow->queryButton(), Qt::LeftButton);
    EXPECT_EQ(recordsWindow->model()->rowCount(), 2);

    // The toolbar is in sight and 停止 answers with the window open.
    const QRect toolbarArea(window().toolbar()->mapToGlobal(QPoint(0, 0)),
                            window().toolbar()->size());
    EXPECT_FALSE(recordsWindow->frameGeometry().intersects(toolbarArea));
    EXPECT_TRUE(window().progressBar()->isVisible());
    EXPECT_EQ(window().progressBar()->text(), QStringLiteral("已处理 2/3"));
    pressStop();
    EXPECT_FALSE(window().shareRunning());
    EXPECT_EQ(toolbar().share, true);
    EXPECT_EQ(records().size(), 2U);
    ASSERT_NE(recordsWindow, nullptr);
    EXPECT_TRUE(recordsWindow->isVisible()) << "the records window stays";
    recordsWindow->close();
}

TEST_F(ShareFlowTest, FilePageShowsTheNewNamesAfterARunThatRenamed) {
    start({}, "time=1\nbefor=1\nBeforZhui=新-\n");
    prepareShare(QStringLiteral("/A"), {QStringLiteral("a1.txt")});
    pressShare();
    ASSERT_TRUE(boxes_.waitForBoxes(1, kPatienceMs));
    waitForRunEnd();
    ASSERT_EQ(records().size(), 1U);
    EXPECT_EQ(records()[0].aftername, "新-a1.txt");
    EXPECT_TRUE(
        waitForPage(window(),
                    QStringLiteral("document.querySelector('tr.sim-row[data-name=\"新-a1.txt\"]')"
                                   " !== null && document.body.getAttribute('data-ready') === '1'"),
                    kPatienceMs))
        << "the page was reloaded";
}

TEST_F(ShareFlowTest, GatheredCookiesHoldTheHttpOnlyLogin) {
    start();
    ASSERT_TRUE(logInOnPage(window(), kPatienceMs));
    const std::string cookies = window().loginSource().cookieText();
    EXPECT_NE(cookies.find(std::string("BDUSS=") + SimProcess::kLoginCookie), std::string::npos)
        << cookies;
    // The page itself cannot see it: it is HttpOnly.
    const QString pageCookies = pageScript(window(), QStringLiteral("return document.cookie;"));
    EXPECT_FALSE(pageCookies.contains(QStringLiteral("BDUSS"))) << pageCookies.toStdString();
    EXPECT_TRUE(pageCookies.contains(QStringLiteral("STOKEN"))) << pageCookies.toStdString();
}

TEST_F(ShareFlowTest, PopupOfThePageIsPlacedAtOneThirdOfTheScreen) {
    start();
    ASSERT_TRUE(logInOnPage(window(), kPatienceMs));
    pageScript(window(),
               QStringLiteral("document.getElementById('sim-popup').click(); return '';"));
    ASSERT_TRUE(waitFor([&] { return window().popups().size() == 1; }));
    PopupWindow* popup = window().popups().first();
    ASSERT_TRUE(waitFor([&] { return popup->sizedByPage(); }));
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    EXPECT_EQ(popup->frameGeometry().topLeft(), QPoint(screen.width() / 3, screen.height() / 3));
    EXPECT_EQ(popup->size(), QSize(480, 360));
    EXPECT_TRUE(waitFor([&] { return popup->page()->url().path() == QStringLiteral("/popup"); }));
}

namespace {

// A certificate for 127.0.0.1 that is its own authority, made for the test.
struct TestCertificate {
    TempDir dir;
    std::string cert = dir.file("cert.pem");
    std::string key = dir.file("key.pem");
    bool made = std::system(("openssl req -x509 -newkey ec -pkeyopt "
                             "ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=127.0.0.1 "
                             "-addext subjectAltName=IP:127.0.0.1 -addext "
                             "basicConstraints=critical,CA:TRUE -keyout " +
                             key + " -out " + cert + " >/dev/null 2>&1")
                                .c_str()) == 0;
};

class ExtraAuthorityTest : public ShareFlowTest {
protected:
    void TearDown() override {
        ShareFlowTest::TearDown();
        ASSERT_TRUE(trustExtraCaFile(QString()));
    }
};

} // namespace

TEST_F(ExtraAuthorityTest, CaFileLetsTheBrowserAndTheRequestsTrustTheService) {
    TestCertificate certificate;
    if (!certificate.made) {
        GTEST_SKIP() << "the openssl command is not available";
    }
    ASSERT_TRUE(trustExtraCaFile(QString::fromStdString(certificate.cert)));
    start({"--cert", certificate.cert, "--key", certificate.key}, "time=1\n",
          [&](TestState& test) { test.state.connection.caFile = certificate.cert; });
    ASSERT_EQ(sim_->origin().rfind("https://", 0), 0U);
    EXPECT_FALSE(window().browserView()->showsLoadFailure());
    prepareShare(QStringLiteral("/A"), {QStringLiteral("a1.txt")});
    pressShare();
    ASSERT_TRUE(boxes_.waitForBoxes(1, kPatienceMs));
    EXPECT_EQ(boxes_.seen()[0].text, QStringLiteral("分享完成!"));
    const std::vector<ShareRecord> rows = records();
    ASSERT_EQ(rows.size(), 1U);
    EXPECT_EQ(rows[0].sharelink.rfind(linkPrefix(), 0), 0U) << rows[0].sharelink;
}

TEST_F(ExtraAuthorityTest, WithoutTheCaFileTheServiceIsNotTrusted) {
    TestCertificate certificate;
    if (!certificate.made) {
        GTEST_SKIP() << "the openssl command is not available";
    }
    start({"--cert", certificate.cert, "--key", certificate.key});
    EXPECT_TRUE(waitFor([&] { return window().browserView()->showsLoadFailure(); }));
}

// ---------------------------------------------------------------------------
// Today's service: a home page without tokens, folders in pages, listings
// that fail, a cookie of one name twice, a page that cannot give its
// selection.

namespace {

struct TokenRouteCase {
    const char* name;
    std::vector<std::string> simArgs;
    bool shares;
    const char* user; // the rows' user name
};

class TokenRoutes : public ShareFlowTest, public ::testing::WithParamInterface<TokenRouteCase> {};

// Answers a yes-or-no box with `yes`, and notes it.
BoxAnswerer::OnShown answerQuestion(bool yes, QString* text) {
    return [yes, text](QMessageBox& box) {
        if (box.button(QMessageBox::Yes) == nullptr) {
            return;
        }
        *text = box.text();
        box.button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
    };
}

using vantorel::test::LoggedRequest;
using vantorel::test::PrintTo;
using vantorel::test::readRequestLog;

} // namespace

TEST_P(TokenRoutes, TheShareGoesAheadOrIsRefusedAsTheLoginAllows) {
    const TokenRouteCase& c = GetParam();
    start(c.simArgs);
    prepareShare(QStringLiteral("/A/B"), {});
    pressShare();
    ASSERT_TRUE(boxes_.waitForBoxes(1, kPatienceMs));
    waitForRunEnd();
    if (!c.shares) {
        EXPECT_EQ(boxes_.seen()[0].text,
                  QStringLiteral("未获取到登录信息,请先在浏览器中登录百度网盘"));
        EXPECT_TRUE(records().empty());
        return;
    }
    EXPECT_EQ(boxes_.seen()[0].text, QStringLiteral("分享完成!"));
    const std::vector<ShareRecord> rows = records();
    ASSERT_EQ(rows.size(), 1U);
    EXPECT_EQ(rows[0].beforename, "b1.jpg");
    EXPECT_EQ(rows[0].username, c.user);
}

INSTANTIATE_TEST_SUITE_P(
    ShareFlow, TokenRoutes,
    ::testing::Values(
        TokenRouteCase{
            "RedirectAndBothTokenRequests", {"--home-style", "main"}, true, SimProcess::kUser},
        TokenRouteCase{"RedirectAndTemplateVariableOnly",
                       {"--home-style", "main", "--token-api", "template"},
                       true,
                       ""},
        TokenRouteCase{"LoginStatusOnly",
                       {"--home-style", "main", "--token-api", "loginstatus"},
                       true,
                       SimProcess::kUser},
        TokenRouteCase{
            "NoTokensAnywhere", {"--home-style", "main", "--token-api", "none"}, false, ""}),
    vantorel::test::CaseName{});

TEST_F(ShareFlowTest, FolderOf2500IsSharedWholeInPages) {
    TempDir scratch;
    const std::string log = scratch.file("requests.jsonl");
    start({"--generate", "2500", "--folders", "0", "--log", log}, "time=-1\nShareType=1\n");
    prepareShare(QStringLiteral("/"), {});
    const std::size_t before = readRequestLog(log).size();
    pressShare();
    ASSERT_TRUE(boxes_.waitForBoxes(1, 120'000));
    EXPECT_EQ(boxes_.seen()[0].text, QStringLiteral("分享完成!"));
    waitForRunEnd();

    std::vector<LoggedRequest> sent = readRequestLog(log);
    sent.erase(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(before));
    const auto count = [&](const char* path) {
        return std::count_if(sent.begin(), sent.end(), [path](const LoggedRequest& r) {
            return r.target.rfind(path, 0) == 0;
        });
    };
    EXPECT_EQ(count("/api/list"), 3);
    // Files that repeat another's content are skipped by MD5, every other
    // one is shared once.
    const std::vector<ShareRecord> rows = records();
    std::set<std::string> ids;
    for (const ShareRecord& row : rows) {
        ids.insert(row.fid);
    }
    EXPECT_EQ(ids.size(), rows.size());
    EXPECT_EQ(count("/share/set"), static_cast<std::ptrdiff_t>(rows.size()));
    EXPECT_GT(rows.size(), 2000U);
    EXPECT_EQ(window().progressBar()->maximum(), 2500);
}

TEST_F(ShareFlowTest, SubFolderOf1200IsPagedUnderShareType4) {
    TempDir scratch;
    vantorel::test::writeFile(scratch.file("tree.json"),
                              vantorel::test::bigFolderTree("top", 3, 1200));
    start({"--tree", scratch.file("tree.json")}, "time=-1\nShareType=3\n");
    prepareShare(QStringLiteral("/top"), {});
    pressShare();
    ASSERT_TRUE(boxes_.waitForBoxes(1, 120'000));
    EXPECT_EQ(boxes_.seen()[0].text, QStringLiteral("分享完成!"));
    waitForRunEnd();
    const std::vector<ShareRecord> rows = records();
    EXPECT_EQ(rows.size(), 1203U);
    std::set<std::string> ids;
    for (const ShareRecord& row : rows) {
        ids.insert(row.fid);
    }
    EXPECT_EQ(ids.size(), 1203U);
    const auto state = vantorel::test::readSimState(*sim_);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->shares.size(), 1203U);
}

TEST_F(ShareFlowTest, FolderThatCannotBeListedSaysWhichAndWhyAndSharesNothing) {
    start();
    prepareShare(QStringLiteral("/A"), {});
    ASSERT_TRUE(vantorel::test::simControl(
        *sim_, "/__sim/fault", R"({"endpoint":"list","kind":"status","value":502,"dir":"/A"})"));
    pressShare();
    ASSERT_TRUE(boxes_.waitForBoxes(1, kPatienceMs));
    EXPECT_EQ(boxes_.seen()[0].text, QStringLiteral("获取文件列表失败: /A (HTTP 状态 502)"));
    EXPECT_EQ(boxes_.seen()[0].icon, QMessageBox::Critical);
    waitForRunEnd();
    EXPECT_EQ(boxes_.seen().size(), 1U) << "no 分享完成!";
    EXPECT_TRUE(records().empty());
    EXPECT_EQ(toolbar().share, true);
    EXPECT_EQ(toolbar().stop, false);
    EXPECT_TRUE(window().runStatusLabel()->text().contains(QStringLiteral("获取文件列表失败")));
}

// The profile holds STOKEN for the service's host (set by its login) and
// for a parent domain (left from another page): the requests carry it once,
// with the host's value.
TEST_F(ShareFlowTest, StokenStoredTwiceIsSentOnceWithTheHostsValue) {
    TempDir scratch;
    const std::string log = scratch.file("requests.jsonl");
    start({"--log", log}, "time=1\n", [](TestState& test) {
        const QString browser = test.filePath(QStringLiteral("browser"));
        ASSERT_TRUE(QDir().mkpath(browser));
        QFile journal(browser + QStringLiteral("/cookie-journal"));
        ASSERT_TRUE(journal.open(QIODevice::WriteOnly));
        journal.write("STOKEN=parent-domain-value; expires=Fri, 01-Jan-2100 00:00:00 GMT; "
                      "domain=.0.1; path=/\n");
    });
    prepareShare(QStringLiteral("/A"), {QStringLiteral("a1.txt")});
    pressShare();
    ASSERT_TRUE(boxes_.waitForBoxes(1, kPatienceMs));
    EXPECT_EQ(boxes_.seen()[0].text, QStringLiteral("分享完成!"));
    ASSERT_EQ(records().size(), 1U);
    for (const LoggedRequest& request : readRequestLog(log)) {
        // The page's own requests are the browser's business.
        if (request.header("User-Agent").value_or("").find("QtWebEngine") != std::string::npos) {
            continue;
        }
        const std::string cookie = request.header("Cookie").value_or("");
        SCOPED_TRACE(request.target + " " + cookie);
        EXPECT_EQ(cookie.find("STOKEN="), cookie.rfind("STOKEN="));
        EXPECT_EQ(cookie.find("parent-domain-value"), std::string::npos);
    }
}

TEST_F(ShareFlowTest, PageWithoutASelectionAsksToShareTheFolderAndYesSharesIt) {
    start({"--page-script", "none"});
    prepareShare(QStringLiteral("/A/B"), {});
    QString question;
    boxes_.setOnShown(answerQuestion(true, &question));
    pressShare();
    ASSERT_TRUE(boxes_.waitForBoxes(2, kPatienceMs));
    EXPECT_TRUE(question.startsWith(
        QStringLiteral("无法读取页面中选中的项目。是否分享当前文件夹中的全部项目?")))
        << question.toStdString();
    EXPECT_TRUE(question.contains(QStringLiteral("/A/B"))) << question.toStdString();
    EXPECT_EQ(boxes_.seen()[1].text, QStringLiteral("分享完成!"));
    waitForRunEnd();
    const std::vector<ShareRecord> rows = records();
    ASSERT_EQ(rows.size(), 1U);
    EXPECT_EQ(rows[0].path, "/A/B/b1.jpg");
}

TEST_F(ShareFlowTest, PageWithoutASelectionAndNoSendsNothing) {
    TempDir scratch;
    const std::string log = scratch.file("requests.jsonl");
    start({"--page-script", "none", "--log", log});
    prepareShare(QStringLiteral("/A"), {});
    QString question;
    boxes_.setOnShown(answerQuestion(false, &question));
    const std::size_t before = readRequestLog(log).size();
    pressShare();
    ASSERT_TRUE(waitFor([&] { return !question.isEmpty(); }));
    ASSERT_TRUE(waitFor([&] { return toolbar().share; }));
    const std::vector<LoggedRequest> sent = readRequestLog(log);
    for (std::size_t i = before; i < sent.size(); ++i) {
        EXPECT_EQ(sent[i].target.rfind("/api/list", 0), std::string::npos) << sent[i].target;
        EXPECT_EQ(sent[i].target.rfind("/share/set", 0), std::string::npos) << sent[i].target;
    }
    EXPECT_TRUE(records().empty());
    EXPECT_FALSE(toolbar().stop);
}

TEST_F(ShareFlowTest, PageWithoutASelectionOrAFolderSaysToOpenTheFilePage) {
    start();
    ASSERT_TRUE(logInOnPage(window(), kPatienceMs));
    window().browserView()->load(QUrl(QString::fromStdString(sim_->origin() + "/popup")));
    ASSERT_TRUE(
        waitForPage(window(), QStringLiteral("location.pathname === '/popup'"), kPatienceMs));
    pressShare();
    ASSERT_TRUE(boxes_.waitForBoxes(1, kPatienceMs));
    EXPECT_EQ(boxes_.seen()[0].text,
              QStringLiteral("无法读取页面中选中的项目,请打开文件列表页面后重试"));
    ASSERT_TRUE(waitFor([&] { return toolbar().share; }));
    EXPECT_FALSE(window().shareRunning());
    EXPECT_TRUE(records().empty());
}

// ---------------------------------------------------------------------------
// The service's refusals as the window shows them

namespace {

struct WindowRefusalCase {
    const char* name;
    const char* fault; // on the share of b1.jpg, the second item of /A
    QString message;   // the box the run ends with
    std::size_t rows;  // rows the run leaves
    const char* tally; // part of the status bar's tally
};

class WindowRefusals : public ShareFlowTest,
                       public ::testing::WithParamInterface<WindowRefusalCase> {};

} // namespace

TEST_P(WindowRefusals, EndTheRunOrTheItemAsTheServiceMeant) {
    const WindowRefusalCase& c = GetParam();
    start({"--fault", std::string("share:") + c.fault + ",after=1,times=1"},
          "time=-1\nShareType=3\n");
    prepareShare(QStringLiteral("/A"), {});
    pressShare();
    ASSERT_TRUE(boxes_.waitForBoxes(1, kPatienceMs));
    waitForRunEnd();
    EXPECT_EQ(boxes_.seen()[0].text, c.message);
    EXPECT_EQ(boxes_.seen().size(), 1U);
    EXPECT_EQ(records().size(), c.rows);
    EXPECT_TRUE(window().runStatusLabel()->text().contains(QString::fromUtf8(c.tally)))
        << window().runStatusLabel()->text().toStdString();
    EXPECT_TRUE(toolbar().share);
    EXPECT_FALSE(toolbar().stop);
}

INSTANTIATE_TEST_SUITE_P(
    ShareFlow, WindowRefusals,
    ::testing::Values(
        WindowRefusalCase{"ItemRefused", "errno=115", QStringLiteral("分享完成!"), 3, "失败 1"},
        WindowRefusalCase{
            "RunRefused", "errno=110",
            QStringLiteral("分享已停止: 今日分享次数已超过限制 (errno 110)。请明天再继续分享"), 1,
            "服务拒绝"},
        WindowRefusalCase{"YesWithoutALink", "no_link", QStringLiteral("分享完成!"), 2,
                          "待下次 1"}),
    vantorel::test::CaseName{});

// --- the desktop and the command line on one ledger ---------------------------------

namespace {

std::vector<std::string> cliShareArgs(const QString& dataDir, const std::string& origin,
                                      const std::string& interval) {
    return {"--data-dir",      dataDir.toStdString(),           "--origin", origin, "share",
            "--cookies",       SimProcess::loginCookieHeader(), "--path",   "/A",   "--set",
            "time=" + interval};
}

// How many shares the service holds for each fs_id.
std::map<std::string, int> sharesPerItem(const SimProcess& sim) {
    std::map<std::string, int> count;
    const auto state = vantorel::test::readSimState(sim);
    EXPECT_TRUE(state);
    if (state) {
        for (const auto& share : state->shares) {
            for (const std::string& fid : share.fsIds) {
                ++count[fid];
            }
        }
    }
    return count;
}

} // namespace

TEST_F(ShareFlowTest, TheCommandLineIsTurnedAwayWhileTheWindowShares) {
    start({}, "time=1\n");
    prepareShare(QStringLiteral("/A"), {});
    pressShare();
    ASSERT_TRUE(waitFor([&] { return records().size() == 1; }));

    const vantorel::test::ProcessResult cli = vantorel::test::runProcess(
        VANTOREL_CLI_PATH, cliShareArgs(test_->state.dataDir, sim_->origin(), "-1"));
    EXPECT_EQ(cli.exitCode, 7) << vantorel::test::describe(cli);
    EXPECT_NE(cli.err.find("另一个分享任务正在使用此分享记录库"), std::string::npos) << cli.err;

    ASSERT_TRUE(boxes_.waitForBoxes(1, kPatienceMs));
    EXPECT_EQ(boxes_.seen()[0].text, QStringLiteral("分享完成!"));
    waitForRunEnd();
    const auto shares = sharesPerItem(*sim_);
    EXPECT_EQ(shares.size(), 3U);
    for (const auto& [fid, n] : shares) {
        EXPECT_EQ(n, 1) << fid;
    }
    EXPECT_EQ(records().size(), 3U);
}

TEST_F(ShareFlowTest, TheWindowSaysSoWhileTheCommandLineShares) {
    start({}, "time=1\n");
    prepareShare(QStringLiteral("/A"), {});
    vantorel::test::ChildProcess cli(VANTOREL_CLI_PATH,
                                     cliShareArgs(test_->state.dataDir, sim_->origin(), "1"));
    ASSERT_TRUE(cli.started());
    ASSERT_TRUE(cli.waitForStdout("shared\t")) << cli.err();

    pressShare();
    ASSERT_TRUE(boxes_.waitForBoxes(1, kPatienceMs));
    EXPECT_EQ(boxes_.seen()[0].text, QStringLiteral("另一个分享任务正在使用此分享记录库"));
    EXPECT_EQ(boxes_.seen()[0].icon, QMessageBox::Warning);
    EXPECT_EQ(toolbar().share, true) << "the share button is given back";
    EXPECT_EQ(toolbar().stop, false);
    EXPECT_FALSE(window().shareRunning());

    const vantorel::test::ProcessResult ended = cli.finish(std::chrono::seconds(60));
    EXPECT_EQ(ended.exitCode, 0) << vantorel::test::describe(ended);
    const auto shares = sharesPerItem(*sim_);
    EXPECT_EQ(shares.size(), 3U);
    for (const auto& [fid, n] : shares) {
        EXPECT_EQ(n, 1) << fid;
    }
    // The window reads what the command line recorded.
    EXPECT_EQ(records().size(), 3U);
}
