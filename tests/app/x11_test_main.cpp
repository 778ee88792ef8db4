// The tests that must see what an X server shows (pixels on screen, native
// windows) run against an Xvfb of their own, without a window manager: the
// program must paint without one. The server is started here, before the
// application connects to it, and ends with the test program.

#include "app/chinese_locale.h"
#include "app/program_start.h"
#include "test_support.h"

#include <QApplication>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Starts Xvfb on a free display number; returns its pid, or -1.
pid_t startXvfb(std::string& display) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return -1;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1366x850x24",
                 "-nolisten", "tcp", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        return -1;
    }
    // The server writes its display number once it accepts connections.
    std::string number;
    char c = 0;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') {
        number += c;
    }
    ::close(fds[0]);
    if (number.empty()) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        return -1;
    }
    display = ":" + number;
    return pid;
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // InitGoogleTest has taken the flag out of argv already.
    const bool listing = GTEST_FLAG_GET(list_tests);
    if (listing) {
        return RUN_ALL_TESTS();
    }
    // VANTOREL_TEST_DISPLAY names a server to use instead (one with a window
    // manager, say, to compare).
    std::string display = qEnvironmentVariable("VANTOREL_TEST_DISPLAY").toStdString();
    const pid_t server = display.empty() ? startXvfb(display) : 0;
    if (server < 0) {
        std::fputs("x11 tests: Xvfb did not start (scripts/install-deps installs it)\n", stderr);
        return 1;
    }
    qputenv("DISPLAY", display.c_str());
    qputenv("QT_QPA_PLATFORM", "xcb");
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    vantorel::gui::prepareBrowserEnvironment();
    int result = 1;
    {
        QApplication app(argc, argv);
        vantorel::gui::installChineseLocale(app);
        result = RUN_ALL_TESTS();
    }
    vantorel::gui::test::removeScratchDirectories();
    if (server > 0) {
        ::kill(server, SIGTERM);
        ::waitpid(server, nullptr, 0);
    }
#if defined(__SANITIZE_ADDRESS__)
    // On an X server the platform and the GL driver keep a few allocations
    // past the end (libdbus's, and the driver's own, whose library is unloaded
    // by the time of the leak check, so no suppression can name them). The
    // same windows are leak-checked by the offscreen tests; this program
    // checks the pixels, and ends before the exit-time leak check.
    std::fflush(nullptr);
    ::_exit(result);
#endif
    return result;
}
