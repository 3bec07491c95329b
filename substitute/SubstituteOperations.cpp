#include "substitute/SubstituteOperations.h"

#include "substitute/SubstituteForms.h"
#include "substitute/SubstituteJson.h"
#include "substitute/SubstituteSeedData.h"
#include "substitute/SubstituteText.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <stdexcept>

namespace substitute {

namespace {

bool AllDigits(const std::string& text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), ::isdigit);
}

// Identifiers are numbers written as text: compare them as numbers where they are.
int CompareIds(const std::string& a, const std::string& b)
{
    if (AllDigits(a) && AllDigits(b) && a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

// A date bound may carry a time after the date ("2024-03-05 10:30:00"); days are what count.
std::string DayOf(const std::string& text)
{
    return text.substr(0, 10);
}

// The backend's refusal of a whole request: its answer's top-level "error".
struct Refusal : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

std::string StatoGestionaleText(const std::string& code)
{
    for (const auto& [known, description] : StatiGestionali())
        if (known == code)
            return description;
    return {};
}

// What the exchange's notification types say of an invoice: its status and the longer text.
struct StatoSdi
{
    std::string Code;
    std::string Text;
    std::string Extended;
};

// A type the exchange added later is shown as it came.
StatoSdi StatoSdiOf(const std::string& tipoNotifica)
{
    static const StatoSdi kStati[] = {
        {"RC", "Consegnata", "Fattura consegnata al destinatario"},
        {"MC", "Mancata consegna",
         "Fattura non consegnata: disponibile nell'area riservata del destinatario"},
        {"NS", "Scartata", "Fattura scartata dal sistema di interscambio"},
        {"NE", "Esito committente", "Il destinatario ha comunicato il suo esito"},
        {"DT", "Decorrenza termini", "Decorsi i termini senza esito del destinatario"},
        {"AT", "Attestazione di trasmissione", "Fattura non recapitabile: attestazione di trasmissione"},
        {"", "Inviata", "Fattura inviata, in attesa di notifiche"},
    };
    for (const StatoSdi& stato : kStati)
        if (tipoNotifica == stato.Code)
            return stato;
    return {tipoNotifica, tipoNotifica, tipoNotifica};
}

// The members of one invoice in a search answer, in the order the backend writes them.
struct RecordMember
{
    const char* Name;
    std::string (*Value)(const HeldInvoice&);
};

// Fixed for the substitute: it sends no batches and every issued invoice is delivered at once.
std::string NoBatch(const HeldInvoice&)
{
    return "N";
}
std::string FirstInBatch(const HeldInvoice&)
{
    return "1";
}
std::string Balanced(const HeldInvoice&)
{
    return "OK";
}

const RecordMember kAttivaMembers[] = {
    {"IdFattura", [](const HeldInvoice& h) { return h.Invoice.IdCoda; }},
    {"IdSDI", [](const HeldInvoice& h) { return h.IdSDI; }},
    {"FatturaData", [](const HeldInvoice& h) { return h.Summary.FatturaData; }},
    {"FatturaNumero", [](const HeldInvoice& h) { return h.Summary.FatturaNumero; }},
    {"FatturaImporto", [](const HeldInvoice& h) { return h.Summary.FatturaImporto; }},
    {"InvioData", [](const HeldInvoice& h) { return h.Invoice.Data; }},
    {"InvioOra", [](const HeldInvoice& h) { return h.Invoice.Ora; }},
    {"CedenteAnagrafica", [](const HeldInvoice& h) { return h.Summary.CedenteAnagrafica; }},
    {"CedenteCodiceFiscale", [](const HeldInvoice& h) { return h.Summary.CedenteCodiceFiscale; }},
    {"CedentePartitaIva", [](const HeldInvoice& h) { return h.Summary.CedentePartitaIva; }},
    {"CessionarioAnagrafica", [](const HeldInvoice& h) { return h.Summary.CessionarioAnagrafica; }},
    {"CessionarioCodiceFiscale", [](const HeldInvoice& h) { return h.Summary.CessionarioCodiceFiscale; }},
    {"FatturaInversa", [](const HeldInvoice& h) { return h.Invoice.FatturaInversa; }},
    {"FatturaLotto", NoBatch},
    {"PosizioneLotto", FirstInBatch},
    {"CodiceStatoGestionale", [](const HeldInvoice& h) { return h.Invoice.CodiceStatoGestionale; }},
    {"StatoGestionale",
     [](const HeldInvoice& h) { return StatoGestionaleText(h.Invoice.CodiceStatoGestionale); }},
    {"DataUltimaNotifica", [](const HeldInvoice& h) { return h.Invoice.Data + " " + h.Invoice.Ora; }},
    {"CodiceStatoSdi", [](const HeldInvoice&) { return std::string("RC"); }},
    {"StatoFatturaSdi", [](const HeldInvoice&) { return std::string("Consegnata"); }},
    {"TipoDocumento", [](const HeldInvoice& h) { return h.Summary.TipoDocumento; }},
    {"StatoQuadrFattura", Balanced},
};

const RecordMember kPassivaMembers[] = {
    {"IdFattura", [](const HeldInvoice& h) { return h.Invoice.IdCoda; }},
    {"IdSDI", [](const HeldInvoice& h) { return h.IdSDI; }},
    {"Nomefile", [](const HeldInvoice& h) { return h.Invoice.FileName; }},
    {"FatturaData", [](const HeldInvoice& h) { return h.Summary.FatturaData; }},
    {"FatturaNumero", [](const HeldInvoice& h) { return h.Summary.FatturaNumero; }},
    {"FatturaImporto", [](const HeldInvoice& h) { return h.Summary.FatturaImporto; }},
    {"RicezioneData", [](const HeldInvoice& h) { return h.Invoice.Data; }},
    {"RicezioneOra", [](const HeldInvoice& h) { return h.Invoice.Ora; }},
    {"CedenteAnagrafica", [](const HeldInvoice& h) { return h.Summary.CedenteAnagrafica; }},
    {"CedenteCodiceFiscale", [](const HeldInvoice& h) { return h.Summary.CedenteCodiceFiscale; }},
    {"CessionarioAnagrafica", [](const HeldInvoice& h) { return h.Summary.CessionarioAnagrafica; }},
    {"CessionarioCodiceFiscale", [](const HeldInvoice& h) { return h.Summary.CessionarioCodiceFiscale; }},
    {"CessionarioPartitaIva", [](const HeldInvoice& h) { return h.Summary.CessionarioPartitaIva; }},
    {"FatturaLotto", NoBatch},
    {"PosizioneLotto", FirstInBatch},
    {"CodiceStatoGestionale", [](const HeldInvoice& h) { return h.Invoice.CodiceStatoGestionale; }},
    {"StatoGestionale",
     [](const HeldInvoice& h) { return StatoGestionaleText(h.Invoice.CodiceStatoGestionale); }},
    {"TipoDocumento", [](const HeldInvoice& h) { return h.Summary.TipoDocumento; }},
    {"StatoQuadrFattura", Balanced},
};

template <std::size_t N> std::string RecordJson(const HeldInvoice& held, const RecordMember (&members)[N])
{
    JsonObject record;
    for (const RecordMember& member : members)
        record.Text(member.Name, member.Value(held));
    return record.Dump();
}

// A search filter: the request field and whether an invoice passes a non-empty value of it.
struct SearchFilter
{
    const char* Field;
    bool (*Passes)(const HeldInvoice&, const std::string& value);
};

bool MatchesParty(const std::string& value, const std::string& codiceFiscale, const std::string& partitaIva)
{
    return EqualsNoCase(value, codiceFiscale) || EqualsNoCase(value, partitaIva);
}

const SearchFilter kCommonFilters[] = {
    {"CessionarioCfPiva",
     [](const HeldInvoice& h, const std::string& v) {
         return MatchesParty(v, h.Summary.CessionarioCodiceFiscale, h.Summary.CessionarioPartitaIva);
     }},
    {"CessionarioDenominazione",
     [](const HeldInvoice& h, const std::string& v) {
         return ContainsNoCase(h.Summary.CessionarioAnagrafica, v);
     }},
    {"CedenteCfPiva",
     [](const HeldInvoice& h, const std::string& v) {
         return MatchesParty(v, h.Summary.CedenteCodiceFiscale, h.Summary.CedentePartitaIva);
     }},
    {"CedenteDenominazione",
     [](const HeldInvoice& h, const std::string& v) {
         return ContainsNoCase(h.Summary.CedenteAnagrafica, v);
     }},
    {"FatturaDataDa",
     [](const HeldInvoice& h, const std::string& v) { return h.Summary.FatturaData >= DayOf(v); }},
    {"FatturaDataA",
     [](const HeldInvoice& h, const std::string& v) {
         return !h.Summary.FatturaData.empty() && h.Summary.FatturaData <= DayOf(v);
     }},
    {"FatturaData",
     [](const HeldInvoice& h, const std::string& v) { return h.Summary.FatturaData == DayOf(v); }},
    {"FatturaNumero",
     [](const HeldInvoice& h, const std::string& v) { return h.Summary.FatturaNumero == v; }},
    {"CodiceStatoGestionale",
     [](const HeldInvoice& h, const std::string& v) { return h.Invoice.CodiceStatoGestionale == v; }},
    {"FatturaDaId",
     [](const HeldInvoice& h, const std::string& v) { return CompareIds(h.Invoice.IdCoda, v) >= 0; }},
    {"FatturaAId",
     [](const HeldInvoice& h, const std::string& v) { return CompareIds(h.Invoice.IdCoda, v) <= 0; }},
};

bool AfterDay(const HeldInvoice& h, const std::string& v)
{
    return h.Invoice.Data >= DayOf(v);
}
bool BeforeDay(const HeldInvoice& h, const std::string& v)
{
    return h.Invoice.Data <= DayOf(v);
}
const SearchFilter kAttivaDateFilters[] = {{"InvioDataDa", AfterDay}, {"InvioDataA", BeforeDay}};
const SearchFilter kPassivaDateFilters[] = {{"RicezioneDataDa", AfterDay}, {"RicezioneDataA", BeforeDay}};

std::string LocalTime(const char* format)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, format, &local);
    return text;
}

