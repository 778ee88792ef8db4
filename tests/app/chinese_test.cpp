// Chinese throughout: Qt's own buttons and dialogs speak Chinese, every date
// box shows one format, and the calendar popup shows its last week whole.

#include "dialog_answers.h"
#include "records/record_store.h"
#include "test_support.h"
#include "ui/records_window.h"

#include <QCalendarWidget>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace vantorel;
using namespace vantorel::gui;
using namespace vantorel::gui::test;

TEST(Chinese, StandardButtonsSpeakChinese) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("确定删除?"), QStringLiteral("?"),
                    QMessageBox::Ok | QMessageBox::Cancel | QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(box.button(QMessageBox::Ok)->text(), QStringLiteral("确定"));
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QStringLiteral("取消"));
    EXPECT_EQ(box.button(QMessageBox::Yes)->text().remove(QLatin1Char('&')).left(1),
              QStringLiteral("是"));
    EXPECT_EQ(QLocale().name(), QStringLiteral("zh_CN"));
}

TEST(Chinese, ExportFileDialogSpeaksChinese) {
    QFileDialog dialog(nullptr, QStringLiteral("导出"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.show();
    auto* buttons = dialog.findChild<QDialogButtonBox*>();
    ASSERT_NE(buttons, nullptr);
    QStringList texts;
    for (QAbstractButton* button : buttons->buttons()) {
        texts << button->text().remove(QLatin1Char('&'));
    }
    EXPECT_TRUE(texts.contains(QStringLiteral("取消"))) << texts.join(',').toStdString();
    EXPECT_FALSE(texts.contains(QStringLiteral("Cancel"))) << texts.join(',').toStdString();
    dialog.close();
}

class DateBoxes : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(store_.openOrCreate(
            (scratchDirectory() + QStringLiteral("/linkledger.db")).toStdString()));
        window_ = std::make_unique<RecordsWindow>(store_);
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    }
    QList<QDateEdit*> boxes() const {
        return {window_->exactDateEdit(), window_->rangeFromEdit(), window_->rangeToEdit()};
    }
    RecordStore store_;
    std::unique_ptr<RecordsWindow> window_;
};

TEST_F(DateBoxes, EveryDateBoxShowsYearMonthDay) {
    for (QDateEdit* box : boxes()) {
        box->setDate(QDate(2026, 12, 10));
        EXPECT_EQ(box->text(), QStringLiteral("2026-12-10")) << qPrintable(box->objectName());
        // Wide enough for what it shows.
        EXPECT_GE(box->width(), box->minimumSizeHint().width()) << qPrintable(box->objectName());
    }
}

TEST_F(DateBoxes, CalendarPopupIsChineseAndShowsItsLastRowWhole) {
    for (QDateEdit* box : boxes()) {
        // August 2026 begins on a Saturday: its weeks fill all six rows.
        box->setDate(QDate(2026, 8, 1));
        // A click on the arrow at the right end opens it.
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->width() - 6, box->height() / 2));
        QCalendarWidget* calendar = box->calendarWidget();
        ASSERT_TRUE(waitFor([&] { return calendar->isVisible(); }))
            << qPrintable(box->objectName());
        QCoreApplication::processEvents();
        EXPECT_EQ(calendar->locale().name(), QStringLiteral("zh_CN"));
        const auto* month =
            calendar->findChild<QToolButton*>(QStringLiteral("qt_calendar_monthbutton"));
        ASSERT_NE(month, nullptr);
        EXPECT_EQ(month->text(), QStringLiteral("八月")) << month->text().toStdString();

        auto* view = calendar->findChild<QTableView*>(QStringLiteral("qt_calendar_calendarview"));
        ASSERT_NE(view, nullptr);
        const int last = view->model()->rowCount() - 1;
        EXPECT_LE(view->rowViewportPosition(last) + view->rowHeight(last),
                  view->viewport()->height())
            << qPrintable(box->objectName());
        // The popup holds the whole calendar.
        QWidget* popup = calendar->window();
        EXPECT_TRUE(
            popup->rect().contains(QRect(calendar->mapTo(popup, QPoint(0, 0)), calendar->size())));
        EXPECT_GE(calendar->height(), calendar->minimumSizeHint().height());
        popup->close();
        QCoreApplication::processEvents();
    }
}
