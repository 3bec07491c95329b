// The pull benchmark: vorn-cli's pull of N received invoices (about 1.3 KB each, pages of 100)
// into an empty folder, over real HTTPS on loopback, then the second pull that finds them all
// there. The substitute backend runs as a program of its own, so that the peak resident memory
// measured here is the pull's alone; each count runs in a process of its own for the same reason.
// Prints time, documents per second and peak RSS per count.
//
// Usage: bench_pull [count ...]     (default: 500 10000)

#include "backend/DVBackendService.h"
#include "bench/BenchSupport.h"
#include "received/ReceivedPull.h"
#include "tests/support/Substitute.h"
#include "tests/support/TestClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace {

long PeakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// One count, in this process: start the substitute, pull twice, print one line.
int PullOnce(int count)
{
    const TestPki& pki = SharedTestPki();
    QProcess substitute;
    substitute.start(QStringLiteral(VORN_SUBSTITUTE_PATH),
                     {QStringLiteral("--cert"), pki.ServerCert, QStringLiteral("--key"), pki.ServerKey,
                      QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--user"),
                      QLatin1String(kTestUsername), QStringLiteral("--password"),
                      QLatin1String(kTestPassword), QStringLiteral("--received"), QString::number(count)});
    if (!substitute.waitForReadyRead(120000)) {
        std::fprintf(stderr, "the substitute backend did not start: %s\n",
                     substitute.readAllStandardError().constData());
        return 1;
    }
    const QByteArray listening = substitute.readLine().trimmed();
    const int port = listening.mid(listening.lastIndexOf(' ') + 1).toInt();

    TDVBackendService client(LoopbackDomain(port), TestTransport(pki));
    SignInAsTestUser(client);

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
    substitute.terminate();
    substitute.waitForFinished();

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

} // namespace

int main(int argc, char** argv)
{
    THttpsClient::GlobalInit();
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.size() == 2 && arguments[0] == QLatin1String("--one"))
        return PullOnce(arguments[1].toInt());

    const QStringList counts =
        arguments.isEmpty() ? QStringList{QStringLiteral("500"), QStringLiteral("10000")} : arguments;
    for (const QString& count : counts) {
        QProcess one;
        one.setProcessChannelMode(QProcess::ForwardedChannels);
        one.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--one"), count});
        if (!one.waitForFinished(-1) || one.exitStatus() != QProcess::NormalExit || one.exitCode() != 0)
            return 1;
    }
    return 0;
}
