// The dispatch benchmark: one tick of the cycle over 500 small invoices (one in ten refused as
// malformed) against the substitute backend in this process, with the log at its default level.
// The cycle's fixed 3000 ms pause before the uploads is left out of the figure; it is the same for
// any number of files. Prints invoices per second.
//
// Usage: bench_dispatch [count]

#include "DVBackendService.h"
#include "HttpsClient.h"
#include "LogFile.h"
#include "OutgoingDispatch.h"
#include "SubstituteBackend.h"
#include "TestPki.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr char kUsername[] = "bench@DEMO01";
constexpr char kPassword[] = "bench";

QByteArray SmallInvoice(int number)
{
    if (number % 10 == 0)
        return "<FatturaElettronica><Numero>" + QByteArray::number(number) + "</FatturaElettronica>";
    QByteArray xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<p:FatturaElettronica "
        "xmlns:p=\"http://ivaservizi.agenziaentrate.gov.it/docs/xsd/fatture/v1.2\" versione=\"FPR12\">\n"
        "  <FatturaElettronicaBody><DatiGenerali><DatiGeneraliDocumento><Numero>" +
        QByteArray::number(number) + "</Numero></DatiGeneraliDocumento></DatiGenerali>\n";
    while (xml.size() < 2000)
        xml += "    <DettaglioLinee><Descrizione>Servizio di consulenza</Descrizione></DettaglioLinee>\n";
    return xml + "  </FatturaElettronicaBody>\n</p:FatturaElettronica>\n";
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
    substitute::Options options;
    options.CertFile = pki.ServerCert.toStdString();
    options.KeyFile = pki.ServerKey.toStdString();
    options.Username = kUsername;
    options.Password = kPassword;
    substitute::Backend backend(options);

    QTemporaryDir dir;
    AppLog = std::make_unique<TLogFile>(dir.filePath(QStringLiteral("VORN_Automatic.log")));
    const QString outgoing = dir.filePath(QStringLiteral("da inviare"));
    for (const QString& folder : {outgoing, outgoing + "/Inviate", outgoing + "/Errori"})
        QDir().mkpath(folder);
    for (int i = 1; i <= count; ++i) {
        QFile file(outgoing + QStringLiteral("/IT01234567890_%1.xml").arg(i, 5, 10, QLatin1Char('0')));
        if (!file.open(QIODevice::WriteOnly) || file.write(SmallInvoice(i)) < 0) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
            return 1;
        }
    }

    THttpsSettings transport;
    transport.CaBundle = pki.CaFile;
    TDVBackendService client(QStringLiteral("localhost:%1").arg(backend.Port()), transport);
    client.SetFirmType(QStringLiteral("aziende"));
    client.SetUsername(QString::fromLatin1(kUsername));
    client.SetPassword(QString::fromLatin1(kPassword));

    TOutgoingDispatch dispatch(outgoing, {QStringLiteral(".xml"), QStringLiteral(".p7m")}, client,
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
