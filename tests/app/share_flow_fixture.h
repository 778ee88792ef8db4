#pragma once

// The program's main window opened on a simulated service of the test's own,
// with its ledger and set.ini in a scratch directory, and the helpers the
// desktop's end-to-end tests share.

#include "app/browser_view.h"
#include "app/main_window.h"
#include "app/program_state.h"
#include "records/record_store.h"
#include "sim_process.h"
#include "sim_window.h"
#include "test_support.h"

#include <QFile>
#include <QProgressBar>
#include <QSignalSpy>
#include <QToolButton>
#include <QWebEnginePage>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace vantorel::gui::test {

using vantorel::ShareRecord;
using vantorel::test::SimProcess;

// The toolbar and the progress bar at one moment.
struct Toolbar {
    bool share = false;
    bool stop = false;
    int position = 0;
    int maximum = 0;
    bool operator==(const Toolbar&) const = default;
};

inline void PrintTo(const Toolbar& t, std::ostream* os) {
    *os << "{share " << (t.share ? "on" : "off") << ", stop " << (t.stop ? "on" : "off")
        << ", progress " << t.position << "/" << t.maximum << "}";
}

class ShareFlowTest : public ::testing::Test {
protected:
    // Starts the simulator with `simArgs`, writes `settings` as set.ini and
    // opens the program's window on the simulator, ledger and all.
    void start(std::vector<std::string> simArgs = {}, const std::string& settings = "time=1\n",
               const std::function<void(TestState&)>& prepare = {}) {
        sim_ = std::make_unique<SimProcess>(std::move(simArgs));
        ASSERT_TRUE(sim_->started()) << sim_->error();
        test_ = std::make_unique<TestState>(QUrl(QString::fromStdString(sim_->origin())));
        writeSettings(settings);
        if (prepare) {
            prepare(*test_);
        }
        auto loaded = MainWindow::load(test_->state);
        ASSERT_TRUE(loaded) << loaded.error().message;
        window_ = std::move(loaded.value());
        window_->onCreated();
        QSignalSpy settled(window_->browserView()->page(), &QWebEnginePage::loadFinished);
        window_->show();
        ASSERT_TRUE(waitFor([&] { return !settled.isEmpty(); }));
    }

    void writeSettings(const std::string& settings) {
        QFile file(test_->filePath(QStringLiteral("set.ini")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(("[set]\n" + settings).c_str());
    }

    // Logs in on the page, opens `folder` and ticks `names` there.
    void prepareShare(const QString& folder, const QStringList& names) {
        ASSERT_TRUE(logInOnPage(window(), kPatienceMs));
        ASSERT_TRUE(openFolder(window(), folder, kPatienceMs));
        if (!names.isEmpty()) {
            ASSERT_EQ(tickItems(window(), names), names.size());
        }
    }

    void TearDown() override {
        window_.reset();
        sim_.reset();
    }

    MainWindow& window() { return *window_; }

    Toolbar toolbar() const {
        return {window_->isButtonEnabled(kShareButton), window_->isButtonEnabled(kStopButton),
                window_->progressBar()->value(), window_->progressBar()->maximum()};
    }

    void pressShare() { window().toolbarButton(kShareButton)->click(); }
    void pressStop() { window().toolbarButton(kStopButton)->click(); }

    std::vector<ShareRecord> records() {
        auto rows = test_->state.recordStore.selectRecords({});
        EXPECT_TRUE(rows) << rows.error().message;
        return rows ? *rows : std::vector<ShareRecord>{};
    }

    std::string fsIdOf(const QString& name) {
        return pageScript(window(), QStringLiteral("var row = document.querySelector("
                                                   "'tr.sim-row[data-name=' + JSON.stringify(%1) "
                                                   "+ ']'); return row ? row.getAttribute("
                                                   "'data-fs-id') : '';")
                                        .arg(jsString(name)))
            .toStdString();
    }

    // Waits until the run's worker has ended and its last calls reached the
    // window.
    void waitForRunEnd() {
        ASSERT_TRUE(waitFor([&] { return !window().shareRunning(); }));
        QCoreApplication::processEvents();
    }

    std::string linkPrefix() const { return sim_->origin() + "/s/"; }

    BoxAnswerer boxes_;
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<TestState> test_;
    std::unique_ptr<MainWindow> window_;
};

} // namespace vantorel::gui::test
