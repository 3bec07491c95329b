// FAEPassivaSearch of an answer with 10,000 invoices: request, answer check, parse, mapping into
// records and their release, over real HTTPS on loopback from the substitute backend. By default
// AppLog is absent: with the log at its normal level the whole answer is also serialised and
// written as one entry, which measures the log rather than the client. "bench_search warning" or
// "bench_search normal" runs with a log of that level (in a temporary folder, no write delay).

#include "backend/DVBackendService.h"
#include "log/LogFile.h"
#include "substitute/SubstituteBackend.h"
#include "tests/support/Substitute.h"
#include "tests/support/TestClient.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int kInvoices = 10000;
constexpr int kRuns = 5;

long PeakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::string Invoice(int i)
{
    const std::string id = std::to_string(100000 + i);
    return R"({"IdFattura":")" + id + R"(","IdSDI":")" + std::to_string(4000000 + i) +
           R"(","Nomefile":"IT09876543210_)" + id +
           R"(.xml","FatturaData":"2024-03-05","FatturaNumero":"F-2024/)" + std::to_string(i) +
           R"(","FatturaImporto":)" + std::to_string(i % 5000) +
           R"(.50,"RicezioneData":"2024-03-06","RicezioneOra":"09:14:03","CedenteAnagrafica":"Carta e Toner Srl",)"
           R"("CedenteCodiceFiscale":"09876543210","CessionarioAnagrafica":"Studio Rossi \u00e8 Associati",)"
           R"("CessionarioCodiceFiscale":"RSSMRA80A01H501U","CessionarioPartitaIva":"01234567890",)"
           R"("FatturaLotto":"N","PosizioneLotto":"1","CodiceStatoGestionale":"01","StatoGestionale":"Da elaborare",)"
           R"("TipoDocumento":"TD01","StatoQuadrFattura":null})";
}

std::string Answer()
{
    std::string body =
        R"({"error":"","result":{"NumeroTotale":")" + std::to_string(kInvoices) + R"(","seq_FATTURE":[)";
    for (int i = 0; i < kInvoices; ++i) {
        if (i > 0)
            body += ',';
        body += Invoice(i);
    }
    return body + "]}}";
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QString level = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    QTemporaryDir logDir;
    if (level == QLatin1String("warning") || level == QLatin1String("normal")) {
        AppLog = std::make_unique<TLogFile>(logDir.filePath(QStringLiteral("VORN_Automatic.log")));
        AppLog->SetLevel(level == QLatin1String("normal") ? lfNormal : lfWarning);
        AppLog->SetWriteDelayForTesting(std::chrono::milliseconds(0));
    } else if (!level.isEmpty()) {
        std::fprintf(stderr, "usage: %s [warning|normal]\n", argv[0]);
        return 2;
    }

    const TestPki& pki = SharedTestPki();
    substitute::Backend backend(SubstituteOptions(pki));
    TDVBackendService client(LoopbackDomain(backend.Port()), TestTransport(pki));
    SignInAsTestUser(client);

    substitute::ScriptedAnswer answer;
    answer.Headers = {{"Content-Type", "application/json; charset=utf-8"}};
    answer.Body = Answer();
    std::printf("answer: %d invoices, %.1f MiB of JSON; AppLog %s\n", kInvoices,
                answer.Body.size() / (1024.0 * 1024.0),
                AppLog ? qPrintable(QStringLiteral("at level ") + level) : "absent");

    std::vector<double> callMs;
    std::vector<double> releaseMs;
    long peakGrowth = 0;
    for (int run = 0; run < kRuns; ++run) {
        backend.PushAnswer(answer);
        backend.ClearRequests();
        const long before = PeakRssKiB();
        const auto start = std::chrono::steady_clock::now();
        std::unique_ptr<TFAEPassivaSearch> search =
            client.FAEPassivaSearch(kInvoices, 0, {}, 0, 0, {}, {}, {}, {}, 0, 0, 0, {}, {}, {}, {});
        const auto mapped = std::chrono::steady_clock::now();
        if (search->Fatture().size() != static_cast<std::size_t>(kInvoices)) {
            std::fprintf(stderr, "expected %d invoices, got %zu\n", kInvoices, search->Fatture().size());
            return 1;
        }
        search.reset();
        const auto released = std::chrono::steady_clock::now();
        callMs.push_back(std::chrono::duration<double, std::milli>(mapped - start).count());
        releaseMs.push_back(std::chrono::duration<double, std::milli>(released - mapped).count());
        // ru_maxrss only grows: the first run shows the peak above the baseline, later ones reuse it.
        peakGrowth = std::max(peakGrowth, PeakRssKiB() - before);
        std::printf("run %d: request+check+parse+map %.1f ms, release %.1f ms\n", run + 1, callMs.back(),
                    releaseMs.back());
    }
    std::sort(callMs.begin(), callMs.end());
    std::sort(releaseMs.begin(), releaseMs.end());
    std::printf("median: call %.1f ms (min %.1f), release %.1f ms; peak RSS %.1f MiB, growth during a call "
                "%.1f MiB\n",
                callMs[kRuns / 2], callMs.front(), releaseMs[kRuns / 2], PeakRssKiB() / 1024.0,
                peakGrowth / 1024.0);
    AppLog.reset();
    return 0;
}
