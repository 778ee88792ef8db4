// Runs the whole program as `vantorel` runs it and works it as a user would,
// against the simulated service, for checks and pictures that need the real
// process from start to exit:
//
//   app-driver close-during-run -- PROGRAM-OPTIONS
//       logs in on the page, opens /我的文档, ticks every item, presses 分享
//       and closes the main window as soon as the first row is in the ledger,
//       while the run goes on with the next item.
//   app-driver screenshot FILE SCREEN-FILE MINIMUM-FILE -- PROGRAM-OPTIONS
//       logs in, opens /我的文档, ticks two items, presses 分享, saves a
//       picture of the main window once the first item is shared (FILE),
//       opens the records window beside it and saves the whole screen
//       (SCREEN-FILE), then the main window at its minimum size
//       (MINIMUM-FILE), and closes the window.
//   app-driver records-sync FILE -- PROGRAM-OPTIONS
//       logs in, shares every item of /我的文档, has the service block one
//       share and the browser cancel another, opens the records window and
//       syncs; then, three days later on the service's clock, syncs again and
//       saves the screen while that sync is under way (FILE). The service
//       should answer its share list slowly (--delay record=MS).
//
// PROGRAM-OPTIONS are the program's own (--origin, --data-dir, ...). The exit
// status is the program's; 3 when a step did not come about.

#include "app/main_window.h"
#include "app/program_start.h"
#include "app/program_state.h"
#include "sim_window.h"
#include "ui/records_window.h"
#include "ui/ui_wait.h"

#include <QApplication>
#include <QCoreApplication>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#if defined(__linux__)
#include <csignal>
#include <sys/prctl.h>
#endif

using namespace vantorel::gui;
using namespace vantorel::gui::test;

namespace {

constexpr int kStepMs = 60'000;

bool fail(const char* step) {
    std::fprintf(stderr, "app-driver: %s did not come about\n", step);
    QCoreApplication::exit(3);
    return false;
}

bool logInAndOpen(MainWindow& window) {
    if (!logInOnPage(window, kStepMs)) {
        return fail("the login");
    }
    if (!openFolder(window, QStringLiteral("/我的文档"), kStepMs)) {
        return fail("opening /我的文档");
    }
    return true;
}

void closeDuringRun(MainWindow& window, ProgramState& state) {
    if (!logInAndOpen(window)) {
        return;
    }
    if (pageScript(window, QStringLiteral("return String(__sim.selectAll());")).toInt() < 2) {
        fail("ticking the items");
        return;
    }
    window.toolbarButton(kShareButton)->click();
    const bool recorded = QTest::qWaitFor(
        [&] {
            const auto rows = state.recordStore.selectRecords({});
            return rows && !rows->empty();
        },
        kStepMs);
    if (!recorded) {
        fail("the first row");
        return;
    }
    window.close();
}

bool save(const QPixmap& picture, const QString& file) {
    if (!picture.save(file)) {
        std::fprintf(stderr, "app-driver: cannot save %s\n", qPrintable(file));
        QCoreApplication::exit(3);
        return false;
    }
    return true;
}

void screenshot(MainWindow& window, ProgramState&, const QStringList& files) {
    if (!logInAndOpen(window)) {
        return;
    }
    if (tickItems(window, {QStringLiteral("报告 2021.docx"), QStringLiteral("照片_001.jpg")}) !=
        2) {
        fail("ticking the items");
        return;
    }
    window.toolbarButton(kShareButton)->click();
    if (!QTest::qWaitFor([&] { return window.progressBar()->value() >= 1; }, kStepMs)) {
        fail("the first share");
        return;
    }
    waitPumping(600); // let the page and the bar paint
    if (!save(window.grab(), files[0])) {
        return;
    }
    // The records window beside the run: what the screen shows.
    window.onToolbarClick(kManageButton);
    waitPumping(800);
    if (!save(window.screen()->grabWindow(0), files[1])) {
        return;
    }
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top != &window && top->isVisible()) {
            top->close();
        }
    }
    window.resize(window.minimumSize());
    waitPumping(600);
    if (!save(window.grab(), files[2])) {
        return;
    }
    window.close();
}

