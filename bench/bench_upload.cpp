// The upload benchmark: 200 small invoices sent with FAESendXml to the substitute backend in this
// process (test PKI, certificate validation on), then the same 200 uploads with the curl command
// line, one process and one connection each. Prints the time per upload of both.
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

void Report(const char* what, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    const double mean = std::accumulate(ms.begin(), ms.end(), 0.0) / double(ms.size());
    printf("%-28s %4zu uploads  mean %7.2f ms  median %7.2f ms  p95 %7.2f ms  min %7.2f ms  max %7.2f ms\n",
           what, ms.size(), mean, ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 95 / 100)],
           ms.front(), ms.back());
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
        if (!record->Error().isEmpty() || record->IdCodaInvio_1().isEmpty()) {
            fprintf(stderr, "FAESendXml refused %s: %s\n", qPrintable(path), qPrintable(record->Error()));
            return 1;
        }
    }

    std::vector<double> curl;
    for (const QString& path : files) {
        const QStringList arguments = {
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
            client->BaseUrl(),
        };
        QElapsedTimer timer;
        timer.start();
        QProcess process;
        process.start(QStringLiteral("curl"), arguments);
        if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0) {
            fprintf(stderr, "curl failed on %s: %s\n", qPrintable(path),
                    process.readAllStandardError().constData());
            return 1;
        }
        curl.push_back(double(timer.nsecsElapsed()) / 1e6);
    }

    const size_t stored = backend->Invoices().size();
    if (stored != size_t(2 * count)) {
        fprintf(stderr, "the substitute stored %zu invoices, expected %d\n", stored, 2 * count);
        return 1;
    }
    Report("FAESendXml (in process)", ours);
    Report("curl -F (one process each)", curl);
    return 0;
}