template <std::size_t M, std::size_t D>
std::string Search(const std::vector<HeldInvoice>& invoices, const ReceivedRequest& request,
                   const RecordMember (&members)[M], const SearchFilter (&dateFilters)[D], int maxPageSize)
{
    const auto number = [&](const char* field) {
        const std::string text = request.Field(field);
        if (text.empty())
            return 0L;
        const bool negative = text[0] == '-';
        if (!AllDigits(negative ? text.substr(1) : text) || text.size() > 10)
            throw Refusal("Valore non numerico per " + std::string(field) + ": " + text);
        return std::stol(text);
    };
    long limit = number("RisultatiLimite");
    // A limit of 0 or less means no limit; the cap, when set, holds in any case.
    if (maxPageSize > 0 && (limit <= 0 || limit > maxPageSize))
        limit = maxPageSize;
    const long offset = std::max(0L, number("RisultatiOffset"));

    std::vector<const HeldInvoice*> matching;
    for (const HeldInvoice& held : invoices) {
        const auto passes = [&](const SearchFilter& filter) {
            const std::string value = request.Field(filter.Field);
            return value.empty() || filter.Passes(held, value);
        };
        if (std::all_of(std::begin(kCommonFilters), std::end(kCommonFilters), passes) &&
            std::all_of(std::begin(dateFilters), std::end(dateFilters), passes))
            matching.push_back(&held);
    }
    const std::string reverse = Lower(request.Field("RisultatiOrdinamentoInverso"));
    if (reverse == "s" || reverse == "1" || reverse == "true")
        std::reverse(matching.begin(), matching.end());

    std::vector<std::string> records;
    for (std::size_t i = static_cast<std::size_t>(offset);
         i < matching.size() && (limit <= 0 || records.size() < static_cast<std::size_t>(limit)); ++i)
        records.push_back(RecordJson(*matching[i], members));
    return JsonObject()
        .Text("NumeroTotale", std::to_string(matching.size()))
        .Raw("seq_FATTURE", JsonArray(records))
        .Dump();
}

} // namespace

