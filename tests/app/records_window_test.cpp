#include "app/main_window.h"
#include "app/secondary_windows.h"
#include "arrangement.h"
#include "dialog_answers.h"
#include "ledger_file.h"
#include "named_case.h"
#include "records/record_store.h"
#include "settings/settings_window.h"
#include "test_support.h"
#include "ui/records_window.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QToolBar>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace vantorel;
using namespace vantorel::gui;
using namespace vantorel::gui::test;

namespace {

using vantorel::test::CaseName;
using vantorel::test::PrintTo;

ShareRecord record(const char* isdir, const char* name, const char* newName, const char* link,
                   const char* code, const char* time, const char* user) {
    ShareRecord r;
    r.isdir = isdir;
    r.beforename = name;
    r.aftername = newName;
    r.path = std::string("/docs/") + (*newName != '\0' ? newName : name);
    r.sharelink = link;
    r.password = code;
    r.sharetime = time;
    r.size = *isdir == '1' ? "" : "1.5M";
    r.md5 = *isdir == '1' ? "" : std::string("md5-") + name;
    r.pic = *isdir == '1' ? "" : std::string("https://thumb.example/") + name;
    r.fid = std::string("fid-") + name;
    r.username = user;
    return r;
}

// Ids 1 to 4: two files shared by alice, a folder by bob, a failed file.
const ShareRecord kRecords[] = {
    record("0", "alpha.txt", "", "https://pan.example/s/1aaa", "ab12", "2024-03-01 10:00:00",
           "alice"),
    record("1", "Beta", "beta-new", "https://pan.example/s/1bbb", "cd34", "2024-03-02 11:00:00",
           "bob"),
    record("0", "gamma.mp4", "gamma-renamed.mp4", "https://pan.example/s/1ccc", "ef56",
           "2024-03-05 09:00:00", "alice"),
    record("0", "delta, \"the\" file.txt", "", "分享失败", "", "", "bob"),
};

class RecordsWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(store_.openOrCreate((dir_ + QStringLiteral("/linkledger.db")).toStdString()));
        window_ = std::make_unique<RecordsWindow>(store_);
        window_->show();
    }

    void insert(std::size_t count = std::size(kRecords)) {
        for (std::size_t i = 0; i < count; ++i) {
            ASSERT_TRUE(store_.insertRecord(kRecords[i]));
        }
    }

    RecordsWindow& window() { return *window_; }
    RecordsModel& model() { return *window_->model(); }

    std::vector<std::int64_t> listedIds() {
        std::vector<std::int64_t> ids;
        for (int row = 0; row < model().rowCount(); ++row) {
            ids.push_back(model().rowId(row));
        }
        return ids;
    }

    // Where a row's cell is drawn in the grid's viewport.
    QPoint cellCentre(int row, int column) {
        return window().grid()->visualRect(model().index(row, column)).center();
    }

    QString dir_ = scratchDirectory();
    RecordStore store_;
    std::unique_ptr<RecordsWindow> window_;
};

// Conditions and export side by side above the grid, the counts, the status
// line and 删除选择 below it; in each group its rows from the top and their
// controls from the left.
const std::vector<Arranged> kDesign = {
    {"分组框1", "QGroupBox", "", 0, 0},
    {"分组框2", "QGroupBox", "", 0, 1},
    {"高级表格1", "QTableView", "", 1, 0},
    {"标签_记录数", "QLabel", "", 2, 0},
    {"标签_状态", "QLabel", "", 2, 1},
    {"按钮_删除选择", "QPushButton", "", 2, 2},

    {"透明标签1", "QLabel", "分组框1", 0, 0},
    {"编辑框_id", "QLineEdit", "分组框1", 0, 1},
    {"透明标签3", "QLabel", "分组框1", 0, 2},
    {"编辑框_原名称", "QLineEdit", "分组框1", 0, 3},
    {"透明标签6", "QLabel", "分组框1", 0, 4},
    {"编辑框_改后名称", "QLineEdit", "分组框1", 0, 5},
    {"组合框_名称_类型", "QComboBox", "分组框1", 0, 6},
    {"按钮_查询", "QPushButton", "分组框1", 0, 7},
    {"透明标签2", "QLabel", "分组框1", 1, 0},
    {"编辑框_所属用户", "QLineEdit", "分组框1", 1, 1},
    {"透明标签4", "QLabel", "分组框1", 1, 2},
    {"选择框_选择日期_精确", "QCheckBox", "分组框1", 1, 3},
    {"日期框_精确", "QDateEdit", "分组框1", 1, 4},
    {"选择框_选择日期_范围", "QCheckBox", "分组框1", 1, 5},
    {"日期框_范围_前", "QDateEdit", "分组框1", 1, 6},
    {"透明标签5", "QLabel", "分组框1", 1, 7},
    {"日期框_范围_后", "QDateEdit", "分组框1", 1, 8},
    {"按钮_清空", "QPushButton", "分组框1", 1, 9},

    {"选择框_ID_导出", "QCheckBox", "分组框2", 0, 0},
    {"选择框_路径_导出", "QCheckBox", "分组框2", 0, 1},
    {"选择框_原名称_导出", "QCheckBox", "分组框2", 0, 2},
    {"选择框_新名称_导出", "QCheckBox", "分组框2", 0, 3},
    {"选择框_链接_导出", "QCheckBox", "分组框2", 0, 4},
    {"选择框_密码_导出", "QCheckBox", "分组框2", 0, 5},
    {"选择框_分享时间_导出", "QCheckBox", "分组框2", 1, 0},
    {"选择框_大小_导出", "QCheckBox", "分组框2", 1, 1},
    {"选择框_MD5_导出", "QCheckBox", "分组框2", 1, 2},
    {"选择框_用户名_导出", "QCheckBox", "分组框2", 1, 3},
    {"按钮_导出", "QPushButton", "分组框2", 2, 0},
};

