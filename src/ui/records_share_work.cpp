// The records window's work on the service's shares: 同步状态, 取消分享,
// 重新分享, their progress and their stop.

#include "base/time_text.h"
#include "records/share_states.h"
#include "ui/records_window.h"

#include <QDateTime>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <algorithm>

namespace vantorel::gui {

namespace {

// During a sync the states shown are read again at most this often: a
// ledger of 100,000 rows is not re-read for every page of the service's list.
constexpr std::int64_t kStatesRefreshMs = 1000;

template <class Widget> Widget* named(Widget* widget, const char16_t* name) {
    widget->setObjectName(QString::fromUtf16(name));
    return widget;
}

} // namespace

RecordsWindow::~RecordsWindow() {
    if (worker_.joinable()) {
        worker_.request_stop();
        worker_.join();
    }
}

void RecordsWindow::buildShareWork() {
    sync_ = named(new QPushButton(QStringLiteral("同步状态"), this), u"按钮_同步状态");
    cancel_ = named(new QPushButton(QStringLiteral("取消分享"), this), u"按钮_取消分享");
    reshare_ = named(new QPushButton(QStringLiteral("重新分享"), this), u"按钮_重新分享");
    stopWork_ = named(new QPushButton(QStringLiteral("停止"), this), u"按钮_停止");
    workProgress_ = named(new QProgressBar(this), u"进度条_同步");
    workProgress_->setMinimumWidth(180);
    workProgress_->setTextVisible(true);
    for (QWidget* widget : {static_cast<QWidget*>(sync_), static_cast<QWidget*>(cancel_),
                            static_cast<QWidget*>(reshare_), static_cast<QWidget*>(stopWork_),
                            static_cast<QWidget*>(workProgress_)}) {
        widget->hide();
    }
    connect(sync_, &QPushButton::clicked, this, [this] { syncStates(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { cancelShares(); });
    connect(reshare_, &QPushButton::clicked, this, [this] { reshare(); });
    connect(stopWork_, &QPushButton::clicked, this, [this] { stopShareWork(); });
    statesTimer_ = new QTimer(this);
    statesTimer_->setSingleShot(true);
    connect(statesTimer_, &QTimer::timeout, this, [this] { showStates(); });
}

void RecordsWindow::setShareWork(ShareWorkProvider* provider) {
    stopShareWork();
    shareWork_ = provider;
    for (QPushButton* button : {sync_, cancel_, reshare_}) {
        button->setVisible(provider != nullptr);
    }
}

bool RecordsWindow::shareWorkRunning() const {
    return worker_.joinable();
}

QString RecordsWindow::cancelQuestion(std::size_t count) {
    return QStringLiteral("取消所选 %1 条记录的分享?取消后链接失效,记录保留。").arg(count);
}

std::vector<std::int64_t> RecordsWindow::chosenIds() const {
    std::vector<std::int64_t> ids = model_->tickedIds();
    if (!ids.empty()) {
        return ids;
    }
    const QModelIndexList rows = grid_->selectionModel()->selectedRows();
    for (const QModelIndex& row : rows) {
        ids.push_back(model_->rowId(row.row()));
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

void RecordsWindow::syncStates() {
    startShareWork(ShareWork::Sync, {}, QStringLiteral("正在同步状态"));
}

void RecordsWindow::cancelShares() {
    const std::vector<std::int64_t> ids = chosenIds();
    if (ids.empty()) {
        report(QStringLiteral("请先勾选或选中要取消分享的记录。"));
        return;
    }
    QMessageBox box(QMessageBox::Question, QStringLiteral("取消分享"), cancelQuestion(ids.size()),
                    QMessageBox::Ok | QMessageBox::Cancel, this);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    box.button(QMessageBox::Cancel)->setText(QStringLiteral("取消"));
    box.setDefaultButton(QMessageBox::Cancel);
    if (box.exec() != QMessageBox::Ok) {
        return;
    }
    startShareWork(ShareWork::Cancel, ids, QStringLiteral("正在取消分享"));
}

void RecordsWindow::reshare() {
    const std::vector<std::int64_t> ids = chosenIds();
    if (ids.empty()) {
        report(QStringLiteral("请先勾选或选中要重新分享的记录。"));
        return;
    }
    startShareWork(ShareWork::Reshare, ids, QStringLiteral("正在重新分享"));
}

void RecordsWindow::startShareWork(ShareWork work, std::vector<std::int64_t> ids,
                                   const QString& activity) {
    if (shareWork_ == nullptr || shareWorkRunning()) {
        return;
    }
    Expected<ShareWorkJob> job = shareWork_->prepare(work, std::move(ids));
    if (!job) {
        report(QString::fromStdString(job.error().message), true);
        return;
    }
    activity_ = activity;
    showStatus(QString());
    statesShownAt_ = QDateTime::currentMSecsSinceEpoch();
    setWorking(true);
    showWorkProgress({});
    // The reports are queued to this window; the destructor joins the
    // worker before the window goes, and Qt drops what is still queued.
    // Reports of a piece of work already stopped find another number here.
    const unsigned run = ++workRun_;
    worker_ = std::jthread([this, run, job = std::move(*job)](std::stop_token stop) {
        const ShareWorkReporter report = [this, run](const ShareWorkProgress& progress) {
            QMetaObject::invokeMethod(
                this,
                [this, run, progress] {
                    if (run == workRun_ && shareWorkRunning()) {
                        showWorkProgress(progress);
                    }
                },
                Qt::QueuedConnection);
        };
        Expected<std::string> outcome = job(stop, report);
        QMetaObject::invokeMethod(
            this,
            [this, run, outcome = std::move(outcome)] {
                if (run == workRun_ && shareWorkRunning()) {
                    finishShareWork(outcome);
                }
            },
            Qt::QueuedConnection);
    });
}

void RecordsWindow::showWorkProgress(const ShareWorkProgress& progress) {
    if (progress.total > 0) {
        workProgress_->setRange(0, static_cast<int>(progress.total));
        workProgress_->setValue(static_cast<int>(std::min(progress.done, progress.total)));
        workProgress_->setFormat(
            QStringLiteral("%1 %2/%3").arg(activity_).arg(progress.done).arg(progress.total));
    } else {
        // Nothing to measure against yet: a bar that keeps its place, with a
        // count of what is done.
        workProgress_->setRange(0, 1);
        workProgress_->setValue(0);
        workProgress_->setFormat(progress.done > 0
                                     ? QStringLiteral("%1 %2").arg(activity_).arg(progress.done)
                                     : activity_ + QStringLiteral("…"));
    }
    if (progress.ledgerChanged && !statesTimer_->isActive()) {
        // At most one reading per second, and the last change always shown.
        const std::int64_t since = QDateTime::currentMSecsSinceEpoch() - statesShownAt_;
        statesTimer_->start(static_cast<int>(
            std::clamp<std::int64_t>(kStatesRefreshMs - since, 0, kStatesRefreshMs)));
    }
}

void RecordsWindow::showStates() {
    statesShownAt_ = QDateTime::currentMSecsSinceEpoch();
    Expected<std::vector<ShareStatus>> statuses = ShareStates(store_).statuses();
    if (statuses) {
        model_->setShares(*statuses, unixSecondsNow());
    }
}

void RecordsWindow::finishShareWork(const Expected<std::string>& outcome) {
    worker_.join();
    setWorking(false);
    // The rows a re-share added, and every new state.
    relist();
    if (outcome) {
        showStatus(QString::fromStdString(*outcome));
    } else {
        showStatus(QString());
        report(QString::fromStdString(outcome.error().message), true);
    }
}

void RecordsWindow::stopShareWork() {
    if (!worker_.joinable()) {
        return;
    }
    worker_.request_stop();
    worker_.join();
    setWorking(false);
    if (listed_) {
        relist();
    }
    showStatus(activity_ + QStringLiteral("已停止,已完成的部分已保存。"));
}

void RecordsWindow::setWorking(bool working) {
    if (!working) {
        statesTimer_->stop();
    }
    for (QPushButton* button : {sync_, cancel_, reshare_}) {
        button->setEnabled(!working);
    }
    stopWork_->setVisible(working);
    stopWork_->setEnabled(working);
    workProgress_->setVisible(working);
}

void RecordsWindow::done(int result) {
    // Closing the window ends its work; what was stored stays.
    stopShareWork();
    QDialog::done(result);
}

} // namespace vantorel::gui