std::string RefusalJson(const std::string& message)
{
    return JsonObject().Text("error", message).Dump();
}

Operations::Operations(std::string username, int maxPageSize)
    : FUsername(std::move(username)), FMaxPageSize(maxPageSize)
{
    for (const ReceivedSeed& seed : ReceivedSeeds()) {
        HeldInvoice held;
        held.Invoice = {seed.IdFattura, seed.FileName, InvoiceXml(seed.Summary), "N", "01",
                        seed.Data,      seed.Ora};
        held.Summary = seed.Summary;
        held.IdSDI = "4" + std::string(seed.IdFattura);
        FLastReceivedId = std::max(FLastReceivedId, std::stol(seed.IdFattura));
        FReceived.push_back(std::move(held));
    }
}

std::string Operations::AddIssued(const std::string& fileName, const std::string& content,
                                  const std::string& inversa)
{
    const std::string idCoda = std::to_string(++FLastIdCoda);
    HeldInvoice held;
    held.Invoice = {idCoda, fileName, content, inversa, "01", LocalTime("%Y-%m-%d"), LocalTime("%H:%M:%S")};
    held.Summary = ReadInvoiceSummary(content);
    held.IdSDI = std::to_string(7000000 + FLastIdCoda);
    FIssued.push_back(std::move(held));
    return idCoda;
}

