// The app's tests need one QApplication for the whole process, made before any
// window and after the attributes the embedded browser wants. They run
// headless, and the browser's sandbox cannot start as root: both are set here,
// because ctest hands a discovered test only one environment variable.

#include "app/program_start.h"
#include "test_support.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>

namespace vantorel::gui::test {

namespace {
QStringList& scratchDirectories() {
    static QStringList directories;
    return directories;
}
} // namespace

QString scratchDirectory() {
    QTemporaryDir dir;
    dir.setAutoRemove(false);
    scratchDirectories().append(dir.path());
    return dir.path();
}

void removeScratchDirectories() {
    for (const QString& path : scratchDirectories()) {
        QDir(path).removeRecursively();
    }
    scratchDirectories().clear();
}

} // namespace vantorel::gui::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests needs no windows; skipping Qt keeps discovery light.
    bool listing = false;
    for (int i = 1; i < argc; ++i) {
        listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
    }
    std::unique_ptr<QApplication> app;
    if (!listing) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        if (qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) {
            qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        }
        vantorel::gui::prepareBrowserEnvironment();
        app = std::make_unique<QApplication>(argc, argv);
    }
    const int result = RUN_ALL_TESTS();
    app.reset(); // the browser engine shuts down and writes its last files
    vantorel::gui::test::removeScratchDirectories();
    return result;
}
