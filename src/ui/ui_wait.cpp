#include "ui/ui_wait.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <climits>

namespace vantorel::gui {

bool waitPumping(long long interval, WaitUnit unit) {
    long long remaining = waitDuration(interval, unit).count();
    if (remaining <= 0) {
        return true;
    }
    // A QTimer takes an int; very long waits run in slices.
    while (remaining > 0) {
        const int slice = static_cast<int>(std::min<long long>(remaining, INT_MAX));
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(slice);
        if (loop.exec() != 0 || timer.isActive()) {
            // Told to exit: the application is shutting down.
            break;
        }
        remaining -= slice;
    }
    return true;
}

} // namespace vantorel::gui