TEST_F(RecordsWindowTest, EveryControlInItsGroupInTheDesignedOrder) {
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
    expectArrangedAtEverySize(window(), kDesign);
    // The grid takes the room the window gains.
    const QSize grid = window().grid()->size();
    window().resize(window().size() + QSize(120, 80));
    QCoreApplication::processEvents();
    EXPECT_EQ(window().grid()->size(), grid + QSize(120, 80));
}

TEST_F(RecordsWindowTest, OpensListingTheLedgerWithTheDesignedControls) {
    insert();
    window_ = std::make_unique<RecordsWindow>(store_);
    window_->show();
    EXPECT_EQ(window().windowTitle(), QStringLiteral("管理分享链接"));
    EXPECT_FALSE(window().isModal()) << "the main window stays in reach";
    EXPECT_EQ(window().frameGeometry().size(), QSize(1264, 765)) << "the designed size";
    EXPECT_EQ(listedIds(), (std::vector<std::int64_t>{1, 2, 3, 4})) << "as if 查询 was pressed";
    EXPECT_EQ(window().countLabel()->text(), QStringLiteral("共 4 条记录"));

    EXPECT_EQ(window().findChild<QGroupBox*>(QStringLiteral("分组框1"))->title(),
              QStringLiteral("查询条件"));
    EXPECT_EQ(window().findChild<QGroupBox*>(QStringLiteral("分组框2"))->title(),
              QStringLiteral("导出条件"));
    EXPECT_EQ(window().queryButton()->text(), QStringLiteral("查询"));
    EXPECT_EQ(window().deleteAllButton()->text(), QStringLiteral("删除所有"));
    EXPECT_EQ(window().deleteSelectedButton()->text(), QStringLiteral("删除选择"));
    EXPECT_EQ(window().exportButton()->text(), QStringLiteral("导出"));
    EXPECT_TRUE(window().exportButton()->isEnabled());
    EXPECT_EQ(window().kindList()->count(), 3);
    EXPECT_EQ(window().kindList()->itemText(2), QStringLiteral("文件夹"));
    for (const QDateEdit* box :
         {window().exactDateEdit(), window().rangeFromEdit(), window().rangeToEdit()}) {
        EXPECT_EQ(box->displayFormat(), QStringLiteral("yyyy-MM-dd"));
        EXPECT_EQ(box->text(), QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
    }
    QStringList exportCaptions;
    for (const QCheckBox* box : window().exportBoxes()) {
        exportCaptions << box->text();
        EXPECT_FALSE(box->isChecked());
    }
    EXPECT_EQ(exportCaptions.join(QLatin1Char(' ')),
              QStringLiteral("ID 路径 原名称 新名称 链接 密码 分享时间 大小 MD5 用户名"));
    for (const QWidget* control :
         {static_cast<QWidget*>(window().queryButton()), static_cast<QWidget*>(window().grid()),
          static_cast<QWidget*>(window().exportBoxes().first())}) {
        EXPECT_EQ(control->font().families().value(0), QStringLiteral("微软雅黑"));
        EXPECT_EQ(control->font().pixelSize(), 12);
    }

    // The ledger's twelve fields, the share's state and days left, the tick.
    const QStringList headers = {"ID",   "路径", "原名称", "新名称",   "链接",
                                 "密码", "时间", "大小",   "MD5",      "缩略图",
                                 "FID",  "用户", "状态",   "剩余天数", "选择"};
    const int widths[] = {50, 170, 170, 170, 80, 40, 130, 60, 50, 50, 50, 100, 60, 70, 100};
    QTableView* grid = window().grid();
    ASSERT_EQ(model().columnCount(), 15);
    for (int column = 0; column < 15; ++column) {
        EXPECT_EQ(model().headerData(column, Qt::Horizontal).toString(), headers[column]);
        EXPECT_EQ(model().headerData(column, Qt::Horizontal, Qt::TextAlignmentRole).toInt(),
                  int(Qt::AlignCenter));
        EXPECT_EQ(grid->columnWidth(column), widths[column]) << column;
    }
}

TEST_F(RecordsWindowTest, OpensOnAnEmptyLedgerWithOnlyTheHeader) {
    EXPECT_EQ(model().rowCount(), 0);
    EXPECT_EQ(window().countLabel()->text(), QStringLiteral("共 0 条记录"));
}

TEST_F(RecordsWindowTest, QueryOnAnEmptyLedgerShowsOnlyTheHeader) {
    QTest::mouseClick(window().queryButton(), Qt::LeftButton);
    EXPECT_EQ(model().rowCount(), 0);
    EXPECT_EQ(window().countLabel()->text(), QStringLiteral("共 0 条记录"));
}

TEST_F(RecordsWindowTest, ListsThreeRecordsInOrderOnceHoweverOftenQueried) {
    insert(3);
    QTest::mouseClick(window().queryButton(), Qt::LeftButton);
    QTest::mouseClick(window().queryButton(), Qt::LeftButton);
    ASSERT_EQ(model().rowCount(), 3);
    EXPECT_EQ(listedIds(), (std::vector<std::int64_t>{1, 2, 3}));

    const ShareRecord& second = kRecords[1];
    const std::string expected[12] = {"2",
                                      second.path,
                                      second.beforename,
                                      second.aftername,
                                      second.sharelink,
                                      second.password,
                                      second.sharetime,
                                      second.size,
                                      second.md5,
                                      second.pic,
                                      second.fid,
                                      second.username};
    for (int column = 0; column < 12; ++column) {
        EXPECT_EQ(model().index(1, column).data().toString().toStdString(), expected[column])
            << column;
    }
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(model().index(row, 0).data(Qt::BackgroundRole).value<QColor>(),
                  QColor(236, 236, 236));
        EXPECT_FALSE(model().index(row, 1).data(Qt::BackgroundRole).isValid());
        EXPECT_EQ(model().index(row, kSelectColumn).data(Qt::CheckStateRole).toInt(),
                  int(Qt::Unchecked));
        EXPECT_TRUE(model().index(row, kSelectColumn).data().toString().isEmpty());
        EXPECT_TRUE(
            model().flags(model().index(row, kSelectColumn)).testFlag(Qt::ItemIsUserCheckable));
        // Never synced: no state, no days.
        EXPECT_TRUE(model().index(row, kStateColumn).data().toString().isEmpty());
    }
}

