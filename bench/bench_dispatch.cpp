// The dispatch benchmark: one tick of the cycle over 500 small invoices (one in ten refused as
// malformed) against the substitute backend in this process, with the log at its default level.
// The cycle's fixed 3000 ms pause before the uploads is left out of the figure; it is the same for
// any number of files. Prints invoices per second.
//
// Usage: bench_dispatch [count]

#include "backend/DVBackendService.h"
#include "backend/HttpsClient.h"
#include "bench/BenchSupport.h"
#include "dispatch/OutgoingDispatch.h"
#include "log/LogFile.h"
#include "substitute/SubstituteBackend.h"
#include "tests/support/Substitute.h"
#include "tests/support/TestClient.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

namespace {

// One in ten is malformed, for the backend to refuse.
QByteArray DispatchInvoice(int number)
{
    if (number % 10 == 0)
        return "<FatturaElettronica><Numero>" + QByteArray::number(number) + "</FatturaElettronica>";
    return SmallInvoice(number);
}

int CountFiles(const QString& folder)
{
    return int(QDir(folder).entryList(QDir::Files).size());
}

} // namespace

int main(int argc, char** argv)
{
    THttpsClient::GlobalInit();
    QCoreApplication application(argc, argv);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 500;

    const TestPki& pki = SharedTestPki();
    const auto backend = std::make_unique<substitute::Backend>(SubstituteOptions(pki));

    QTemporaryDir dir;
    AppLog = std::make_unique<TLogFile>(dir.filePath(QStringLiteral("VORN_Automatic.log")));
    const QString outgoing = dir.filePath(QStringLiteral("da inviare"));
    for (const QString& folder : {outgoing, outgoing + "/Inviate", outgoing + "/Errori"})
        QDir().mkpath(folder);
    if (WriteInvoices(outgoing, count, DispatchInvoice).isEmpty())
        return 1;

    const auto client =
        std::make_unique<TDVBackendService>(LoopbackDomain(backend->Port()), TestTransport(pki));
    SignInAsTestUser(*client);

    TOutgoingDispatch dispatch(outgoing, {QStringLiteral(".xml"), QStringLiteral(".p7m")}, *client,
                               [](quint32) {});
    QElapsedTimer clock;
    clock.start();
    try {
        dispatch.ProcessOutgoingInvoices();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "the tick failed: %s\n", e.what());
        return 1;
    }
    const double seconds = double(clock.nsecsElapsed()) / 1e9;

    const int sent = CountFiles(outgoing + "/Inviate");
    const int refused = CountFiles(outgoing + "/Errori") / 2;
    if (sent + refused != count || CountFiles(outgoing) != 0) {
        std::fprintf(stderr, "not every invoice was archived: %d sent, %d refused of %d\n", sent, refused,
                     count);
        return 1;
    }
    std::printf("dispatch: %d invoices (%d sent, %d refused) in %.2f s: %.1f invoices/s "
                "(without the fixed %u ms pause)\n",
                count, sent, refused, seconds, count / seconds, TOutgoingDispatch::kPauseBeforeUploadMs);
    AppLog.reset();
    return 0;
}
