// The records window's 同步状态, 取消分享 and 重新分享 end to end: the
// program's own window and login against the simulated service, the shares
// it holds changed behind the program's back (expired by its clock, blocked,
// cancelled in the browser), the states read back in the grid.

#include "app/secondary_windows.h"
#include "share_flow_fixture.h"
#include "sim_state.h"
#include "ui/records_window.h"

#include <QLabel>
#include <QPushButton>
#include <map>

using namespace vantorel::gui;
using namespace vantorel::gui::test;
using vantorel::test::readSimState;
using vantorel::test::simControl;
using vantorel::test::SimShare;

namespace {

constexpr std::int64_t kDay = 24 * 60 * 60;

const QStringList kItems = {QStringLiteral("报告 2021.docx"), QStringLiteral("it's mine.txt"),
                            QStringLiteral("notes_v2 (final).md"), QStringLiteral("照片_001.jpg")};

class RecordsServiceTest : public ShareFlowTest {
protected:
    // Seven-day links for the four items, shared through the window.
    void shareFourItems() {
        start({}, "time=1\nShareTimeLong=2\n");
        prepareShare(QStringLiteral("/我的文档"), kItems);
        pressShare();
        ASSERT_TRUE(boxes_.waitForBoxes(1, kPatienceMs));
        ASSERT_EQ(boxes_.seen()[0].text, QStringLiteral("分享完成!"));
        waitForRunEnd();
        ASSERT_EQ(records().size(), 4u);
    }

    std::vector<ShareRecord> ledgerRows() { return records(); }

    RecordsWindow& openRecords() {
        installSecondaryWindows(window(), test_->state.recordStore, test_->state.dataDir);
        window().toolbarButton(kManageButton)->click();
        auto* records = window().findChild<RecordsWindow*>();
        EXPECT_NE(records, nullptr);
        return *records;
    }

    // Presses the button and waits until the work it started has ended.
    void work(RecordsWindow& records, QPushButton* button) {
        ASSERT_TRUE(button->isVisible());
        QTest::mouseClick(button, Qt::LeftButton);
        ASSERT_TRUE(waitFor([&] { return !records.shareWorkRunning(); }));
        QCoreApplication::processEvents();
    }

    // The grid's 状态 by original name (the newest row of each name).
    std::map<QString, QString> statesByName(RecordsWindow& records) {
        std::map<QString, QString> states;
        const RecordsModel& model = *records.model();
        for (int row = 0; row < model.rowCount(); ++row) {
            states[model.fieldText(row, kBeforeNameColumn)] = model.fieldText(row, kStateColumn);
        }
        return states;
    }

    int rowOf(RecordsWindow& records, const QString& name) {
        const RecordsModel& model = *records.model();
        for (int row = model.rowCount() - 1; row >= 0; --row) {
            if (model.fieldText(row, kBeforeNameColumn) == name) {
                return row;
            }
        }
        return -1;
    }

