// The records window's share states and its work on the service's shares,
// with a stand-in for the program's share work: what the columns, the state
// filter, the progress and the stop show.

#include "dialog_answers.h"
#include "named_case.h"
#include "records/record_store.h"
#include "records/share_states.h"
#include "test_support.h"
#include "ui/records_window.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <mutex>

using namespace vantorel;
using namespace vantorel::gui;
using namespace vantorel::gui::test;

namespace {

using vantorel::test::CaseName;
using vantorel::test::PrintTo;

constexpr std::int64_t kDay = 24 * 60 * 60;

std::int64_t unixNow() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

ShareRecord shared(int n) {
    ShareRecord r;
    r.isdir = "0";
    r.beforename = "file" + std::to_string(n) + ".txt";
    r.path = "/docs/" + r.beforename;
    r.sharelink = "https://pan.example/s/1link" + std::to_string(n);
    r.password = "ab12";
    r.sharetime = "2026-12-01 10:00:00";
    r.md5 = "md5-" + std::to_string(n);
    r.fid = std::to_string(1000 + n);
    r.username = "alice";
    return r;
}

ShareStatus status(std::int64_t id, ShareState state, int expiredType, std::int64_t secondsLeft) {
    return ShareStatus{.recordId = id,
                       .sharelink = shared(static_cast<int>(id)).sharelink,
                       .shareId = 5000 + id,
                       .state = state,
                       .expiredType = expiredType,
                       .secondsLeft = secondsLeft,
                       .checkedAt = unixNow()};
}

// The program's share work, as the window sees it: each job records what
// it was asked for and runs the test's body on the window's helper thread.
class StandInWork final : public ShareWorkProvider {
public:
    using Body = std::function<Expected<std::string>(std::stop_token, const ShareWorkReporter&)>;

    Expected<ShareWorkJob> prepare(ShareWork work, std::vector<std::int64_t> ids) override {
        std::lock_guard lock(mutex_);
        asked_.push_back({work, std::move(ids)});
        if (refusal_) {
            return *refusal_;
        }
        return ShareWorkJob(body_);
    }

    void setBody(Body body) { body_ = std::move(body); }
    void refuse(Error error) { refusal_ = std::move(error); }

    struct Asked {
        ShareWork work;
        std::vector<std::int64_t> ids;
    };
    std::vector<Asked> asked() {
        std::lock_guard lock(mutex_);
        return asked_;
    }

private:
    std::mutex mutex_;
    std::vector<Asked> asked_;
    Body body_ = [](std::stop_token, const ShareWorkReporter&) -> Expected<std::string> {
        return std::string("完成");
    };
    std::optional<Error> refusal_;
};

class RecordsSharesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(store_.openOrCreate((dir_ + QStringLiteral("/linkledger.db")).toStdString()));
        for (int n = 1; n <= 5; ++n) {
            ASSERT_TRUE(store_.insertRecord(shared(n)));
        }
        window_ = std::make_unique<RecordsWindow>(store_);
        window_->setShareWork(&work_);
        window_->show();
    }

    void storeStates() {
        const ShareStatus statuses[] = {
            status(1, ShareState::Active, 7, 3 * kDay + 60), status(2, ShareState::Expired, -1, 0),
            status(3, ShareState::Blocked, 7, 5 * kDay), status(4, ShareState::Gone, 7, 0),
            // 5 was never checked
        };
        ASSERT_TRUE(ShareStates(store_).store(statuses));
    }

    QString cell(int row, int column) { return model().fieldText(row, column); }

    std::vector<std::int64_t> listedIds() {
        std::vector<std::int64_t> ids;
        for (int row = 0; row < model().rowCount(); ++row) {
            ids.push_back(model().rowId(row));
        }
        return ids;
    }

    RecordsWindow& window() { return *window_; }
    RecordsModel& model() { return *window_->model(); }

    QString dir_ = scratchDirectory();
    RecordStore store_;
    StandInWork work_;
    std::unique_ptr<RecordsWindow> window_;
};

TEST_F(RecordsSharesTest, StateColumnsShowEachStateAndTheDaysLeftBesideTheLink) {
    storeStates();
    window().query();
    ASSERT_EQ(model().rowCount(), 5);
    EXPECT_EQ(model().headerData(kStateColumn, Qt::Horizontal).toString(), QStringLiteral("状态"));
    EXPECT_EQ(model().headerData(kDaysLeftColumn, Qt::Horizontal).toString(),
              QStringLiteral("剩余天数"));
    const QString states[] = {QStringLiteral("有效"), QStringLiteral("已过期"),
                              QStringLiteral("已屏蔽"), QStringLiteral("已失效"), QString()};
    for (int row = 0; row < 5; ++row) {
        EXPECT_EQ(cell(row, kStateColumn), states[row]) << "row " << row;
    }
    EXPECT_EQ(cell(0, kDaysLeftColumn), QStringLiteral("4")); // 3 days and a minute, counted up
    EXPECT_EQ(cell(1, kDaysLeftColumn), QString());
    EXPECT_EQ(cell(4, kDaysLeftColumn), QString());

    // Seen without scrolling: right of 密码, inside the grid's viewport at
    // the window's own size.
    QTableView* grid = window().grid();
    const QRect code = grid->visualRect(model().index(0, kCodeColumn));
    const QRect state = grid->visualRect(model().index(0, kStateColumn));
    const QRect days = grid->visualRect(model().index(0, kDaysLeftColumn));
    const QHeaderView* header = grid->horizontalHeader();
    EXPECT_EQ(header->visualIndex(kStateColumn), header->visualIndex(kCodeColumn) + 1);
    EXPECT_EQ(header->visualIndex(kDaysLeftColumn), header->visualIndex(kStateColumn) + 1);
    EXPECT_GT(state.left(), code.right());
    EXPECT_GT(days.left(), state.right());
    EXPECT_TRUE(grid->viewport()->rect().contains(days)) << days.x() << "," << days.width();
}

