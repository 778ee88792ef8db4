#include "ui/ui_wait.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <climits>

namespace vantorel::gui {

long long millisecondsPerStep(int unit) {
    switch (unit) {
    case 0:
        return 1;
    case 1:
        return 1000;
    case 2:
        return 60'000;
    case 3:
        return 3'600'000;
    default:
        return unit;
    }
}

bool waitPumping(long long interval, int unit) {
    // In double, as the product may leave the integer range for long hours.
    const double total =
        static_cast<double>(interval) * static_cast<double>(millisecondsPerStep(unit));
    if (!(total >= 1.0)) {
        return true;
    }
    long long remaining =
        total >= static_cast<double>(LLONG_MAX) ? LLONG_MAX : static_cast<long long>(total);
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
