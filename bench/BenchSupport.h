#pragma once

// What the benchmarks against the in-process substitute backend share: its credentials, a small
// invoice, the folder of invoices to send and a client that trusts the test CA.

#include "backend/DVBackendService.h"
#include "substitute/SubstituteBackend.h"
#include "tests/support/TestPki.h"

#include <QFile>
#include <QStringList>
#include <cstdio>
#include <functional>
#include <memory>

inline constexpr char kBenchUsername[] = "bench@DEMO01";
inline constexpr char kBenchPassword[] = "bench";

// A well-formed invoice of about 2 KB carrying its number.
inline QByteArray SmallInvoice(int number)
{
    QByteArray xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<p:FatturaElettronica "
        "xmlns:p=\"http://ivaservizi.agenziaentrate.gov.it/docs/xsd/fatture/v1.2\" versione=\"FPR12\">\n"
        "  <FatturaElettronicaBody><DatiGenerali><DatiGeneraliDocumento><Numero>" +
        QByteArray::number(number) + "</Numero></DatiGeneraliDocumento></DatiGenerali>\n";
    while (xml.size() < 2000)
        xml += "    <DettaglioLinee><Descrizione>Servizio di consulenza</Descrizione></DettaglioLinee>\n";
    return xml + "  </FatturaElettronicaBody>\n</p:FatturaElettronica>\n";
}

// Writes count invoices IT01234567890_00001.xml... into folder; their paths, or empty on failure.
inline QStringList WriteInvoices(const QString& folder, int count,
                                 const std::function<QByteArray(int)>& content = SmallInvoice)
{
    QStringList paths;
    for (int i = 1; i <= count; ++i) {
        paths << folder + QStringLiteral("/IT01234567890_%1.xml").arg(i, 5, 10, QLatin1Char('0'));
        QFile file(paths.back());
        if (!file.open(QIODevice::WriteOnly) || file.write(content(i)) < 0) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(paths.back()));
            return {};
        }
    }
    return paths;
}

inline std::unique_ptr<substitute::Backend> StartBenchBackend(const TestPki& pki)
{
    substitute::Options options;
    options.CertFile = pki.ServerCert.toStdString();
    options.KeyFile = pki.ServerKey.toStdString();
    options.Username = kBenchUsername;
    options.Password = kBenchPassword;
    return std::make_unique<substitute::Backend>(options);
}

inline std::unique_ptr<TDVBackendService> BenchClient(const substitute::Backend& backend, const TestPki& pki)
{
    THttpsSettings transport;
    transport.CaBundle = pki.CaFile;
    auto client =
        std::make_unique<TDVBackendService>(QStringLiteral("localhost:%1").arg(backend.Port()), transport);
    client->SetFirmType(QStringLiteral("aziende"));
    client->SetUsername(QString::fromLatin1(kBenchUsername));
    client->SetPassword(QString::fromLatin1(kBenchPassword));
    return client;
}