TEST_F(RecordsWindowTest, TickingTheSelectBoxByMouse) {
    insert(3);
    window().query();
    QWidget* viewport = window().grid()->viewport();
    const QRect cell = window().grid()->visualRect(model().index(1, kSelectColumn));
    // The tick box is drawn at the left of its cell.
    QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(cell.left() + 10, cell.center().y()));
    EXPECT_EQ(model().tickedIds(), (std::vector<std::int64_t>{2}));
}

struct FilterCase {
    const char* name;
    std::function<void(RecordsWindow&)> fill;
    std::vector<std::int64_t> ids;
};

void setDate(QDateEdit* box, int year, int month, int day) {
    box->setDate(QDate(year, month, day));
}

class RecordsWindowFilter : public RecordsWindowTest,
                            public ::testing::WithParamInterface<FilterCase> {};

TEST_P(RecordsWindowFilter, ListsTheMatchingRecords) {
    insert();
    GetParam().fill(window());
    QTest::mouseClick(window().queryButton(), Qt::LeftButton);
    EXPECT_EQ(listedIds(), GetParam().ids);
}

INSTANTIATE_TEST_SUITE_P(
    Conditions, RecordsWindowFilter,
    ::testing::Values(
        FilterCase{"NoneListsAll", [](RecordsWindow&) {}, {1, 2, 3, 4}},
        FilterCase{"Id", [](RecordsWindow& w) { w.idEdit()->setText("2"); }, {2}},
        FilterCase{"FullWidthId", [](RecordsWindow& w) { w.idEdit()->setText("３"); }, {3}},
        FilterCase{"IdThatIsNoNumber", [](RecordsWindow& w) { w.idEdit()->setText("abc"); }, {}},
        FilterCase{
            "OriginalName", [](RecordsWindow& w) { w.beforeNameEdit()->setText("ALP"); }, {1}},
        FilterCase{"NewNameContains",
                   [](RecordsWindow& w) { w.afterNameEdit()->setText("renamed"); },
                   {3}},
        FilterCase{"Files", [](RecordsWindow& w) { w.kindList()->setCurrentIndex(1); }, {1, 3, 4}},
        FilterCase{"Folders", [](RecordsWindow& w) { w.kindList()->setCurrentIndex(2); }, {2}},
        FilterCase{"User", [](RecordsWindow& w) { w.userEdit()->setText(" alice "); }, {1, 3}},
        FilterCase{"FilesOfBob",
                   [](RecordsWindow& w) {
                       w.kindList()->setCurrentIndex(1);
                       w.userEdit()->setText("bob");
                   },
                   {4}},
        FilterCase{"ExactDate",
                   [](RecordsWindow& w) {
                       setDate(w.exactDateEdit(), 2024, 3, 2);
                       w.exactDateBox()->setChecked(true);
                   },
                   {2}},
        FilterCase{"ExactDateUnchecked",
                   [](RecordsWindow& w) { setDate(w.exactDateEdit(), 2024, 3, 2); },
                   {1, 2, 3, 4}},
        FilterCase{"DateRange",
                   [](RecordsWindow& w) {
                       setDate(w.rangeFromEdit(), 2024, 3, 1);
                       setDate(w.rangeToEdit(), 2024, 3, 2);
                       w.rangeDateBox()->setChecked(true);
                   },
                   {1, 2}},
        FilterCase{"OneDayRange",
                   [](RecordsWindow& w) {
                       setDate(w.rangeFromEdit(), 2024, 3, 5);
                       setDate(w.rangeToEdit(), 2024, 3, 5);
                       w.rangeDateBox()->setChecked(true);
                   },
                   {3}}),
    CaseName{});

