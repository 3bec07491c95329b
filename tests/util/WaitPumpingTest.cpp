#include "util/EventWait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <thread>

namespace {

qint64 ThreadCpuMs()
{
    struct rusage usage;
    getrusage(RUSAGE_THREAD, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

TEST(WaitPumping, LastsItsFullLength)
{
    for (quint32 ms : {0u, 1u, 250u}) {
        SCOPED_TRACE(ms);
        QElapsedTimer clock;
        clock.start();
        WaitPumping(ms);
        EXPECT_GE(clock.elapsed(), qint64(ms));
        EXPECT_LT(clock.elapsed(), qint64(ms) + 500); // generous: the test machine may be busy
    }
}

// The events run as they arrive, not all at the end: a timer due at 100 ms and an event posted by
// another thread at 200 ms are both handled long before the 1000 ms are over.
TEST(WaitPumping, ProcessesEventsAsTheyCome)
{
    QElapsedTimer clock;
    clock.start();
    qint64 timerAt = -1, postedAt = -1;
    QTimer::singleShot(100, [&] { timerAt = clock.elapsed(); });
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [&] { postedAt = clock.elapsed(); }, Qt::QueuedConnection);
    });
    WaitPumping(1000);
    poster.join();
    const qint64 total = clock.elapsed();

    EXPECT_GE(timerAt, 100);
    EXPECT_LT(timerAt, 700);
    EXPECT_GE(postedAt, 200);
    EXPECT_LT(postedAt, 800);
    EXPECT_GE(total, 1000);
}

// The wait blocks for events instead of spinning: a second of waiting costs next to no CPU time.
TEST(WaitPumping, DoesNotSpin)
{
    QTimer ticker; // some traffic during the wait, as the window has
    ticker.start(50);
    const qint64 cpuBefore = ThreadCpuMs();
    QElapsedTimer clock;
    clock.start();
    WaitPumping(1000);
    EXPECT_GE(clock.elapsed(), 1000);
    EXPECT_LT(ThreadCpuMs() - cpuBefore, 150);
}

// A stop request handled during the wait ends it then, not at the deadline.
TEST(WaitPumping, UntilEndsOnceTheConditionHoldsAfterAnEvent)
{
    bool stop = false;
    QTimer::singleShot(100, [&] { stop = true; });
    QElapsedTimer clock;
    clock.start();
    WaitPumpingUntil(10000, [&] { return stop; });
    EXPECT_TRUE(stop);
    EXPECT_GE(clock.elapsed(), 100);
    EXPECT_LT(clock.elapsed(), 2000);
}

} // namespace