std::string Operations::AddReceived(const std::string& fileName, const std::string& content,
                                    const std::string& date, const std::string& time)
{
    const std::string id = std::to_string(++FLastReceivedId);
    HeldInvoice held;
    held.Invoice = {id, fileName, content, "N", "01", date, time};
    held.Summary = ReadInvoiceSummary(content);
    held.IdSDI = "4" + id;
    FReceived.push_back(std::move(held));
    return id;
}

void Operations::SetNotifications(const std::string& idFattura, std::vector<Notification> history)
{
    FNotifications[idFattura] = std::move(history);
}

const std::pair<const char*, Operations::Handler> Operations::kHandlers[] = {
    {"FAESendXml", &Operations::SendXml},
    {"FAEAttivaSearch", &Operations::AttivaSearch},
    {"FAEPassivaSearch", &Operations::PassivaSearch},
    {"FAEGetStatusbyId", &Operations::GetStatusbyId},
    {"FAEGetXmlbyId", &Operations::GetXmlbyId},
    {"FAEAggiornaStato", &Operations::AggiornaStato},
    {"GetCodiceSoggetto", &Operations::GetCodiceSoggetto},
    {"VR_CheckDatabase", &Operations::CheckDatabase},
};

std::string Operations::Answer(const ReceivedRequest& request)
{
    const std::string operation = request.Field("QELT_REQ");
    for (const auto& [name, handler] : kHandlers) {
        if (operation != name)
            continue;
        try {
            return JsonObject().Text("error", "").Raw("result", (this->*handler)(request)).Dump();
        } catch (const Refusal& refusal) {
            return RefusalJson(refusal.what());
        }
    }
    return RefusalJson("Richiesta non riconosciuta: " + operation);
}

std::string Operations::ReceivedList() const
{
    std::vector<std::string> items;
    for (const HeldInvoice& held : FIssued)
        items.push_back(JsonObject()
                            .Text("IdCoda", held.Invoice.IdCoda)
                            .Text("FileName", held.Invoice.FileName)
                            .Raw("Size", std::to_string(held.Invoice.Content.size()))
                            .Text("CodiceStatoGestionale", held.Invoice.CodiceStatoGestionale)
                            .Text("StatoGestionale", StatoGestionaleText(held.Invoice.CodiceStatoGestionale))
                            .Dump());
    return JsonArray(items);
}

