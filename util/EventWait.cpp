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
    WaitPumpingUntil(ms, [] { return false; });
}

void WaitPumpingUntil(quint32 ms, const std::function<bool()>& done)
{
    const QDeadlineTimer deadline(std::chrono::milliseconds(ms), Qt::PreciseTimer);
    if (QCoreApplication::instance() == nullptr) {
        // No events to wake on: short sleeps, so that done() is still heard.
        constexpr qint64 kSliceMs = 20;
        while (!deadline.hasExpired() && !done())
            std::this_thread::sleep_for(
                std::chrono::milliseconds(std::min(kSliceMs, deadline.remainingTime() + 1)));
        return;
    }
    // The timer only wakes the blocking wait at the deadline; any other event wakes it earlier,
    // is processed, and the wait goes on. A precise timer never fires before its time, and if
    // it ends a hair early the loop simply arms it again.
    QTimer wake;
    wake.setTimerType(Qt::PreciseTimer);
    wake.setSingleShot(true);
    while (!deadline.hasExpired() && !done()) {
        if (!wake.isActive()) {
            const qint64 left = (deadline.remainingTimeNSecs() + 999'999) / 1'000'000;
            wake.start(static_cast<int>(std::clamp<qint64>(left, 1, INT_MAX)));
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}
