#include "substitute/SubstituteDocuments.h"

#include <QByteArray>
#include <QXmlStreamReader>

#include <cstdint>

namespace substitute {

namespace {

// Where each summary value stands in the invoice, as the tail of its element path.
struct SummaryPath
{
    const char* PathTail;
    std::string InvoiceSummary::*Member;
};

const SummaryPath kSummaryPaths[] = {
    {"DatiGeneraliDocumento/TipoDocumento", &InvoiceSummary::TipoDocumento},
    {"DatiGeneraliDocumento/Data", &InvoiceSummary::FatturaData},
    {"DatiGeneraliDocumento/Numero", &InvoiceSummary::FatturaNumero},
    {"DatiGeneraliDocumento/ImportoTotaleDocumento", &InvoiceSummary::FatturaImporto},
    {"CedentePrestatore/DatiAnagrafici/Anagrafica/Denominazione", &InvoiceSummary::CedenteAnagrafica},
    {"CedentePrestatore/DatiAnagrafici/CodiceFiscale", &InvoiceSummary::CedenteCodiceFiscale},
    {"CedentePrestatore/DatiAnagrafici/IdFiscaleIVA/IdCodice", &InvoiceSummary::CedentePartitaIva},
    {"CessionarioCommittente/DatiAnagrafici/Anagrafica/Denominazione",
     &InvoiceSummary::CessionarioAnagrafica},
    {"CessionarioCommittente/DatiAnagrafici/CodiceFiscale", &InvoiceSummary::CessionarioCodiceFiscale},
    {"CessionarioCommittente/DatiAnagrafici/IdFiscaleIVA/IdCodice", &InvoiceSummary::CessionarioPartitaIva},
};

bool EndsWith(const QString& path, const char* tail)
{
    const QString wanted = QLatin1Char('/') + QLatin1String(tail);
    return path.endsWith(wanted);
}

void ReadSummaryFromXml(const QByteArray& xml, InvoiceSummary& summary)
{
    QXmlStreamReader reader(xml);
    QString path;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            path += QLatin1Char('/') + reader.name().toString();
            break;
        case QXmlStreamReader::EndElement:
            path.truncate(path.lastIndexOf(QLatin1Char('/')));
            break;
        case QXmlStreamReader::Characters:
            for (const SummaryPath& entry : kSummaryPaths)
                if ((summary.*entry.Member).empty() && EndsWith(path, entry.PathTail))
                    summary.*entry.Member = reader.text().toString().trimmed().toStdString();
            break;
        default:
            break;
        }
    }
}

} // namespace

std::string XmlWellFormedError(const std::string& content)
{
    QXmlStreamReader reader(QByteArray::fromRawData(content.data(), static_cast<qsizetype>(content.size())));
    while (!reader.atEnd())
        reader.readNext();
    if (!reader.hasError())
        return {};
    std::string complaint = reader.errorString().toStdString();
    while (!complaint.empty() && (complaint.back() == '.' || complaint.back() == ' '))
        complaint.pop_back();
    return complaint + " (riga " + std::to_string(reader.lineNumber()) + ", colonna " +
           std::to_string(reader.columnNumber()) + ")";
}

std::string DerEnvelopeError(const std::string& content)
{
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(content[i]); };
    if (content.size() < 2 || byte(0) != 0x30)
        return "non inizia con una SEQUENCE DER";
    std::size_t header = 2;
    std::uint64_t length = byte(1);
    if (length == 0x80)
        return "usa la lunghezza indefinita, che DER non ammette";
    if (length > 0x80) {
        const std::size_t count = length & 0x7F;
        if (count > 8 || content.size() < 2 + count)
            return "ha un campo di lunghezza troncato";
        length = 0;
        for (std::size_t i = 0; i < count; ++i)
            length = (length << 8) | byte(2 + i);
        header += count;
        if (byte(2) == 0 || length < 0x80)
            return "ha una lunghezza non codificata nella forma minima DER";
    }
    if (length != content.size() - header)
        return "dichiara " + std::to_string(length) + " byte di contenuto ma ne contiene " +
               std::to_string(content.size() - header);
    return {};
}

InvoiceSummary ReadInvoiceSummary(const std::string& content)
{
    InvoiceSummary summary;
    // A signed envelope usually stores the signed XML as one octet string: read from its first
    // "<?xml" to the last ">" and let the reader stop where the bytes stop being XML.
    const std::size_t start = content.find("<?xml");
    const std::size_t end = content.rfind('>');
    if (start != std::string::npos && end != std::string::npos && end > start)
        ReadSummaryFromXml(QByteArray(content.data() + start, static_cast<qsizetype>(end - start + 1)),
                           summary);
    else
        ReadSummaryFromXml(QByteArray(content.data(), static_cast<qsizetype>(content.size())), summary);
    return summary;
}

} // namespace substitute
