// The app's tests need one QApplication for the whole process, made before any
// window and after the attributes the embedded browser wants. They run
// headless (the offscreen platform, on a screen of 1366 x 850 unless the
// environment names another platform), and the browser's sandbox cannot start
// as root: both are set here, because ctest hands a discovered test only one
// environment variable.

#include "app/chinese_locale.h"
#include "app/program_start.h"
#include "test_support.h"

#include <QApplication>
#include <gtest/gtest.h>
#include <memory>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests needs no windows; skipping Qt keeps discovery light.
    // InitGoogleTest has taken the flag out of argv already.
    const bool listing = GTEST_FLAG_GET(list_tests);
    std::unique_ptr<QApplication> app;
    if (!listing) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            // A screen of a common laptop's size, where every window fits at
            // its designed size; the layout tests try smaller ones in child
            // processes of their own.
            qputenv("QT_QPA_PLATFORM",
                    vantorel::gui::test::offscreenPlatform(QSize(1366, 850)).toUtf8());
        }
        if (qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) {
            qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        }
        vantorel::gui::prepareBrowserEnvironment();
        app = std::make_unique<QApplication>(argc, argv);
        vantorel::gui::installChineseLocale(*app); // as the program does
    }
    const int result = RUN_ALL_TESTS();
    app.reset(); // the browser engine shuts down and writes its last files
    vantorel::gui::test::removeScratchDirectories();
    return result;
}
