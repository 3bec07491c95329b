#pragma once

// What the benchmarks against the in-process substitute backend share besides the test kit's
// substitute and client (tests/support): a small invoice and the folder of invoices to send.

#include <QFile>
#include <QStringList>
#include <cstdio>
#include <functional>

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