TEST_F(RecordsWindowTest, RangeEndingBeforeItStartsIsRefusedWithAMessage) {
    insert();
    window().query();
    setDate(window().rangeFromEdit(), 2024, 3, 31);
    setDate(window().rangeToEdit(), 2024, 3, 2);
    window().rangeDateBox()->setChecked(true);
    DialogAnswers answers({DialogAnswers::press(QMessageBox::Ok)});
    QTest::mouseClick(window().queryButton(), Qt::LeftButton);
    ASSERT_EQ(answers.seen().size(), 1u);
    EXPECT_EQ(answers.seen()[0].text, RecordsWindow::invertedRangeMessage());
    EXPECT_EQ(listedIds(), (std::vector<std::int64_t>{1, 2, 3, 4})) << "the listing stays";
    // The exact date wins over the range: no refusal then.
    window().exactDateBox()->setChecked(true);
    setDate(window().exactDateEdit(), 2024, 3, 2);
    DialogAnswers none;
    window().query();
    EXPECT_TRUE(none.seen().empty());
    EXPECT_EQ(listedIds(), (std::vector<std::int64_t>{2}));
}

TEST_F(RecordsWindowTest, DateBoxesExcludeEachOtherWhenClicked) {
    QCheckBox* exact = window().exactDateBox();
    QCheckBox* range = window().rangeDateBox();
    QTest::mouseClick(range, Qt::LeftButton);
    EXPECT_TRUE(range->isChecked());
    QTest::mouseClick(exact, Qt::LeftButton);
    EXPECT_TRUE(exact->isChecked());
    EXPECT_FALSE(range->isChecked());
    QTest::mouseClick(range, Qt::LeftButton);
    EXPECT_TRUE(range->isChecked());
    EXPECT_FALSE(exact->isChecked());
    QTest::mouseClick(range, Qt::LeftButton); // unchecking leaves the other alone
    EXPECT_FALSE(range->isChecked());
    EXPECT_FALSE(exact->isChecked());
}

