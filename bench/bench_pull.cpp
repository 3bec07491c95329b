// The pull benchmark: vorn-cli's pull of N received invoices (about 1.3 KB each, pages of 100)
// into an empty folder, over real HTTPS on loopback, then the second pull that finds them all
// there; and the same N through the received passes of automatic mode (RunReceivedPass with its
// default bounds, one pass after the other as ticks would run them, until a pass brings nothing),
// and once more through automatic mode's engine (its received pass, with its log line and the word
// to the front end).
// The substitute backend runs as a program of its own, so that the peak resident memory measured
// here is the pull's alone; each count and each kind runs in a process of its own for the same
// reason. Prints time, documents per second and memory per count.
//
// Usage: bench_pull [count ...]     (default: 500 10000)
//        bench_pull --engine count  (only the engine's received passes)

#include "automatic/AutomaticEngine.h"
#include "backend/DVBackendService.h"
#include "bench/BenchSupport.h"
#include "received/ReceivedPull.h"
#include "tests/support/Substitute.h"
#include "tests/support/TestClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <unistd.h>

namespace {

long PeakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The resident memory now.
long RssKiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (::sysconf(_SC_PAGESIZE) / 1024) : 0;
}

// The substitute as a program of its own holding count generated received invoices, and a client
// signed in to it; the substitute ends with this object.
class TBenchBackend
{
public:
    explicit TBenchBackend(int count)
    {
        const TestPki& pki = SharedTestPki();
        FSubstitute.start(QStringLiteral(VORN_SUBSTITUTE_PATH),
                          {QStringLiteral("--cert"), pki.ServerCert, QStringLiteral("--key"), pki.ServerKey,
                           QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--user"),
                           QLatin1String(kTestUsername), QStringLiteral("--password"),
                           QLatin1String(kTestPassword), QStringLiteral("--received"),
                           QString::number(count)});
        if (!FSubstitute.waitForReadyRead(120000)) {
            std::fprintf(stderr, "the substitute backend did not start: %s\n",
                         FSubstitute.readAllStandardError().constData());
            return;
        }
        const QByteArray listening = FSubstitute.readLine().trimmed();
        const int port = listening.mid(listening.lastIndexOf(' ') + 1).toInt();
        FClient = std::make_unique<TDVBackendService>(LoopbackDomain(port), TestTransport(pki));
        SignInAsTestUser(*FClient);
    }

    ~TBenchBackend()
    {
        FSubstitute.terminate();
        FSubstitute.waitForFinished();
    }

    bool Started() const { return FClient != nullptr; }
    TDVBackendService& Client() { return *FClient; }

private:
    QProcess FSubstitute;
    std::unique_ptr<TDVBackendService> FClient;
};

// One count, in this process: start the substitute, pull twice, print one line.
int PullOnce(int count)
{
    TBenchBackend backend(count);
    if (!backend.Started())
        return 1;
    TDVBackendService& client = backend.Client();

    QTemporaryDir folder;
    TPullOptions options;
    options.Folder = folder.path();
    const long baseline = PeakRssKiB();
    QElapsedTimer timer;
    timer.start();
    const TPullSummary first = PullReceivedInvoices(client, options, {});
    const double firstSeconds = double(timer.nsecsElapsed()) / 1e9;
    timer.restart();
    const TPullSummary second = PullReceivedInvoices(client, options, {});
    const double secondSeconds = double(timer.nsecsElapsed()) / 1e9;

    // The three seeded invoices come with the generated ones.
    const qsizetype expected = count + 3;
    if (first.New != expected || first.Failed != 0 || second.AlreadyThere != expected || second.New != 0) {
        std::fprintf(stderr, "count %d: first pull %lld new, %lld failed; second %lld already there\n", count,
                     static_cast<long long>(first.New), static_cast<long long>(first.Failed),
                     static_cast<long long>(second.AlreadyThere));
        return 1;
    }
    std::printf("%6lld invoices: pull %7.2f s, %7.1f documents/s; second pull %6.2f s; peak RSS %6.1f MiB "
                "(%5.1f MiB before the pull)\n",
                static_cast<long long>(expected), firstSeconds, double(expected) / firstSeconds,
                secondSeconds, PeakRssKiB() / 1024.0, baseline / 1024.0);
    return 0;
}

// The line of a run of passes: their time and rate, the slowest, the memory along the way.
void PrintPasses(qsizetype expected, int passes, double seconds, double slowest, long afterFirstKiB,
                 long lastKiB, long baselineKiB)
{
    std::printf("%6lld invoices: %3d passes %7.2f s, %7.1f documents/s, slowest pass %5.2f s; RSS after the "
                "first pass %6.1f MiB, after the last %6.1f MiB, peak %6.1f MiB (%5.1f MiB before)\n",
                static_cast<long long>(expected), passes, seconds, double(expected) / seconds, slowest,
                afterFirstKiB / 1024.0, lastKiB / 1024.0, PeakRssKiB() / 1024.0, baselineKiB / 1024.0);
}