std::string Operations::SendXml(const ReceivedRequest& request)
{
    const auto refused = [](const std::string& message) {
        return JsonObject()
            .Text("NumRows", "0")
            .Text("Valido", "N")
            .Text("VerificaInvioRes", "KO")
            .Text("Error", message)
            .Text("IdProgFattura_1", "")
            .Text("IdCodaInvio_1", "")
            .Text("NomeFileGenerato", "")
            .Text("IdNotifica", "")
            .Dump();
    };

    const auto file = std::find_if(request.Files.begin(), request.Files.end(),
                                   [](const FilePart& part) { return part.Name == "PathFileXml"; });
    if (file == request.Files.end())
        return refused("Nessun file della fattura nella richiesta (parte PathFileXml)");
    const std::string& name = file->FileName;
    const auto dot = name.rfind('.');
    const std::string extension = dot == std::string::npos ? "" : Lower(name.substr(dot + 1));

    if (file->Content.empty())
        return refused("Il file " + name + " è vuoto");
    if (extension == "xml") {
        const std::string problem = XmlWellFormedError(file->Content);
        if (!problem.empty())
            return refused("Il file " + name + " non è un XML ben formato: " + problem);
    } else if (extension == "p7m") {
        const std::string problem = DerEnvelopeError(file->Content);
        if (!problem.empty())
            return refused("Il file " + name + " non è una busta firmata .p7m in formato DER: " + problem);
    } else {
        return refused("Il file " + name +
                       " ha un'estensione non ammessa: sono accettati solo file .xml e .p7m");
    }
    const std::string inversa = request.Field("FatturaInversa");
    if (inversa != "S" && inversa != "N")
        return refused("Valore di FatturaInversa non valido: \"" + inversa + "\" (ammessi S e N)");

    const std::string idCoda = AddIssued(name, file->Content, inversa);
    return JsonObject()
        .Text("NumRows", "1")
        .Text("Valido", "S")
        .Text("VerificaInvioRes", "OK")
        .Text("Error", "")
        .Text("IdProgFattura_1", idCoda)
        .Text("IdCodaInvio_1", idCoda)
        .Text("NomeFileGenerato", name)
        .Text("IdNotifica", "")
        .Dump();
}

std::string Operations::AttivaSearch(const ReceivedRequest& request)
{
    return Search(FIssued, request, kAttivaMembers, kAttivaDateFilters, FMaxPageSize);
}

std::string Operations::PassivaSearch(const ReceivedRequest& request)
{
    return Search(FReceived, request, kPassivaMembers, kPassivaDateFilters, FMaxPageSize);
}

HeldInvoice* Operations::Find(const std::string& idFattura)
{
    for (std::vector<HeldInvoice>* invoices : {&FIssued, &FReceived})
        for (HeldInvoice& held : *invoices)
            if (held.Invoice.IdCoda == idFattura)
                return &held;
    return nullptr;
}