TEST_F(RecordsWindowTest, DeleteAllNeedsTheExactWord) {
    insert();
    window().query();
    for (const QString& wrong :
         {RecordsWindow::deleteAllWord() + QLatin1Char(' '),
          QLatin1Char('"') + RecordsWindow::deleteAllWord() + QLatin1Char('"'), QString()}) {
        DialogAnswers answers({DialogAnswers::type(wrong)});
        QTest::mouseClick(window().deleteAllButton(), Qt::LeftButton);
        ASSERT_EQ(answers.seen().size(), 1u) << "no message after a wrong word";
        EXPECT_TRUE(answers.seen()[0].input);
        EXPECT_TRUE(answers.seen()[0].caption.isEmpty());
        EXPECT_EQ(answers.seen()[0].text,
                  QStringLiteral("确定,删除所有分享记录吗? 确定删除,请输入 \"删除所有分享记录\""));
        EXPECT_EQ(model().rowCount(), 4);
    }
    {
        DialogAnswers cancelled({DialogAnswers::cancel()});
        window().deleteAll();
        EXPECT_EQ(cancelled.seen().size(), 1u);
    }
    Expected<RecordSet> all = store_.selectAll();
    ASSERT_TRUE(all);
    all->first();
    EXPECT_EQ(all->rowCount(), 4u);

    DialogAnswers answers({DialogAnswers::type(QStringLiteral("删除所有分享记录")),
                           DialogAnswers::press(QMessageBox::Ok)});
    QTest::mouseClick(window().deleteAllButton(), Qt::LeftButton);
    ASSERT_EQ(answers.seen().size(), 2u);
    EXPECT_EQ(answers.seen()[1].text, QStringLiteral("删除成功"));
    EXPECT_EQ(answers.seen()[1].icon, QMessageBox::NoIcon);
    EXPECT_EQ(model().rowCount(), 0);

    // The ids start again at 1.
    ASSERT_TRUE(store_.insertRecord(kRecords[0]));
    window().query();
    EXPECT_EQ(listedIds(), (std::vector<std::int64_t>{1}));
}

TEST_F(RecordsWindowTest, DeleteAllOnAClosedLedgerSaysWhyAndShowsNoSuccess) {
    ASSERT_TRUE(store_.close());
    DialogAnswers answers({DialogAnswers::type(RecordsWindow::deleteAllWord()),
                           DialogAnswers::press(QMessageBox::Ok),
                           DialogAnswers::press(QMessageBox::Ok)});
    window().deleteAll();
    ASSERT_EQ(answers.seen().size(), 3u);
    EXPECT_TRUE(answers.seen()[1].text.startsWith(QStringLiteral("删除失败")));
    EXPECT_TRUE(answers.seen()[2].text.startsWith(QStringLiteral("查询失败")));
    EXPECT_EQ(model().rowCount(), 0);
}

TEST_F(RecordsWindowTest, DeleteSelectedRemovesTheTickedRowsOnOkOnly) {
    insert();
    window().query();
    model().setTicked(0, true);
    model().setTicked(2, true);

    {
        DialogAnswers cancelled({DialogAnswers::press(QMessageBox::Cancel)});
        QTest::mouseClick(window().deleteSelectedButton(), Qt::LeftButton);
        ASSERT_EQ(cancelled.seen().size(), 1u);
        const AnsweredBox& box = cancelled.seen()[0];
        EXPECT_EQ(box.text, QStringLiteral("彻底从记录里面删除,所选 2 条记录."));
        EXPECT_EQ(box.caption, QStringLiteral("确定删除?"));
        EXPECT_EQ(box.icon, QMessageBox::Question);
        EXPECT_EQ(box.buttons, QMessageBox::Ok | QMessageBox::Cancel);
    }
    EXPECT_EQ(listedIds(), (std::vector<std::int64_t>{1, 2, 3, 4}));
    EXPECT_EQ(model().tickedIds(), (std::vector<std::int64_t>{1, 3}));
    EXPECT_EQ(window().deleteSelectedButton()->text(), QStringLiteral("删除选择 (2)"));

    bool disabledDuringWait = false;
    bool secondPressAsked = false;
    DialogAnswers ok({DialogAnswers::andThen(DialogAnswers::press(QMessageBox::Ok), [&] {
        QTimer::singleShot(300, [&] {
            disabledDuringWait = !window().deleteSelectedButton()->isEnabled();
            // A second press meanwhile does nothing.
            QTest::mouseClick(window().deleteSelectedButton(), Qt::LeftButton);
        });
    })});
    QTest::mouseClick(window().deleteSelectedButton(), Qt::LeftButton);
    secondPressAsked = ok.seen().size() > 1;
    EXPECT_TRUE(disabledDuringWait);
    EXPECT_FALSE(secondPressAsked);
    EXPECT_TRUE(window().deleteSelectedButton()->isEnabled());
    EXPECT_EQ(listedIds(), (std::vector<std::int64_t>{2, 4}));
    EXPECT_TRUE(model().tickedIds().empty());
    EXPECT_EQ(window().deleteSelectedButton()->text(), QStringLiteral("删除选择"));
    EXPECT_EQ(window().statusLabel()->text(), QStringLiteral("已删除 2 条记录"));
}

TEST_F(RecordsWindowTest, DeleteSelectedKeepsTheConditionsOfTheListing) {
    insert();
    window().userEdit()->setText(QStringLiteral("alice"));
    window().query();
    window().userEdit()->clear(); // not queried again: the listing still shows alice
    model().setTicked(0, true);
    DialogAnswers ok({DialogAnswers::press(QMessageBox::Ok)});
    window().deleteSelected();
    EXPECT_EQ(listedIds(), (std::vector<std::int64_t>{3}));
}