    // The simulator's share of an item, by the item's name.
    SimShare simShareOf(const QString& name) {
        const auto state = readSimState(*sim_);
        EXPECT_TRUE(state);
        SimShare found;
        for (const SimShare& share : state->shares) {
            if (!share.paths.empty() && share.paths[0] == "/我的文档/" + name.toStdString() &&
                !share.cancelled) {
                found = share;
            }
        }
        return found;
    }
};

TEST_F(RecordsServiceTest, SyncShowsEachShareAsTheServiceHasIt) {
    shareFourItems();
    ASSERT_TRUE(simControl(*sim_, "/__sim/share/block",
                           "{\"shareid\":" + simShareOf(kItems[1]).shareId + "}"));
    ASSERT_TRUE(simControl(*sim_, "/__sim/share/cancel",
                           "{\"shareid\":" + simShareOf(kItems[2]).shareId + "}"));

    RecordsWindow& records = openRecords();
    EXPECT_EQ(statesByName(records)[kItems[0]], QString()) << "never synced";
    work(records, records.syncButton());
    EXPECT_EQ(statesByName(records),
              (std::map<QString, QString>{{kItems[0], QStringLiteral("有效")},
                                          {kItems[1], QStringLiteral("已屏蔽")},
                                          {kItems[2], QStringLiteral("已失效")},
                                          {kItems[3], QStringLiteral("有效")}}));
    EXPECT_EQ(records.model()->fieldText(rowOf(records, kItems[0]), kDaysLeftColumn),
              QStringLiteral("7"));
    EXPECT_TRUE(records.statusLabel()->text().startsWith(QStringLiteral("同步完成: 3 个分享")))
        << records.statusLabel()->text().toStdString();

    // A week and a day later every link still listed has expired.
    ASSERT_TRUE(
        simControl(*sim_, "/__sim/clock", "{\"advance\":" + std::to_string(8 * kDay) + "}"));
    work(records, records.syncButton());
    EXPECT_EQ(statesByName(records),
              (std::map<QString, QString>{{kItems[0], QStringLiteral("已过期")},
                                          {kItems[1], QStringLiteral("已过期")},
                                          {kItems[2], QStringLiteral("已失效")},
                                          {kItems[3], QStringLiteral("已过期")}}));
    EXPECT_EQ(records.model()->fieldText(rowOf(records, kItems[0]), kDaysLeftColumn), QString());
}

TEST_F(RecordsServiceTest, ReshareMakesNewLinksForDeadSharesAndCancelEndsOne) {
    shareFourItems();
    ASSERT_TRUE(simControl(*sim_, "/__sim/share/cancel",
                           "{\"shareid\":" + simShareOf(kItems[2]).shareId + "}"));
    RecordsWindow& records = openRecords();
    work(records, records.syncButton());
    const std::vector<ShareRecord> before = ledgerRows();

    // The gone one and an active one ticked: only the gone one is shared again.
    records.model()->setTicked(rowOf(records, kItems[2]), true);
    records.model()->setTicked(rowOf(records, kItems[3]), true);
    work(records, records.reshareButton());
    EXPECT_TRUE(records.statusLabel()->text().startsWith(
        QStringLiteral("重新分享: 已分享 1 · 失败 0 · 1 条的分享仍有效或未同步")))
        << records.statusLabel()->text().toStdString();
    const std::vector<ShareRecord> after = ledgerRows();
    ASSERT_EQ(after.size(), 5u);
    for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(after[i].sharelink, before[i].sharelink) << "old rows stay as they were";
    }
    const ShareRecord& fresh = after.back();
    EXPECT_EQ(fresh.beforename, kItems[2].toStdString());
    EXPECT_EQ(fresh.fid, before[2].fid);
    EXPECT_NE(fresh.sharelink, before[2].sharelink);
    EXPECT_EQ(fresh.sharelink, simShareOf(kItems[2]).link);
    EXPECT_EQ(readSimState(*sim_)->shares.size(), 5u) << "one new share on the service";

    // 取消分享 on the fresh link (its confirmation answered OK).
    work(records, records.syncButton());
    records.model()->setTicked(records.model()->rowCount() - 1, true);
    const std::size_t boxesBefore = boxes_.seen().size();
    work(records, records.cancelButton());
    ASSERT_GT(boxes_.seen().size(), boxesBefore);
    EXPECT_EQ(boxes_.seen()[boxesBefore].text,
              QStringLiteral("取消所选 1 条记录的分享?取消后链接失效,记录保留。"));
    EXPECT_EQ(records.statusLabel()->text(), QStringLiteral("已取消 1 个分享"));
    EXPECT_EQ(records.model()->fieldText(records.model()->rowCount() - 1, kStateColumn),
              QStringLiteral("已失效"));
    EXPECT_EQ(ledgerRows().size(), 5u) << "the rows stay";
    std::size_t cancelled = 0;
    const auto state = readSimState(*sim_);
    ASSERT_TRUE(state);
    for (const SimShare& share : state->shares) {
        cancelled += share.cancelled ? 1 : 0;
    }
    EXPECT_EQ(cancelled, 2u);
}

} // namespace