TEST_F(RecordsSharesTest, PermanentShareShowsNoCountdown) {
    const ShareStatus permanent[] = {status(1, ShareState::Active, 0, 0)};
    ASSERT_TRUE(ShareStates(store_).store(permanent));
    window().query();
    EXPECT_EQ(cell(0, kDaysLeftColumn), QStringLiteral("永久"));
}

struct StateCase {
    const char* name;
    int choice; // index in the state list
    std::vector<std::int64_t> ids;
};

class RecordsStateFilter : public RecordsSharesTest,
                           public ::testing::WithParamInterface<StateCase> {};

TEST_P(RecordsStateFilter, ListsTheRowsInThatState) {
    storeStates();
    window().stateList()->setCurrentIndex(GetParam().choice);
    window().query();
    EXPECT_EQ(listedIds(), GetParam().ids);
}

INSTANTIATE_TEST_SUITE_P(Choices, RecordsStateFilter,
                         ::testing::Values(StateCase{"Any", 0, {1, 2, 3, 4, 5}},
                                           StateCase{"Active", 1, {1}},
                                           StateCase{"Expired", 2, {2}},
                                           StateCase{"Blocked", 3, {3}}, StateCase{"Gone", 4, {4}},
                                           StateCase{"NeverChecked", 5, {5}}),
                         CaseName());

TEST_F(RecordsSharesTest, StateFilterCombinesWithTheConditions) {
    storeStates();
    window().idEdit()->setText(QStringLiteral("2"));
    window().stateList()->setCurrentIndex(2); // 已过期
    window().query();
    EXPECT_EQ(listedIds(), (std::vector<std::int64_t>{2}));
    window().stateList()->setCurrentIndex(1); // 有效
    window().query();
    EXPECT_TRUE(listedIds().empty());
}

TEST_F(RecordsSharesTest, WithoutTheProgramsShareWorkItsButtonsAreHidden) {
    RecordsWindow bare(store_);
    bare.show();
    EXPECT_FALSE(bare.syncButton()->isVisible());
    EXPECT_FALSE(bare.cancelButton()->isVisible());
    EXPECT_FALSE(bare.reshareButton()->isVisible());
    EXPECT_TRUE(window().syncButton()->isVisible());
    EXPECT_FALSE(window().stopButton()->isVisible());
    EXPECT_FALSE(window().workProgress()->isVisible());
}

TEST_F(RecordsSharesTest, SyncShowsItsProgressAndTheStatesAsTheyAreStored) {
    window().query();
    std::atomic<bool> release = false;
    work_.setBody(
        [&](std::stop_token stop, const ShareWorkReporter& report) -> Expected<std::string> {
            report({.done = 0, .total = 0});
            const ShareStatus first[] = {status(1, ShareState::Expired, -1, 0)};
            if (Status stored = ShareStates(store_).store(first); !stored) {
                return stored.error();
            }
            report({.done = 100, .total = 0, .ledgerChanged = true});
            while (!release && !stop.stop_requested()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            return std::string("已同步 1 条记录");
        });
    QTest::mouseClick(window().syncButton(), Qt::LeftButton);
    ASSERT_TRUE(window().shareWorkRunning());
    EXPECT_FALSE(window().syncButton()->isEnabled());
    EXPECT_FALSE(window().cancelButton()->isEnabled());
    // The page stored shows while the sync goes on.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return cell(0, kStateColumn) == QStringLiteral("已过期"); }, 5000));
    EXPECT_EQ(window().workProgress()->text(), QStringLiteral("正在同步状态 100"));
    const QRect bar = window().workProgress()->geometry();
    EXPECT_TRUE(window().workProgress()->isVisible());
    EXPECT_TRUE(window().rect().contains(bar));
    EXPECT_TRUE(window().stopButton()->isVisible());

    release = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window().shareWorkRunning(); }, 5000));
    EXPECT_EQ(window().statusLabel()->text(), QStringLiteral("已同步 1 条记录"));
    EXPECT_FALSE(window().workProgress()->isVisible());
    EXPECT_FALSE(window().stopButton()->isVisible());
    EXPECT_TRUE(window().syncButton()->isEnabled());
    ASSERT_EQ(work_.asked().size(), 1u);
    EXPECT_EQ(work_.asked()[0].work, ShareWork::Sync);
}