TEST_F(RecordsWindowTest, DeleteSelectedWithNothingTickedAsksNothing) {
    insert();
    window().query();
    DialogAnswers answers({DialogAnswers::press(QMessageBox::Ok)});
    window().deleteSelected();
    ASSERT_EQ(answers.seen().size(), 1u);
    EXPECT_NE(answers.seen()[0].caption, QStringLiteral("确定删除?"));
    EXPECT_EQ(model().rowCount(), 4);
}

class RecordsWindowExport : public RecordsWindowTest {
protected:
    QByteArray exportTo(const QString& name, const QString& filter) {
        const QString path = dir_ + QLatin1Char('/') + name;
        window().setSaveFileChooser([path, filter](QWidget*) {
            return ExportTarget{path, filter};
        });
        DialogAnswers answers({DialogAnswers::press(QMessageBox::Ok)});
        QTest::mouseClick(window().exportButton(), Qt::LeftButton);
        messages_ = answers.seen();
        QString written = path;
        if (QFileInfo(path).suffix().isEmpty()) {
            written += filter.contains(QStringLiteral("csv")) ? QStringLiteral(".csv")
                                                              : QStringLiteral(".txt");
        }
        QFile file(written);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void tick(const QStringList& captions) {
        for (QCheckBox* box : window().exportBoxes()) {
            box->setChecked(captions.contains(box->text()));
        }
    }
    std::vector<AnsweredBox> messages_;
};

TEST_F(RecordsWindowExport, CheckedColumnsOfTheListedRowsAsTabSeparatedText) {
    insert();
    window().kindList()->setCurrentIndex(1); // files: 1, 3, 4
    window().query();
    tick({QStringLiteral("ID"), QStringLiteral("链接"), QStringLiteral("密码")});
    const QByteArray text = exportTo(QStringLiteral("links"), QStringLiteral("文本文件(*.txt)"));
    EXPECT_EQ(QString::fromUtf8(text), QStringLiteral("ID\t链接\t密码\n"
                                                      "1\thttps://pan.example/s/1aaa\tab12\n"
                                                      "3\thttps://pan.example/s/1ccc\tef56\n"
                                                      "4\t分享失败\t\n"));
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_TRUE(messages_[0].text.startsWith(QStringLiteral("已导出 3 条记录")))
        << messages_[0].text.toStdString();
}

TEST_F(RecordsWindowExport, CsvHasAByteOrderMarkAndQuotesWhatNeedsIt) {
    insert();
    window().idEdit()->setText(QStringLiteral("4"));
    window().query();
    tick({QStringLiteral("原名称"), QStringLiteral("用户名")});
    const QByteArray bytes =
        exportTo(QStringLiteral("failed.csv"), QStringLiteral("文本文件(*.txt)"));
    ASSERT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
    EXPECT_EQ(QString::fromUtf8(bytes.mid(3)),
              QStringLiteral("原名称,用户\r\n\"delta, \"\"the\"\" file.txt\",bob\r\n"));
}

TEST_F(RecordsWindowExport, NoColumnCheckedWritesThemAll) {
    insert(1);
    window().query();
    const QByteArray text = exportTo(QStringLiteral("all"), QStringLiteral("CSV 文件(*.csv)"));
    const QList<QByteArray> lines = text.mid(3).split('\n');
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(QString::fromUtf8(lines[0]),
              QStringLiteral("ID,路径,原名称,新名称,链接,密码,时间,大小,MD5,用户\r"));
    EXPECT_EQ(QString::fromUtf8(lines[1]),
              QStringLiteral("1,/docs/alpha.txt,alpha.txt,,https://pan.example/s/1aaa,ab12,"
                             "2024-03-01 10:00:00,1.5M,md5-alpha.txt,alice\r"));
}

// The ledger's own files and set.ini are never an export's target: the
// window says so, and the files stay as they were.
struct ProtectedTargetCase {
    const char* name;
    const char* file;     // in the data directory
    const char* filter;   // chosen in the dialog
    bool symlink = false; // the chosen name is a link to `file`
};

class RecordsWindowProtected : public RecordsWindowExport,
                               public ::testing::WithParamInterface<ProtectedTargetCase> {};

TEST_P(RecordsWindowProtected, RefusesTheLedgerAndSettingsFiles) {
    const ProtectedTargetCase& c = GetParam();
    insert();
    window().query();
    QFile settings(dir_ + QStringLiteral("/set.ini"));
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write("[set]\ntime=5\n");
    settings.close();
    QString chosen = dir_ + QLatin1Char('/') + QString::fromUtf8(c.file);
    if (c.symlink) {
        const QString link = dir_ + QStringLiteral("/records.csv");
        ASSERT_TRUE(QFile::link(chosen, link));
        chosen = link;
    }
    window().setSaveFileChooser([chosen, c](QWidget*) {
        return ExportTarget{chosen, QString::fromUtf8(c.filter)};
    });
    DialogAnswers answers({DialogAnswers::press(QMessageBox::Ok)});
    QTest::mouseClick(window().exportButton(), Qt::LeftButton);

    ASSERT_EQ(answers.seen().size(), 1u);
    EXPECT_EQ(answers.seen()[0].text, RecordsWindow::protectedFileMessage(chosen));
    EXPECT_EQ(answers.seen()[0].icon, QMessageBox::Warning);
    EXPECT_EQ(
        vantorel::test::integrityCheck((dir_ + QStringLiteral("/linkledger.db")).toStdString()),
        "ok");
    window().query();
    EXPECT_EQ(listedIds(), (std::vector<std::int64_t>{1, 2, 3, 4}));
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    EXPECT_EQ(settings.readAll(), QByteArray("[set]\ntime=5\n"));
}

INSTANTIATE_TEST_SUITE_P(
    RecordsWindowExport, RecordsWindowProtected,
    ::testing::Values(
        ProtectedTargetCase{"ledger", "linkledger.db", "CSV 文件(*.csv)"},
        ProtectedTargetCase{"write_ahead_log", "linkledger.db-wal", "文本文件(*.txt)"},
        ProtectedTargetCase{"shared_memory", "linkledger.db-shm", "CSV 文件(*.csv)"},
        ProtectedTargetCase{"settings", "set.ini", "文本文件(*.txt)"},
        ProtectedTargetCase{"link_to_the_ledger", "linkledger.db", "CSV 文件(*.csv)", true}),
    vantorel::test::CaseName());

// Names a spreadsheet would run as formulas are led by "'" in CSV; the text
// file keeps them exact.
TEST_F(RecordsWindowExport, CsvKeepsFormulasFromRunningAndTextKeepsThemExact) {
    ASSERT_TRUE(store_.insertRecord(record("0", "=HYPERLINK(\"http://x.example\",\"点我\")", "",
                                           "https://pan.example/s/1f", "ab12",
                                           "2024-03-01 10:00:00", "@SUM(1)")));
    ASSERT_TRUE(store_.insertRecord(record("0", "+cmd", "-2+3", "https://pan.example/s/1g", "cd34",
                                           "2024-03-01 10:00:00", "alice")));
    window().query();
    tick({QStringLiteral("原名称"), QStringLiteral("新名称"), QStringLiteral("用户名")});
    const QByteArray csv =
        exportTo(QStringLiteral("formulas.csv"), QStringLiteral("CSV 文件(*.csv)"));
    EXPECT_EQ(QString::fromUtf8(csv.mid(3)),
              QStringLiteral("原名称,新名称,用户\r\n"
                             "\"'=HYPERLINK(\"\"http://x.example\"\",\"\"点我\"\")\",,'@SUM(1)\r\n"
                             "'+cmd,'-2+3,alice\r\n"));
    const QByteArray text =
        exportTo(QStringLiteral("formulas.txt"), QStringLiteral("文本文件(*.txt)"));
    EXPECT_EQ(QString::fromUtf8(text),
              QStringLiteral("原名称\t新名称\t用户\n"
                             "=HYPERLINK(\"http://x.example\",\"点我\")\t\t@SUM(1)\n"
                             "+cmd\t-2+3\talice\n"));
}

TEST_F(RecordsWindowExport, CancelledDialogWritesNothing) {
    insert(1);
    window().query();
    window().setSaveFileChooser([](QWidget*) { return ExportTarget{}; });
    DialogAnswers answers;
    window().exportRows();
    EXPECT_TRUE(answers.seen().empty());
}

TEST_F(RecordsWindowTest, ContextMenuCopiesTheLinkAndDeletesTheRecord) {
    insert();
    window().query();
    // Opens the menu over a row and picks an entry; returns the entries shown
    // and the boxes that followed.
    const auto choose = [&](int row, const QString& entry,
                            std::vector<DialogAnswers::Answer> boxes) {
        QStringList entries;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (menu == nullptr) {
                return;
            }
            poll.stop();
            for (QAction* action : menu->actions()) {
                if (!action->isSeparator()) {
                    entries << action->text();
                }
            }
            for (QAction* action : menu->actions()) {
                if (action->text() == entry) {
                    menu->setActiveAction(action);
                    QTest::keyClick(menu, Qt::Key_Return);
                    return;
                }
            }
            menu->close();
        });
        poll.start(5);
        DialogAnswers answers(std::move(boxes));
        window().openContextMenu(cellCentre(row, kPathColumn));
        return std::make_pair(entries, answers.seen());
    };

    EXPECT_EQ(choose(0, QStringLiteral("复制链接"), {}).first,
              QStringList({QStringLiteral("复制链接"), QStringLiteral("复制链接和密码"),
                           QStringLiteral("删除此记录")}));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("https://pan.example/s/1aaa"));
    EXPECT_EQ(window().statusLabel()->text(),
              QStringLiteral("已复制链接: https://pan.example/s/1aaa"));

    choose(1, QStringLiteral("复制链接和密码"), {});
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              QStringLiteral("https://pan.example/s/1bbb 提取码: cd34"));
    EXPECT_EQ(window().statusLabel()->text(),
              QStringLiteral("已复制链接和密码: https://pan.example/s/1bbb 提取码: cd34"));

    const std::vector<AnsweredBox> cancelled =
        choose(2, QStringLiteral("删除此记录"), {DialogAnswers::press(QMessageBox::Cancel)}).second;
    ASSERT_EQ(cancelled.size(), 1u);
    EXPECT_EQ(cancelled[0].caption, QStringLiteral("确定删除?"));
    EXPECT_EQ(cancelled[0].icon, QMessageBox::Question);
    EXPECT_EQ(listedIds(), (std::vector<std::int64_t>{1, 2, 3, 4}));

    choose(2, QStringLiteral("删除此记录"), {DialogAnswers::press(QMessageBox::Ok)});
    EXPECT_EQ(listedIds(), (std::vector<std::int64_t>{1, 2, 4}));

    // Below the last row there is no record and no menu.
    QTimer::singleShot(200, [] {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            popup->close();
        }
    });
    const QPoint belowRows(10, window().grid()->viewport()->height() - 5);
    window().openContextMenu(belowRows);
    EXPECT_EQ(listedIds(), (std::vector<std::int64_t>{1, 2, 4}));
}