// Posts to one of the simulator's control endpoints from the page, which
// is on the simulator's origin.
void simControl(MainWindow& window, const QString& path, const QString& json) {
    pageScript(window, QStringLiteral("fetch(%1, {method: 'POST', body: %2}); return '';")
                           .arg(jsString(path), jsString(json)));
    waitPumping(300);
}

QString shareIdOf(MainWindow& window, int index) {
    return pageScript(window,
                      QStringLiteral("var x = new XMLHttpRequest(); x.open('GET', '/__sim/state', "
                                     "false); x.send(); return String(JSON.parse(x.responseText)"
                                     ".shares[%1].shareid);")
                          .arg(index));
}

void recordsSync(MainWindow& window, ProgramState&, const QString& file) {
    if (!logInAndOpen(window)) {
        return;
    }
    const int items =
        pageScript(window, QStringLiteral("return String(__sim.selectAll());")).toInt();
    BoxAnswerer boxes;
    window.toolbarButton(kShareButton)->click();
    if (!boxes.waitForBoxes(1, kStepMs) ||
        !QTest::qWaitFor([&] { return !window.shareRunning(); }, kStepMs)) {
        fail("the share run");
        return;
    }
    simControl(window, QStringLiteral("/__sim/share/block"),
               QStringLiteral("{\"shareid\":%1}").arg(shareIdOf(window, 1)));
    simControl(window, QStringLiteral("/__sim/share/cancel"),
               QStringLiteral("{\"shareid\":%1}").arg(shareIdOf(window, items - 2)));

    window.onToolbarClick(kManageButton);
    auto* records = window.findChild<RecordsWindow*>();
    if (records == nullptr) {
        fail("the records window");
        return;
    }
    records->syncButton()->click();
    if (!QTest::qWaitFor([&] { return !records->shareWorkRunning(); }, kStepMs)) {
        fail("the first sync");
        return;
    }
    simControl(window, QStringLiteral("/__sim/clock"), QStringLiteral("{\"advance\":259200}"));
    records->syncButton()->click();
    waitPumping(800);
    if (!records->shareWorkRunning()) {
        fail("a sync under way");
        return;
    }
    if (!save(window.screen()->grabWindow(0), file)) {
        return;
    }
    window.close();
}

} // namespace

int main(int argc, char** argv) {
#if defined(__linux__)
    // Never outlive the test that started it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
    std::vector<char*> programArgs{argv[0]};
    std::string scenario;
    QStringList files;
    int i = 1;
    if (i < argc) {
        scenario = argv[i++];
    }
    while ((scenario == "screenshot" || scenario == "records-sync") && i < argc &&
           std::strcmp(argv[i], "--") != 0) {
        files.append(QString::fromLocal8Bit(argv[i++]));
    }
    if (i < argc && std::strcmp(argv[i], "--") == 0) {
        ++i;
    }
    for (; i < argc; ++i) {
        programArgs.push_back(argv[i]);
    }
    programArgs.push_back(nullptr);

    StartHooks hooks;
    if (scenario == "close-during-run") {
        hooks.onShown = closeDuringRun;
    } else if (scenario == "screenshot" && files.size() == 3) {
        hooks.onShown = [files](MainWindow& window, ProgramState& state) {
            screenshot(window, state, files);
        };
    } else if (scenario == "records-sync" && files.size() == 1) {
        hooks.onShown = [files](MainWindow& window, ProgramState& state) {
            recordsSync(window, state, files[0]);
        };
    } else {
        std::fputs("usage: app-driver close-during-run | screenshot FILE SCREEN-FILE MINIMUM-FILE "
                   "| records-sync FILE -- PROGRAM-OPTIONS\n",
                   stderr);
        return 2;
    }
    hooks.reportLoadFailure = [](const QString& text, const QString& details) {
        std::fprintf(stderr, "app-driver: %s: %s\n", qPrintable(text), qPrintable(details));
    };
    int programArgc = static_cast<int>(programArgs.size()) - 1;
    return runProgram(programArgc, programArgs.data(), hooks);
}
