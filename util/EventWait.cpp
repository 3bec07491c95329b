#include "util/EventWait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <climits>
#include <thread>

void WaitPumping(quint32 ms)
{
    const QDeadlineTimer deadline(std::chrono::milliseconds(ms), Qt::PreciseTimer);
    if (QCoreApplication::instance() == nullptr) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return;
    }
    // The timer only wakes the blocking wait at the deadline; any other event wakes it earlier,
    // is processed, and the wait goes on. A precise timer never fires before its time, and if
    // it ends a hair early the loop simply arms it again.
    QTimer wake;
    wake.setTimerType(Qt::PreciseTimer);
    wake.setSingleShot(true);
    while (!deadline.hasExpired()) {
        if (!wake.isActive()) {
            const qint64 left = (deadline.remainingTimeNSecs() + 999'999) / 1'000'000;
            wake.start(static_cast<int>(std::clamp<qint64>(left, 1, INT_MAX)));
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}