TEST_F(RecordsSharesTest, StopEndsTheWorkAndKeepsWhatItStored) {
    window().query();
    std::atomic<bool> stopped = false;
    work_.setBody(
        [&](std::stop_token stop, const ShareWorkReporter& report) -> Expected<std::string> {
            const ShareStatus page[] = {status(1, ShareState::Active, 7, 2 * kDay),
                                        status(2, ShareState::Gone, 7, 0)};
            if (Status stored = ShareStates(store_).store(page); !stored) {
                return stored.error();
            }
            report({.done = 2, .total = 5, .ledgerChanged = true});
            while (!stop.stop_requested()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            stopped = true;
            return Error{"stopped", 0};
        });
    window().syncStates();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window().workProgress()->text() == QStringLiteral("正在同步状态 2/5"); },
        5000));
    QTest::mouseClick(window().stopButton(), Qt::LeftButton);
    EXPECT_TRUE(stopped);
    EXPECT_FALSE(window().shareWorkRunning());
    EXPECT_EQ(window().statusLabel()->text(),
              QStringLiteral("正在同步状态已停止,已完成的部分已保存。"));
    EXPECT_EQ(cell(0, kStateColumn), QStringLiteral("有效"));
    EXPECT_EQ(cell(1, kStateColumn), QStringLiteral("已失效"));
    // The work's own end, queued before the stop was seen, shows no box.
    DialogAnswers none;
    QTest::qWait(50);
    EXPECT_TRUE(none.seen().empty());
}

TEST_F(RecordsSharesTest, CancelNamesTheCountAndAsksTheProgramOnlyOnOk) {
    window().query();
    model().setTicked(1, true);
    model().setTicked(3, true);
    {
        DialogAnswers no({DialogAnswers::press(QMessageBox::Cancel)});
        QTest::mouseClick(window().cancelButton(), Qt::LeftButton);
        ASSERT_EQ(no.seen().size(), 1u);
        EXPECT_EQ(no.seen()[0].text,
                  QStringLiteral("取消所选 2 条记录的分享?取消后链接失效,记录保留。"));
    }
    EXPECT_TRUE(work_.asked().empty());
    DialogAnswers yes({DialogAnswers::press(QMessageBox::Ok)});
    QTest::mouseClick(window().cancelButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window().shareWorkRunning(); }, 5000));
    ASSERT_EQ(work_.asked().size(), 1u);
    EXPECT_EQ(work_.asked()[0].work, ShareWork::Cancel);
    EXPECT_EQ(work_.asked()[0].ids, (std::vector<std::int64_t>{2, 4}));
}

TEST_F(RecordsSharesTest, ReshareTakesTheSelectedRowsWhenNoneIsTicked) {
    window().query();
    window().grid()->selectRow(2);
    QTest::mouseClick(window().reshareButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window().shareWorkRunning(); }, 5000));
    ASSERT_EQ(work_.asked().size(), 1u);
    EXPECT_EQ(work_.asked()[0].work, ShareWork::Reshare);
    EXPECT_EQ(work_.asked()[0].ids, (std::vector<std::int64_t>{3}));
}

TEST_F(RecordsSharesTest, WorkThatCannotStartOrFailsSaysWhy) {
    window().query();
    work_.refuse(Error{"请先登录", 0});
    {
        DialogAnswers ok({DialogAnswers::press(QMessageBox::Ok)});
        window().syncStates();
        ASSERT_EQ(ok.seen().size(), 1u);
        EXPECT_EQ(ok.seen()[0].text, QStringLiteral("请先登录"));
    }
    EXPECT_FALSE(window().shareWorkRunning());

    StandInWork failing;
    failing.setBody([](std::stop_token, const ShareWorkReporter&) -> Expected<std::string> {
        return Error{"获取分享列表失败: errno 2", 2};
    });
    window().setShareWork(&failing);
    DialogAnswers ok({DialogAnswers::press(QMessageBox::Ok)});
    window().syncStates();
    ASSERT_TRUE(QTest::qWaitFor([&] { return ok.seen().size() == 1; }, 5000));
    EXPECT_EQ(ok.seen()[0].text, QStringLiteral("获取分享列表失败: errno 2"));
    EXPECT_EQ(ok.seen()[0].icon, QMessageBox::Warning);
    EXPECT_TRUE(window().syncButton()->isEnabled());
}

TEST_F(RecordsSharesTest, ClosingTheWindowStopsItsWork) {
    std::atomic<bool> stopped = false;
    work_.setBody([&](std::stop_token stop, const ShareWorkReporter&) -> Expected<std::string> {
        while (!stop.stop_requested()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        stopped = true;
        return std::string();
    });
    window().syncStates();
    ASSERT_TRUE(window().shareWorkRunning());
    window().close();
    EXPECT_TRUE(stopped);
    EXPECT_FALSE(window().shareWorkRunning());
}

} // namespace
