// The upload benchmark: 200 small invoices sent with FAESendXml to the substitute backend in this
// process (test PKI, certificate validation on), by one client (each handshake after the first
// resumes a TLS session) and by a new client for each upload (every handshake a full one); then
// the same uploads with the curl command line: in one process with a new connection per upload
// (--next, "Connection: close"; curl resumes sessions itself), and one process each. Prints the
// time per upload of each and the ratios.
//
// Usage: bench_upload [count]

#include "backend/DVBackendService.h"
#include "bench/BenchSupport.h"
#include "substitute/SubstituteBackend.h"
#include "tests/support/Substitute.h"
#include "tests/support/TestClient.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <numeric>
#include <vector>

namespace {

double Mean(const std::vector<double>& ms)
{
    return std::accumulate(ms.begin(), ms.end(), 0.0) / double(ms.size());
}

void Report(const char* what, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    printf("%-42s %4zu uploads  mean %7.2f ms  median %7.2f ms  p95 %7.2f ms  min %7.2f ms  max %7.2f ms\n",
           what, ms.size(), Mean(ms), ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 95 / 100)],
           ms.front(), ms.back());
}

// The curl arguments of one upload.
QStringList CurlUpload(const TestPki& pki, const QString& path, const QString& url)
{
    return {
        QStringLiteral("-sS"),
        QStringLiteral("--fail"),
        QStringLiteral("-o"),
        QStringLiteral("/dev/null"),
        QStringLiteral("--cacert"),
        pki.CaFile,
        QStringLiteral("-u"),
        QStringLiteral("%1:%2").arg(QLatin1String(kTestUsername), QLatin1String(kTestPassword)),
        QStringLiteral("-F"),
        QStringLiteral("QELT_REQ=FAESendXml"),
        QStringLiteral("-F"),
        QStringLiteral("QELT_RESPONSE_FORMAT=JSON"),
        QStringLiteral("-F"),
        QStringLiteral("PathFileXml=@%1;type=application/xml").arg(path),
        QStringLiteral("-F"),
        QStringLiteral("FatturaInversa=N"),
        url,
    };
}

// Runs curl with these arguments; false (and a message) when it fails.
bool RunCurl(const QStringList& arguments, const QString& what)
{
    QProcess process;
    process.start(QStringLiteral("curl"), arguments);
    if (!process.waitForFinished(600000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        fprintf(stderr, "curl failed on %s: %s\n", qPrintable(what), process.readAllStandardError().constData());
        return false;
    }
    return true;
}

bool Accepted(const std::unique_ptr<TFAESendXml>& record, const QString& path)
{
    if (!record->Error().isEmpty() || record->IdCodaInvio_1().isEmpty()) {
        fprintf(stderr, "FAESendXml refused %s: %s\n", qPrintable(path), qPrintable(record->Error()));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    THttpsClient::GlobalInit();
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 200;

    const TestPki& pki = SharedTestPki();
    const auto backend = std::make_unique<substitute::Backend>(SubstituteOptions(pki));

    QTemporaryDir folder;
    const QStringList files = WriteInvoices(folder.path(), count);
    if (files.isEmpty())
        return 1;

    const auto client =
        std::make_unique<TDVBackendService>(LoopbackDomain(backend->Port()), TestTransport(pki));
    SignInAsTestUser(*client);

    std::vector<double> ours;
    for (const QString& path : files) {
        QElapsedTimer timer;
        timer.start();
        const std::unique_ptr<TFAESendXml> record = client->FAESendXml(path, false);
        ours.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (!Accepted(record, path))
            return 1;
    }
    std::size_t resumed = 0;
    for (const substitute::ReceivedRequest& request : backend->Requests())
        resumed += request.TlsResumed ? 1 : 0;

    std::vector<double> oursFull;
    for (const QString& path : files) {
        QElapsedTimer timer;
        timer.start();
        TDVBackendService fresh(LoopbackDomain(backend->Port()), TestTransport(pki));
        SignInAsTestUser(fresh);
        const std::unique_ptr<TFAESendXml> record = fresh.FAESendXml(path, false);
        oursFull.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (!Accepted(record, path))
            return 1;
    }

    // Without --fail-early the exit status is that of the last transfer only.
    QStringList oneProcess = {QStringLiteral("--fail-early")};
    for (const QString& path : files) {
        if (oneProcess.size() > 1)
            oneProcess << QStringLiteral("--next");
        oneProcess << QStringLiteral("-H") << QStringLiteral("Connection: close")
                   << CurlUpload(pki, path, client->BaseUrl());
    }
    QElapsedTimer curlNextTimer;
    curlNextTimer.start();
    if (!RunCurl(oneProcess, QStringLiteral("the uploads in one process")))
        return 1;
    const double curlNextMs = double(curlNextTimer.nsecsElapsed()) / 1e6 / double(count);

    std::vector<double> curl;
    for (const QString& path : files) {
        QElapsedTimer timer;
        timer.start();
        if (!RunCurl(CurlUpload(pki, path, client->BaseUrl()), path))
            return 1;
        curl.push_back(double(timer.nsecsElapsed()) / 1e6);
    }

    const size_t stored = backend->Invoices().size();
    if (stored != size_t(4 * count)) {
        fprintf(stderr, "the substitute stored %zu invoices, expected %d\n", stored, 4 * count);
        return 1;
    }
    Report("FAESendXml, one client (sessions resumed)", ours);
    printf("    TLS sessions resumed: %zu of %d handshakes\n", resumed, count);
    Report("FAESendXml, a new client each", oursFull);
    printf("%-42s %4d uploads  mean %7.2f ms\n", "curl --next, one process, new connections", count, curlNextMs);
    Report("curl -F, one process each", curl);
    printf("ratio one client / new client each: %.2f\n", Mean(ours) / Mean(oursFull));
    printf("ratio one client / curl --next:     %.2f\n", Mean(ours) / curlNextMs);
    return 0;
}
