// The verdict pass benchmark: 1,000 invoices archived in Inviate, followed on the pass's schedule
// against the substitute backend in this process, with a simulated clock that moves one check
// interval per tick. Two cases: every invoice delivered at its first ask (RC, final), and none
// ever reaching a final state (the most a pass can be asked to do). Prints the status requests per
// tick and per hour, the time a tick spends, and the schedule's own count over 30 days.
//
// Usage: bench_verdict [count] [interval seconds] [hours]

#include "backend/DVBackendService.h"
#include "backend/HttpsClient.h"
#include "substitute/SubstituteBackend.h"
#include "tests/support/Substitute.h"
#include "tests/support/TestClient.h"
#include "track/VerdictPass.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct TCase
{
    const char* Name;
    std::vector<substitute::Notification> History;
};

// Asks per invoice over its 30 days when every tick may ask it (no bound of 20 per pass).
int ScheduledAsks(qint64 intervalSeconds)
{
    const QDateTime archived = QDateTime::currentDateTimeUtc();
    TVerdictAsks asks{archived, {}, 0};
    for (QDateTime now = archived;; now = now.addSecs(intervalSeconds)) {
        const QDateTime next = TVerdictPass::NextAsk(asks);
        if (!next.isValid())
            return asks.Asks;
        if (next <= now) {
            asks.LastAsked = now;
            ++asks.Asks;
        }
    }
}

int RunCase(const TCase& c, int count, qint64 interval, int hours)
{
    const TestPki& pki = SharedTestPki();
    const auto backend = std::make_unique<substitute::Backend>(SubstituteOptions(pki));
    const auto client = std::make_unique<TDVBackendService>(LoopbackDomain(backend->Port()), TestTransport(pki));
    SignInAsTestUser(*client);

    QTemporaryDir dir;
    const QString outgoing = dir.filePath(QStringLiteral("uscita"));
    QDir().mkpath(outgoing + QStringLiteral("/Inviate"));
    QDateTime lastArchived;
    for (int i = 1; i <= count; ++i) {
        const QString base = QStringLiteral("IT01234567890_%1").arg(i, 5, 10, QLatin1Char('0'));
        const std::string id = backend->AddIssuedInvoice(base.toStdString() + ".xml", "<x/>");
        backend->SetNotifications(id, c.History);
        const QString path = outgoing + QStringLiteral("/Inviate/") + base + u'_' + QString::fromStdString(id) +
                             QStringLiteral(".xml");
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write("<x/>") != 4) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        file.close();
        lastArchived = std::max(lastArchived, QFileInfo(path).metadataChangeTime().toUTC());
    }

    const QString cacheFile = dir.filePath(QStringLiteral("VORN_Automatic.track.json"));
    QDateTime now = lastArchived;
    TVerdictPass pass(outgoing, cacheFile, [&] { return now; });
    const int ticks = int(hours * 3600 / interval);
    const int ticksPerHour = int(3600 / interval);
    std::vector<int> perHour(hours, 0);
    int maxPerTick = 0;
    int busyTicks = 0;
    qint64 total = 0;
    double runSeconds = 0;
    double slowestRun = 0;
    double idleSeconds = 0;
    int idleTicks = 0;
    for (int tick = 0; tick < ticks; ++tick) {
        now = now.addSecs(interval);
        QElapsedTimer clock;
        clock.start();
        try {
            pass.Run(*client);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "the pass failed: %s\n", e.what());
            return 1;
        }
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        const int sent = pass.RequestsSent();
        if (!pass.Problems().isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(pass.Problems().join(u'\n')));
            return 1;
        }
        perHour[tick / ticksPerHour] += sent;
        maxPerTick = std::max(maxPerTick, sent);
        total += sent;
        runSeconds += seconds;
        slowestRun = std::max(slowestRun, seconds);
        busyTicks += sent > 0;
        if (sent == 0) {
            idleSeconds += seconds;
            ++idleTicks;
        }
    }
    std::printf("%s: %d invoices, a tick every %lld s, %d hours (%d ticks)\n", c.Name, count,
                static_cast<long long>(interval), hours, ticks);
    std::printf("  requests: %lld in all, at most %d per tick, %.1f per tick on average, %d ticks asked\n",
                static_cast<long long>(total), maxPerTick, double(total) / ticks, busyTicks);
    std::printf("  requests per hour:");
    for (int h : perHour)
        std::printf(" %d", h);
    std::printf("\n  a tick: %.1f ms on average, %.1f ms at most; %.1f ms on average without a request (%d ticks)\n",
                runSeconds / ticks * 1e3, slowestRun * 1e3, idleTicks ? idleSeconds / idleTicks * 1e3 : 0.0,
                idleTicks);
    std::printf("  track cache: %lld bytes\n", static_cast<long long>(QFileInfo(cacheFile).size()));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    THttpsClient::GlobalInit();
    QCoreApplication application(argc, argv);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    const qint64 interval = argc > 2 ? std::max(1, std::atoi(argv[2])) : 120;
    const int hours = argc > 3 ? std::max(1, std::atoi(argv[3])) : 6;

    std::printf("schedule alone: %d asks per invoice over 30 days with a tick every %lld s\n",
                ScheduledAsks(interval), static_cast<long long>(interval));
    const TCase cases[] = {
        {"delivered at the first ask (RC)", {{"RC", "2026-03-01 10:00:00", "2026-03-01 10:00:05"}}},
        {"never final (no notification yet)", {}},
    };
    for (const TCase& c : cases)
        if (const int failed = RunCase(c, count, interval, hours))
            return failed;
    return 0;
}
