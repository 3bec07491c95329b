#include "substitute/SubstituteSeedData.h"

#include "substitute/SubstituteBackend.h"

namespace substitute {

namespace {

const std::pair<const char*, const char*> kSoggetti[] = {
    {"RSSMRA80A01H501U", "SOG000101"},
    {"01234567890", "SOG000102"},
    {"BNCLRA85M41F205Z", "SOG000103"},
};

const ReceivedSeed kReceivedSeeds[] = {
    {"900001",
     "IT09876543210_00A1B.xml",
     "2024-02-12",
     "09:14:03",
     {"TD01", "2024-02-10", "F-2024/118", "1220.00", "Carta e Toner Srl", "09876543210", "09876543210",
      "Studio Rossi", "RSSMRA80A01H501U", "01234567890"}},
    {"900002",
     "IT05555555555_00A1C.xml",
     "2024-03-04",
     "16:40:51",
     {"TD01", "2024-03-01", "77", "89.90", "Energia Lombarda SpA", "05555555555", "05555555555",
      "Studio Rossi", "RSSMRA80A01H501U", "01234567890"}},
    {"900003",
     "IT07777777777_00A1D.xml",
     "2024-03-20",
     "11:02:37",
     {"TD04", "2024-03-18", "NC-12", "-45.00", "Ferramenta Bianchi Snc", "07777777777", "07777777777",
      "Studio Rossi", "RSSMRA80A01H501U", "01234567890"}},
};

} // namespace

std::span<const ReceivedSeed> ReceivedSeeds()
{
    return kReceivedSeeds;
}

std::span<const std::pair<const char*, const char*>> Soggetti()
{
    return kSoggetti;
}

std::string InvoiceXml(const InvoiceSummary& s)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<p:FatturaElettronica versione=\"FPR12\" "
           "xmlns:p=\"http://ivaservizi.agenziaentrate.gov.it/docs/xsd/fatture/v1.2\">\n"
           "<FatturaElettronicaHeader>\n"
           "<CedentePrestatore><DatiAnagrafici><IdFiscaleIVA><IdPaese>IT</IdPaese><IdCodice>" +
           s.CedentePartitaIva + "</IdCodice></IdFiscaleIVA><CodiceFiscale>" + s.CedenteCodiceFiscale +
           "</CodiceFiscale><Anagrafica><Denominazione>" + s.CedenteAnagrafica +
           "</Denominazione></Anagrafica></DatiAnagrafici></CedentePrestatore>\n"
           "<CessionarioCommittente><DatiAnagrafici><IdFiscaleIVA><IdPaese>IT</IdPaese><IdCodice>" +
           s.CessionarioPartitaIva + "</IdCodice></IdFiscaleIVA><CodiceFiscale>" +
           s.CessionarioCodiceFiscale + "</CodiceFiscale><Anagrafica><Denominazione>" +
           s.CessionarioAnagrafica +
           "</Denominazione></Anagrafica></DatiAnagrafici></CessionarioCommittente>\n"
           "</FatturaElettronicaHeader>\n"
           "<FatturaElettronicaBody><DatiGenerali><DatiGeneraliDocumento><TipoDocumento>" +
           s.TipoDocumento + "</TipoDocumento><Divisa>EUR</Divisa><Data>" + s.FatturaData +
           "</Data><Numero>" + s.FatturaNumero + "</Numero><ImportoTotaleDocumento>" + s.FatturaImporto +
           "</ImportoTotaleDocumento></DatiGeneraliDocumento></DatiGenerali></FatturaElettronicaBody>\n"
           "</p:FatturaElettronica>\n";
}

const std::vector<std::pair<std::string, std::string>>& StatiGestionali()
{
    static const std::vector<std::pair<std::string, std::string>> states = {
        {"01", "Da elaborare"},
        {"02", "In elaborazione"},
        {"03", "Elaborata"},
        {"04", "Archiviata"},
    };
    return states;
}

} // namespace substitute