// One count through the received passes, in this process: as many passes as it takes, each
// bounded as a tick bounds it, then one pass that finds everything there.
int PassesOnce(int count)
{
    TBenchBackend backend(count);
    if (!backend.Started())
        return 1;
    TDVBackendService& client = backend.Client();

    QTemporaryDir folder;
    const long baseline = PeakRssKiB();
    long afterFirst = 0;
    qsizetype received = 0;
    qsizetype failed = 0;
    int passes = 0;
    double slowest = 0;
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        QElapsedTimer one;
        one.start();
        const TReceivedPassResult pass = RunReceivedPass(client, folder.path());
        slowest = std::max(slowest, double(one.nsecsElapsed()) / 1e9);
        ++passes;
        if (passes == 1)
            afterFirst = RssKiB();
        if (pass.Skipped || !pass.Stopped.isEmpty()) {
            std::fprintf(stderr, "count %d: pass %d skipped or stopped: %s\n", count, passes,
                         qPrintable(pass.Stopped));
            return 1;
        }
        received += pass.New;
        failed += pass.Failed;
        if (pass.New == 0)
            break;
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const long last = RssKiB();

    const qsizetype expected = count + 3;
    if (received != expected || failed != 0) {
        std::fprintf(stderr, "count %d: the passes received %lld, %lld failed\n", count,
                     static_cast<long long>(received), static_cast<long long>(failed));
        return 1;
    }
    PrintPasses(expected, passes, seconds, slowest, afterFirst, last, baseline);
    return 0;
}

// What the engine tells its front end, counted.
class TCountingObserver : public IAutomaticObserver
{
public:
    void InvoiceRefused(const QString&, const QString&) override {}
    void InvoicesReceived(qsizetype count, const QString&) override { Received += count; }
    void VerdictChanged(const TVerdictNews&) override {}
    void PassesFailing(const QString& message) override { Failing = message; }
    void PassesWorkingAgain() override {}

    qsizetype Received = 0;
    QString Failing;
};

// One count through the engine's received passes, in this process, as the ticks of automatic mode
// would run them until a pass brings nothing.
int EnginePassesOnce(int count)
{
    TBenchBackend backend(count);
    if (!backend.Started())
        return 1;

    QTemporaryDir outgoing;
    QTemporaryDir folder;
    TCountingObserver observer;
    QString failure;
    TAutomaticEngine::THooks hooks;
    hooks.Failed = [&failure](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& error) {
            failure = QString::fromUtf8(error.what());
        }
    };
    TAutomaticEngine engine(backend.Client(), observer, hooks);
    engine.Apply(CheckAutomaticSettings({QStringLiteral("aziende"), QLatin1String(kTestDatabase),
                                         QLatin1String(kTestUser), QLatin1String(kTestPassword),
                                         outgoing.path(), folder.path(), QStringLiteral("0")}));

    const long baseline = PeakRssKiB();
    long afterFirst = 0;
    int passes = 0;
    double slowest = 0;
    QElapsedTimer timer;
    timer.start();
    for (qsizetype before = -1; before != observer.Received;) {
        before = observer.Received;
        QElapsedTimer one;
        one.start();
        engine.ProcessReceivedInvoices();
        slowest = std::max(slowest, double(one.nsecsElapsed()) / 1e9);
        if (++passes == 1)
            afterFirst = RssKiB();
        if (!failure.isEmpty()) {
            std::fprintf(stderr, "count %d: pass %d failed: %s\n", count, passes, qPrintable(failure));
            return 1;
        }
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const long last = RssKiB();

    const qsizetype expected = count + 3;
    if (observer.Received != expected) {
        std::fprintf(stderr, "count %d: the engine received %lld\n", count,
                     static_cast<long long>(observer.Received));
        return 1;
    }
    PrintPasses(expected, passes, seconds, slowest, afterFirst, last, baseline);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    THttpsClient::GlobalInit();
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.size() == 2 && arguments[0] == QLatin1String("--one"))
        return PullOnce(arguments[1].toInt());
    if (arguments.size() == 2 && arguments[0] == QLatin1String("--passes"))
        return PassesOnce(arguments[1].toInt());
    if (arguments.size() == 2 && arguments[0] == QLatin1String("--engine"))
        return EnginePassesOnce(arguments[1].toInt());

    const QStringList counts =
        arguments.isEmpty() ? QStringList{QStringLiteral("500"), QStringLiteral("10000")} : arguments;
    for (const char* kind : {"--one", "--passes"}) {
        std::printf("%s\n", kind == QLatin1String("--one") ? "vorn-cli pull:"
                                                           : "received passes (10 s or 200 documents each):");
        std::fflush(stdout);
        for (const QString& count : counts) {
            QProcess one;
            one.setProcessChannelMode(QProcess::ForwardedChannels);
            one.start(QCoreApplication::applicationFilePath(), {QLatin1String(kind), count});
            if (!one.waitForFinished(-1) || one.exitStatus() != QProcess::NormalExit || one.exitCode() != 0)
                return 1;
        }
    }
    return 0;
}
