// The toolbar's share and stop commands: the share session under the
// window, its questions and messages, and the tally in the status bar.

#include "app/browser_answers.h"
#include "app/main_window.h"
#include "app/program_state.h"
#include "app/ui_share_observer.h"
#include "app/web_login_source.h"
#include "netdisk/page_text.h"
#include "ui/ui_wait.h"

#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <thread>

namespace vantorel::gui {

namespace {

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QMessageBox::Icon refusalIcon(StartRefusal refusal) {
    // A value the service would refuse is a plain note, as the settings
    // window gives it; everything else is a warning.
    return refusal == StartRefusal::BadSettings ? QMessageBox::NoIcon : QMessageBox::Warning;
}

} // namespace

void MainWindow::shareCommand() {
    setButtonEnabled(kShareButton, false);
    setButtonEnabled(kStopButton, true);
    const unsigned long long stopsBefore = stopClicks_;
    // The command runs nested event loops (the wait, the page script, the
    // login requests, message boxes); a stop or a close meanwhile calls the
    // whole command off.
    const auto calledOff = [&] {
        return closing_ || stopClicks_ != stopsBefore;
    };

    waitPumping(100);
    if (calledOff()) {
        return;
    }
    BrowserAnswers browser(*loginSource_);
    if (calledOff()) {
        return;
    }
    Expected<PreparedShare> prepared = prepareShare(browser);
    if (calledOff()) {
        return;
    }
    if (!prepared) {
        showRefusal(prepared.error());
        return;
    }
    state_.shareOptions = prepared->options;
    if (!settleSelection(*prepared)) {
        if (!calledOff()) {
            giveShareBack();
        }
        return;
    }
    observer_->reopen();
    tally_ = RunSummary{};
    entries_ = 0;
    renamedInRun_ = false;
    startedPath_.clear();
    if (const Status started = session_->start(std::move(*prepared)); !started) {
        showRefusal(started.error());
        return;
    }
    showTally(tally_, false);
    showActivity(QStringLiteral("正在读取要分享的项目…"));
}

Expected<PreparedShare> MainWindow::prepareShare(BrowserSource& browser) {
    std::optional<Expected<PreparedShare>> prepared;
    QEventLoop loop;
    {
        std::jthread helper([&](std::stop_token stop) {
            prepared.emplace(session_->prepare(browser, std::move(stop)));
            QMetaObject::invokeMethod(
                &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
        });
        gatherStop_ = helper.get_stop_source();
        loop.exec();
        // An application exit ends the loop early: the requests are
        // abandoned and the helper joined here.
        helper.request_stop();
    }
    gatherStop_ = std::stop_source(std::nostopstate);
    return std::move(*prepared);
}

bool MainWindow::settleSelection(PreparedShare& share) {
    switch (share.selection) {
    case SelectionState::Readable:
        return true;
    case SelectionState::Unreadable:
        showMessage(fromUtf8(kSelectionUnreadableMessage), QMessageBox::Warning);
        return false;
    case SelectionState::FolderOnly:
        break;
    }
    // The page could not say what is selected. Sharing nothing and calling
    // it done would mislead; the folder of the address is the one thing left
    // to offer.
    const QString question =
        QStringLiteral("无法读取页面中选中的项目。是否分享当前文件夹中的全部项目?\n\n%1")
            .arg(fromUtf8(share.folder));
    if (!askYesNo(question)) {
        return false;
    }
    ShareSession::shareAddressFolder(share);
    return true;
}

bool MainWindow::askYesNo(const QString& text) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("信息："), text,
                    QMessageBox::Yes | QMessageBox::No);
    box.setWindowModality(Qt::ApplicationModal);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("是"));
    box.button(QMessageBox::No)->setText(QStringLiteral("否"));
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void MainWindow::showRefusal(const Error& refused) {
    progress_->setFormat(QStringLiteral("就绪"));
    const unsigned long long stopsBefore = stopClicks_;
    showMessage(QString::fromStdString(refused.message),
                refusalIcon(static_cast<StartRefusal>(refused.code)));
    if (!closing_ && stopClicks_ == stopsBefore) {
        giveShareBack();
    }
}

void MainWindow::giveShareBack() {
    setButtonEnabled(kShareButton, true);
    setButtonEnabled(kStopButton, false);
}

void MainWindow::stopCommand() {
    setButtonEnabled(kStopButton, false);
    setButtonEnabled(kShareButton, true);
    ++stopClicks_;
    gatherStop_.request_stop();
    const bool wasRunning = session_->running();
    // What the stopped run still has queued for the window is dropped, and a
    // box it waits on taken down.
    observer_->close();
    session_->stop();
    observer_->reopen();
    pauseTicker_.stop();
    activity_->clear();
    if (wasRunning) {
        showTally(session_->summary(), true);
    }
}

void MainWindow::showTally(const RunSummary& summary, bool finished) {
    QString text = QStringLiteral("已分享 %1 · 失败 %2 · 跳过 %3")
                       .arg(summary.shared)
                       .arg(summary.failed)
                       .arg(summary.skipped);
    if (summary.pending > 0) {
        text += QStringLiteral(" · 待下次 %1").arg(summary.pending);
    }
    if (finished) {
        switch (summary.end) {
        case RunEnd::Completed:
            text += QStringLiteral("（已完成）");
            break;
        case RunEnd::QuotaReached:
            text += QStringLiteral("（已达每日数量）");
            break;
        case RunEnd::Stopped:
            text += QStringLiteral("（已停止）");
            break;
        case RunEnd::LedgerFailed:
            text += QStringLiteral("（记录失败，已停止）");
            break;
        case RunEnd::ListingFailed:
            text += QStringLiteral("（获取文件列表失败）");
            break;
        case RunEnd::RunRefused:
            text += QStringLiteral("（服务拒绝，已停止）");
            break;
        case RunEnd::SettleFailed:
            text += QStringLiteral("（无法核对上次的分享，已停止）");
            break;
        }
    }
    runStatus_->setText(text);
}

} // namespace vantorel::gui