std::string Operations::GetStatusbyId(const ReceivedRequest& request)
{
    const std::string id = request.Field("idcoda");
    const HeldInvoice* held = Find(id);
    if (!held)
        throw Refusal("Fattura non trovata: " + id);
    const std::string when = held->Invoice.Data + " " + held->Invoice.Ora;
    const auto found = FNotifications.find(id);
    const std::vector<Notification> history =
        found != FNotifications.end() ? found->second : std::vector<Notification>{{"RC", when, when}};
    std::vector<std::string> notifications;
    for (const Notification& n : history)
        notifications.push_back(JsonObject()
                                    .Text("TipoNotifica", n.TipoNotifica)
                                    .Text("DataInvio", n.DataInvio)
                                    .Text("DataRicezione", n.DataRicezione)
                                    .Dump());
    // The latest by date decides the status, wherever the list has it.
    const Notification* latest = nullptr;
    for (const Notification& n : history)
        if (!latest || n.DataRicezione >= latest->DataRicezione)
            latest = &n;
    const std::string code = latest ? latest->TipoNotifica : "";
    const std::string delivered = code == "RC" ? latest->DataRicezione : "";
    const std::size_t blank = delivered.find(' ');
    const StatoSdi stato = StatoSdiOf(code);
    return JsonObject()
        .Text("StatoFattura", stato.Text)
        .Text("idfattura", held->Invoice.IdCoda)
        .Text("CodiceStatoFattura", code)
        .Text("StatoEstesoFattura", stato.Extended)
        .Text("TipoDocumento", held->Summary.TipoDocumento)
        .Text("Id_SDI", held->IdSDI)
        .Text("DataInvio", when)
        .Text("DataConsegna", delivered.substr(0, blank))
        .Text("OraConsegna", blank == std::string::npos ? "" : delivered.substr(blank + 1))
        .Raw("seq_NOTIFICA", JsonArray(notifications))
        .Dump();
}

std::string Operations::GetXmlbyId(const ReceivedRequest& request)
{
    const auto failed = [](const std::string& message) { return JsonObject().Text("Error", message).Dump(); };
    const std::string id = request.Field("idcoda");
    ++FDownloads[id];
    const std::string kind = request.Field("TipoXML");
    const std::string output = request.Field("TipoFileOut");
    const HeldInvoice* held = Find(id);
    if (!held)
        return failed("Fattura non trovata: " + id);
    if (!kind.empty() && kind != "FATTURA")
        return failed("Tipo di documento non disponibile: " + kind);
    if (output != "base64")
        return failed("Formato del file non supportato: " + output);
    // No "Error" member on success: a client takes its mere presence as a refusal.
    return JsonObject()
        .Text("NomeFileBase64", held->Invoice.FileName)
        .Text("FileBase64", Base64Encode(held->Invoice.Content))
        .Text("TipoXML", "FATTURA")
        .Dump();
}

std::string Operations::AggiornaStato(const ReceivedRequest& request)
{
    const auto outcome = [](const std::string& esito, const std::string& message) {
        return JsonObject().Text("Esito", esito).Text("Error", message).Dump();
    };
    const std::string id = request.Field("idcoda");
    const std::string code = request.Field("CodiceStato");
    HeldInvoice* held = Find(id);
    if (!held)
        return outcome("KO", "Fattura non trovata: " + id);
    if (StatoGestionaleText(code).empty())
        return outcome("KO", "Codice stato non valido: " + code);
    held->Invoice.CodiceStatoGestionale = code;
    return outcome("OK", "");
}

std::string Operations::GetCodiceSoggetto(const ReceivedRequest& request)
{
    const std::string codiceFiscale = request.Field("IN_CodiceFiscaleSoggetto");
    const auto answer = [](const char* resu, const std::string& code, const std::string& message) {
        return JsonObject().Text("RESU", resu).Text("CodiceSoggetto", code).Text("Error", message).Dump();
    };
    if (codiceFiscale.empty())
        return answer("N", "", "Codice fiscale non specificato");
    for (const auto& [known, code] : Soggetti())
        if (EqualsNoCase(codiceFiscale, known))
            return answer("S", code, "");
    return answer("N", "", "Nessun soggetto con codice fiscale " + codiceFiscale);
}

std::string Operations::CheckDatabase(const ReceivedRequest& request)
{
    const auto at = FUsername.rfind('@');
    const std::string database = at == std::string::npos ? "" : FUsername.substr(at + 1);
    return JsonObject()
        .Text("Database", database)
        .Text("Esito", database.empty() ? "KO" : "OK")
        .Text("Installazione", "Cloud")
        .Text("Tipologia", request.FirmType)
        .Text("Stato", "Attivo")
        .Text("AccettazioneContratto", "S")
        .Dump();
}

} // namespace substitute
