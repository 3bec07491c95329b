#pragma once

// What the backend checks in an uploaded invoice file, and the few invoice data it reads from it.

#include <string>

namespace substitute {

// "" when content is one well-formed XML document; otherwise the parser's complaint with its
// line and column.
std::string XmlWellFormedError(const std::string& content);

// "" when content is a single DER SEQUENCE (the outer shape of a PKCS#7 envelope) whose
// definite, minimally encoded length accounts for every byte; otherwise what is wrong.
std::string DerEnvelopeError(const std::string& content);

// The data of an electronic invoice that a search reports. Empty texts for what is not there.
struct InvoiceSummary
{
    std::string TipoDocumento;
    std::string FatturaData;
    std::string FatturaNumero;
    std::string FatturaImporto;
    std::string CedenteAnagrafica;
    std::string CedenteCodiceFiscale;
    std::string CedentePartitaIva;
    std::string CessionarioAnagrafica;
    std::string CessionarioCodiceFiscale;
    std::string CessionarioPartitaIva;
};

// Reads the summary from an invoice document; for a signed envelope, from the XML inside it when
// it is stored there in one piece. Never fails: what cannot be read stays empty.
InvoiceSummary ReadInvoiceSummary(const std::string& content);

} // namespace substitute