TEST_F(RecordsWindowTest, ListsWhileAShareRunRecords) {
    std::atomic<bool> done = false;
    std::thread run([&] {
        for (int i = 0; i < 300; ++i) {
            ShareRecord r = kRecords[i % 3];
            r.fid = "run-" + std::to_string(i);
            EXPECT_TRUE(store_.insertRecord(r));
        }
        done = true;
    });
    while (!done) {
        window().query();
        const std::vector<std::int64_t> ids = listedIds();
        EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
    }
    run.join();
    window().query();
    EXPECT_EQ(model().rowCount(), 300);
}

TEST(SecondaryWindows, RecordsOpenBesideTheMainWindowAndSettingsAsAModalDialog) {
    TestState test(deadOrigin());
    ASSERT_TRUE(test.state.recordStore.openOrCreate(test.filePath("linkledger.db").toStdString()));
    auto loaded = MainWindow::load(test.state);
    ASSERT_TRUE(loaded);
    MainWindow& window = **loaded;
    installSecondaryWindows(window, test.state.recordStore, test.state.dataDir);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    // 管理: the records window is not modal and leaves the toolbar in sight.
    window.onToolbarClick(kManageButton);
    EXPECT_TRUE(window.isButtonEnabled(kManageButton));
    RecordsWindow* records = nullptr;
    ASSERT_TRUE(waitFor([&] {
        records = window.findChild<RecordsWindow*>();
        return records != nullptr && records->isVisible();
    }));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    const QRect toolbar(window.toolbar()->mapToGlobal(QPoint(0, 0)), window.toolbar()->size());
    EXPECT_FALSE(records->frameGeometry().intersects(toolbar))
        << testing::PrintToString(records->frameGeometry()) << " over "
        << testing::PrintToString(toolbar);
    EXPECT_TRUE(window.screen()->availableGeometry().contains(records->frameGeometry()));
    // Pressed again, the same window comes to the front.
    window.onToolbarClick(kManageButton);
    EXPECT_EQ(window.findChildren<RecordsWindow*>().size(), 1);
    records->close();
    EXPECT_TRUE(waitFor([&] { return window.findChild<RecordsWindow*>() == nullptr; }));

    // 设置: modal, the button held while it is open.
    QString opened;
    bool held = false;
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [&, timer] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible()) {
            return;
        }
        timer->stop();
        timer->deleteLater();
        opened = QString::fromUtf8(modal->metaObject()->className());
        held = !window.isButtonEnabled(kSettingsButton);
        modal->close();
    });
    timer->start(10);
    window.onToolbarClick(kSettingsButton);
    EXPECT_EQ(opened, QStringLiteral("vantorel::gui::SettingsWindow"));
    EXPECT_TRUE(held);
    EXPECT_TRUE(window.isButtonEnabled(kSettingsButton));
}

} // namespace
