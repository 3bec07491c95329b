#include "substitute/SubstituteBackend.h"

#include "substitute/SubstituteDocuments.h"
#include "substitute/SubstituteForms.h"
#include "substitute/SubstituteHttps.h"
#include "substitute/SubstituteJson.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <deque>
#include <functional>
#include <stdexcept>

namespace substitute {

namespace {

const char* const kEndpointPath = "/assoc/progs/main/xapirest.sto";
const char* const kReceivedListPath = "/substitute/received";

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool SameNoCase(const std::string& a, const std::string& b)
{
    return Lower(a) == Lower(b);
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix)
{
    return text.size() >= prefix.size() && SameNoCase(text.substr(0, prefix.size()), prefix);
}

bool ContainsNoCase(const std::string& text, const std::string& part)
{
    return Lower(text).find(Lower(part)) != std::string::npos;
}

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

std::string Gzip(const std::string& bytes)
{
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    std::string out(deflateBound(&stream, static_cast<uLong>(bytes.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END)
        throw std::runtime_error("deflate did not finish");
    return out;
}

HttpAnswer JsonAnswer(int status, const std::string& json)
{
    HttpAnswer answer;
    answer.Status = status;
    answer.Headers = {{"Content-Type", "application/json; charset=utf-8"}};
    answer.Body = json;
    return answer;
}

// The backend's refusal of a whole request: its answer's top-level "error".
struct Refusal : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

struct Held
{
    StoredInvoice Invoice;
    InvoiceSummary Summary;
    std::string IdSDI;
};

std::string StatoGestionaleText(const std::string& code)
{
    for (const auto& [known, description] : StatiGestionali())
        if (known == code)
            return description;
    return {};
}

// The members of one invoice in a search answer, in the order the backend writes them.
struct RecordMember
{
    const char* Name;
    std::string (*Value)(const Held&);
};

// Fixed for the substitute: it sends no batches and every issued invoice is delivered at once.
std::string NoBatch(const Held&)
{
    return "N";
}
std::string FirstInBatch(const Held&)
{
    return "1";
}
std::string Balanced(const Held&)
{
    return "OK";
}

const RecordMember kAttivaMembers[] = {
    {"IdFattura", [](const Held& h) { return h.Invoice.IdCoda; }},
    {"IdSDI", [](const Held& h) { return h.IdSDI; }},
    {"FatturaData", [](const Held& h) { return h.Summary.FatturaData; }},
    {"FatturaNumero", [](const Held& h) { return h.Summary.FatturaNumero; }},
    {"FatturaImporto", [](const Held& h) { return h.Summary.FatturaImporto; }},
    {"InvioData", [](const Held& h) { return h.Invoice.Data; }},
    {"InvioOra", [](const Held& h) { return h.Invoice.Ora; }},
    {"CedenteAnagrafica", [](const Held& h) { return h.Summary.CedenteAnagrafica; }},
    {"CedenteCodiceFiscale", [](const Held& h) { return h.Summary.CedenteCodiceFiscale; }},
    {"CedentePartitaIva", [](const Held& h) { return h.Summary.CedentePartitaIva; }},
    {"CessionarioAnagrafica", [](const Held& h) { return h.Summary.CessionarioAnagrafica; }},
    {"CessionarioCodiceFiscale", [](const Held& h) { return h.Summary.CessionarioCodiceFiscale; }},
    {"FatturaInversa", [](const Held& h) { return h.Invoice.FatturaInversa; }},
    {"FatturaLotto", NoBatch},
    {"PosizioneLotto", FirstInBatch},
    {"CodiceStatoGestionale", [](const Held& h) { return h.Invoice.CodiceStatoGestionale; }},
    {"StatoGestionale", [](const Held& h) { return StatoGestionaleText(h.Invoice.CodiceStatoGestionale); }},
    {"DataUltimaNotifica", [](const Held& h) { return h.Invoice.Data + " " + h.Invoice.Ora; }},
    {"CodiceStatoSdi", [](const Held&) { return std::string("RC"); }},
    {"StatoFatturaSdi", [](const Held&) { return std::string("Consegnata"); }},
    {"TipoDocumento", [](const Held& h) { return h.Summary.TipoDocumento; }},
    {"StatoQuadrFattura", Balanced},
};

const RecordMember kPassivaMembers[] = {
    {"IdFattura", [](const Held& h) { return h.Invoice.IdCoda; }},
    {"IdSDI", [](const Held& h) { return h.IdSDI; }},
    {"Nomefile", [](const Held& h) { return h.Invoice.FileName; }},
    {"FatturaData", [](const Held& h) { return h.Summary.FatturaData; }},
    {"FatturaNumero", [](const Held& h) { return h.Summary.FatturaNumero; }},
    {"FatturaImporto", [](const Held& h) { return h.Summary.FatturaImporto; }},
    {"RicezioneData", [](const Held& h) { return h.Invoice.Data; }},
    {"RicezioneOra", [](const Held& h) { return h.Invoice.Ora; }},
    {"CedenteAnagrafica", [](const Held& h) { return h.Summary.CedenteAnagrafica; }},
    {"CedenteCodiceFiscale", [](const Held& h) { return h.Summary.CedenteCodiceFiscale; }},
    {"CessionarioAnagrafica", [](const Held& h) { return h.Summary.CessionarioAnagrafica; }},
    {"CessionarioCodiceFiscale", [](const Held& h) { return h.Summary.CessionarioCodiceFiscale; }},
    {"CessionarioPartitaIva", [](const Held& h) { return h.Summary.CessionarioPartitaIva; }},
    {"FatturaLotto", NoBatch},
    {"PosizioneLotto", FirstInBatch},
    {"CodiceStatoGestionale", [](const Held& h) { return h.Invoice.CodiceStatoGestionale; }},
    {"StatoGestionale", [](const Held& h) { return StatoGestionaleText(h.Invoice.CodiceStatoGestionale); }},
    {"TipoDocumento", [](const Held& h) { return h.Summary.TipoDocumento; }},
    {"StatoQuadrFattura", Balanced},
};

template <std::size_t N> std::string RecordJson(const Held& held, const RecordMember (&members)[N])
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
    bool (*Passes)(const Held&, const std::string& value);
};

bool MatchesParty(const std::string& value, const std::string& codiceFiscale, const std::string& partitaIva)
{
    return SameNoCase(value, codiceFiscale) || SameNoCase(value, partitaIva);
}

const SearchFilter kCommonFilters[] = {
    {"CessionarioCfPiva",
     [](const Held& h, const std::string& v) {
         return MatchesParty(v, h.Summary.CessionarioCodiceFiscale, h.Summary.CessionarioPartitaIva);
     }},
    {"CessionarioDenominazione",
     [](const Held& h, const std::string& v) { return ContainsNoCase(h.Summary.CessionarioAnagrafica, v); }},
    {"CedenteCfPiva",
     [](const Held& h, const std::string& v) {
         return MatchesParty(v, h.Summary.CedenteCodiceFiscale, h.Summary.CedentePartitaIva);
     }},
    {"CedenteDenominazione",
     [](const Held& h, const std::string& v) { return ContainsNoCase(h.Summary.CedenteAnagrafica, v); }},
    {"FatturaDataDa", [](const Held& h, const std::string& v) { return h.Summary.FatturaData >= DayOf(v); }},
    {"FatturaDataA",
     [](const Held& h, const std::string& v) {
         return !h.Summary.FatturaData.empty() && h.Summary.FatturaData <= DayOf(v);
     }},
    {"FatturaData", [](const Held& h, const std::string& v) { return h.Summary.FatturaData == DayOf(v); }},
    {"FatturaNumero", [](const Held& h, const std::string& v) { return h.Summary.FatturaNumero == v; }},
    {"CodiceStatoGestionale",
     [](const Held& h, const std::string& v) { return h.Invoice.CodiceStatoGestionale == v; }},
    {"FatturaDaId", [](const Held& h, const std::string& v) { return CompareIds(h.Invoice.IdCoda, v) >= 0; }},
    {"FatturaAId", [](const Held& h, const std::string& v) { return CompareIds(h.Invoice.IdCoda, v) <= 0; }},
};

bool AfterDay(const Held& h, const std::string& v)
{
    return h.Invoice.Data >= DayOf(v);
}
bool BeforeDay(const Held& h, const std::string& v)
{
    return h.Invoice.Data <= DayOf(v);
}
const SearchFilter kAttivaDateFilters[] = {{"InvioDataDa", AfterDay}, {"InvioDataA", BeforeDay}};
const SearchFilter kPassivaDateFilters[] = {{"RicezioneDataDa", AfterDay}, {"RicezioneDataA", BeforeDay}};

// The registry's subjects: tax code (or VAT number of a firm) and the backend's subject code.
const std::pair<const char*, const char*> kSoggetti[] = {
    {"RSSMRA80A01H501U", "SOG000101"},
    {"01234567890", "SOG000102"},
    {"BNCLRA85M41F205Z", "SOG000103"},
};

struct ReceivedSeed
{
    const char* IdFattura;
    const char* FileName;
    const char* Data;
    const char* Ora;
    InvoiceSummary Summary;
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

// A small electronic invoice carrying the summary, so that a received invoice can be downloaded.
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

std::string LocalTime(const char* format)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, format, &local);
    return text;
}

std::string FirmTypeOf(const std::string& host)
{
    if (host.rfind('[', 0) == 0)
        return host.substr(0, host.find(']') + 1);
    return host.substr(0, host.find_first_of(".:"));
}

} // namespace

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

std::string ReceivedRequest::Header(const std::string& name) const
{
    return FindHeader(Headers, name);
}

std::string ReceivedRequest::Field(const std::string& name) const
{
    for (const auto& [key, value] : Fields)
        if (key == name)
            return value;
    return {};
}

struct Backend::Impl
{
    Options Settings;
    mutable std::mutex Lock;
    std::vector<ReceivedRequest> Requests;
    std::deque<ScriptedAnswer> Scripted;
    std::vector<Held> Issued;
    std::vector<Held> Received;
    long LastIdCoda = 0;
    std::unique_ptr<HttpsServer> Server; // last: stopped first, while everything it calls still exists

    HttpAnswer Handle(const HttpRequest& http);
    HttpAnswer Serve(const ReceivedRequest& request, const std::string& parseError);
    bool Authorized(const ReceivedRequest& request) const;
    std::string ReceivedList() const;

    using Operation = std::string (Impl::*)(const ReceivedRequest&);
    static const std::pair<const char*, Operation> kOperations[];

    std::string SendXml(const ReceivedRequest& request);
    std::string AttivaSearch(const ReceivedRequest& request);
    std::string PassivaSearch(const ReceivedRequest& request);
    std::string GetStatusbyId(const ReceivedRequest& request);
    std::string GetXmlbyId(const ReceivedRequest& request);
    std::string AggiornaStato(const ReceivedRequest& request);
    std::string GetCodiceSoggetto(const ReceivedRequest& request);
    std::string CheckDatabase(const ReceivedRequest& request);

    template <std::size_t M, std::size_t D>
    std::string Search(const std::vector<Held>& invoices, const ReceivedRequest& request,
                       const RecordMember (&members)[M], const SearchFilter (&dateFilters)[D]) const;
    Held* Find(const std::string& idFattura);
};

const std::pair<const char*, Backend::Impl::Operation> Backend::Impl::kOperations[] = {
    {"FAESendXml", &Impl::SendXml},
    {"FAEAttivaSearch", &Impl::AttivaSearch},
    {"FAEPassivaSearch", &Impl::PassivaSearch},
    {"FAEGetStatusbyId", &Impl::GetStatusbyId},
    {"FAEGetXmlbyId", &Impl::GetXmlbyId},
    {"FAEAggiornaStato", &Impl::AggiornaStato},
    {"GetCodiceSoggetto", &Impl::GetCodiceSoggetto},
    {"VR_CheckDatabase", &Impl::CheckDatabase},
};

Backend::Backend(Options options) : FImpl(std::make_unique<Impl>())
{
    FImpl->Settings = std::move(options);
    for (const ReceivedSeed& seed : kReceivedSeeds) {
        Held held;
        held.Invoice = {seed.IdFattura, seed.FileName, InvoiceXml(seed.Summary), "N", "01",
                        seed.Data,      seed.Ora};
        held.Summary = seed.Summary;
        held.IdSDI = "4" + std::string(seed.IdFattura);
        FImpl->Received.push_back(std::move(held));
    }
    const Options& s = FImpl->Settings;
    FImpl->Server =
        std::make_unique<HttpsServer>(s.CertFile, s.KeyFile, s.BindAddress, s.Port,
                                      [impl = FImpl.get()](const HttpRequest& r) { return impl->Handle(r); });
}

Backend::~Backend()
{
    FImpl->Server.reset();
}

int Backend::Port() const
{
    return FImpl->Server->Port();
}

void Backend::PushAnswer(ScriptedAnswer answer)
{
    std::lock_guard<std::mutex> guard(FImpl->Lock);
    FImpl->Scripted.push_back(std::move(answer));
}

std::vector<ReceivedRequest> Backend::Requests() const
{
    std::lock_guard<std::mutex> guard(FImpl->Lock);
    return FImpl->Requests;
}

void Backend::ClearRequests()
{
    std::lock_guard<std::mutex> guard(FImpl->Lock);
    FImpl->Requests.clear();
}

std::vector<StoredInvoice> Backend::Invoices() const
{
    std::lock_guard<std::mutex> guard(FImpl->Lock);
    std::vector<StoredInvoice> invoices;
    for (const Held& held : FImpl->Issued)
        invoices.push_back(held.Invoice);
    return invoices;
}

std::vector<StoredInvoice> Backend::ReceivedInvoices() const
{
    std::lock_guard<std::mutex> guard(FImpl->Lock);
    std::vector<StoredInvoice> invoices;
    for (const Held& held : FImpl->Received)
        invoices.push_back(held.Invoice);
    return invoices;
}

HttpAnswer Backend::Impl::Handle(const HttpRequest& http)
{
    ReceivedRequest request;
    request.Method = http.Method;
    request.Path = http.Target.substr(0, http.Target.find('?'));
    request.FirmType = FirmTypeOf(FindHeader(http.Headers, "Host"));
    request.Connection = http.Connection;
    request.Headers = http.Headers;
    request.Body = http.Body;

    // The body is read whatever happens next, so that a test sees what was sent even when the
    // answer was scripted or refused.
    std::string parseError;
    const std::string contentType = request.Header("Content-Type");
    try {
        if (StartsWithNoCase(contentType, "application/x-www-form-urlencoded")) {
            request.Fields = ParseUrlEncoded(request.Body);
        } else if (StartsWithNoCase(contentType, "multipart/form-data")) {
            for (MultipartPart& part :
                 ParseMultipart(request.Body, HeaderParameter(contentType, "boundary"))) {
                if (part.HasFileName)
                    request.Files.push_back(
                        {part.Name, part.FileName, part.ContentType, std::move(part.Content)});
                else
                    request.Fields.emplace_back(part.Name, std::move(part.Content));
            }
        }
    } catch (const std::runtime_error& e) {
        parseError = e.what();
    }

    std::lock_guard<std::mutex> guard(Lock);
    Requests.push_back(request);
    if (!Scripted.empty()) {
        const ScriptedAnswer scripted = std::move(Scripted.front());
        Scripted.pop_front();
        HttpAnswer answer;
        answer.Status = scripted.Status;
        answer.Reason = scripted.Reason;
        if (!scripted.ContentType.empty())
            answer.Headers.emplace_back("Content-Type", scripted.ContentType);
        if (scripted.Gzip)
            answer.Headers.emplace_back("Content-Encoding", "gzip");
        answer.Headers.insert(answer.Headers.end(), scripted.Headers.begin(), scripted.Headers.end());
        answer.Body = scripted.Gzip ? Gzip(scripted.Body) : scripted.Body;
        answer.Delay = scripted.Delay;
        answer.DropConnection = scripted.DropConnection;
        return answer;
    }
    return Serve(request, parseError);
}

HttpAnswer Backend::Impl::Serve(const ReceivedRequest& request, const std::string& parseError)
{
    const auto error = [](const std::string& message) { return JsonObject().Text("error", message).Dump(); };

    if (request.Method == "GET" && request.Path == kReceivedListPath)
        return JsonAnswer(200, ReceivedList());
    if (request.Path != kEndpointPath)
        return JsonAnswer(404, error("Risorsa non trovata: " + request.Path));
    if (request.Method != "POST") {
        HttpAnswer answer = JsonAnswer(405, error("Metodo non ammesso: " + request.Method));
        answer.Headers.emplace_back("Allow", "POST");
        return answer;
    }
    if (!Authorized(request)) {
        HttpAnswer answer = JsonAnswer(401, error("Autenticazione non riuscita: utente o password errati"));
        answer.Headers.emplace_back("WWW-Authenticate", "Basic realm=\"xapirest\"");
        return answer;
    }
    if (!parseError.empty())
        return JsonAnswer(400, error(parseError));
    const std::string contentType = request.Header("Content-Type");
    if (!StartsWithNoCase(contentType, "application/x-www-form-urlencoded") &&
        !StartsWithNoCase(contentType, "multipart/form-data"))
        return JsonAnswer(415, error("Tipo di contenuto non supportato: " + contentType));

    const std::string format = request.Field("QELT_RESPONSE_FORMAT");
    if (format != "JSON")
        return JsonAnswer(200, error("Formato di risposta non supportato: " + format));
    const std::string operation = request.Field("QELT_REQ");
    for (const auto& [name, handler] : kOperations) {
        if (operation != name)
            continue;
        try {
            return JsonAnswer(200,
                              JsonObject().Text("error", "").Raw("result", (this->*handler)(request)).Dump());
        } catch (const Refusal& refusal) {
            return JsonAnswer(200, error(refusal.what()));
        }
    }
    return JsonAnswer(200, error("Richiesta non riconosciuta: " + operation));
}

bool Backend::Impl::Authorized(const ReceivedRequest& request) const
{
    const std::string authorization = request.Header("Authorization");
    std::string credentials;
    return StartsWithNoCase(authorization, "Basic ") && Base64Decode(authorization.substr(6), credentials) &&
           credentials == Settings.Username + ":" + Settings.Password;
}

std::string Backend::Impl::ReceivedList() const
{
    std::vector<std::string> items;
    for (const Held& held : Issued)
        items.push_back(JsonObject()
                            .Text("IdCoda", held.Invoice.IdCoda)
                            .Text("FileName", held.Invoice.FileName)
                            .Raw("Size", std::to_string(held.Invoice.Content.size()))
                            .Text("CodiceStatoGestionale", held.Invoice.CodiceStatoGestionale)
                            .Text("StatoGestionale", StatoGestionaleText(held.Invoice.CodiceStatoGestionale))
                            .Dump());
    return JsonArray(items);
}

std::string Backend::Impl::SendXml(const ReceivedRequest& request)
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

    const std::string idCoda = std::to_string(++LastIdCoda);
    Held held;
    held.Invoice = {idCoda, name, file->Content, inversa, "01", LocalTime("%Y-%m-%d"), LocalTime("%H:%M:%S")};
    held.Summary = ReadInvoiceSummary(file->Content);
    held.IdSDI = std::to_string(7000000 + LastIdCoda);
    Issued.push_back(std::move(held));
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

template <std::size_t M, std::size_t D>
std::string Backend::Impl::Search(const std::vector<Held>& invoices, const ReceivedRequest& request,
                                  const RecordMember (&members)[M],
                                  const SearchFilter (&dateFilters)[D]) const
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
    const long limit = number("RisultatiLimite");
    const long offset = std::max(0L, number("RisultatiOffset"));

    std::vector<const Held*> matching;
    for (const Held& held : invoices) {
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

    // A limit of 0 or less means no limit.
    std::vector<std::string> records;
    for (std::size_t i = static_cast<std::size_t>(offset);
         i < matching.size() && (limit <= 0 || records.size() < static_cast<std::size_t>(limit)); ++i)
        records.push_back(RecordJson(*matching[i], members));
    return JsonObject()
        .Text("NumeroTotale", std::to_string(matching.size()))
        .Raw("seq_FATTURE", JsonArray(records))
        .Dump();
}

std::string Backend::Impl::AttivaSearch(const ReceivedRequest& request)
{
    return Search(Issued, request, kAttivaMembers, kAttivaDateFilters);
}

std::string Backend::Impl::PassivaSearch(const ReceivedRequest& request)
{
    return Search(Received, request, kPassivaMembers, kPassivaDateFilters);
}

Held* Backend::Impl::Find(const std::string& idFattura)
{
    for (std::vector<Held>* invoices : {&Issued, &Received})
        for (Held& held : *invoices)
            if (held.Invoice.IdCoda == idFattura)
                return &held;
    return nullptr;
}

std::string Backend::Impl::GetStatusbyId(const ReceivedRequest& request)
{
    const std::string id = request.Field("idcoda");
    const Held* held = Find(id);
    if (!held)
        throw Refusal("Fattura non trovata: " + id);
    const std::string when = held->Invoice.Data + " " + held->Invoice.Ora;
    return JsonObject()
        .Text("StatoFattura", "Consegnata")
        .Text("idfattura", held->Invoice.IdCoda)
        .Text("CodiceStatoFattura", "RC")
        .Text("StatoEstesoFattura", "Fattura consegnata al destinatario")
        .Text("TipoDocumento", held->Summary.TipoDocumento)
        .Text("Id_SDI", held->IdSDI)
        .Text("DataInvio", when)
        .Text("DataConsegna", held->Invoice.Data)
        .Text("OraConsegna", held->Invoice.Ora)
        .Raw("seq_NOTIFICA", JsonArray({JsonObject()
                                            .Text("TipoNotifica", "RC")
                                            .Text("DataInvio", when)
                                            .Text("DataRicezione", when)
                                            .Dump()}))
        .Dump();
}

std::string Backend::Impl::GetXmlbyId(const ReceivedRequest& request)
{
    const auto failed = [](const std::string& message) { return JsonObject().Text("Error", message).Dump(); };
    const std::string id = request.Field("idcoda");
    const std::string kind = request.Field("TipoXML");
    const std::string output = request.Field("TipoFileOut");
    const Held* held = Find(id);
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

std::string Backend::Impl::AggiornaStato(const ReceivedRequest& request)
{
    const auto outcome = [](const std::string& esito, const std::string& message) {
        return JsonObject().Text("Esito", esito).Text("Error", message).Dump();
    };
    const std::string id = request.Field("idcoda");
    const std::string code = request.Field("CodiceStato");
    Held* held = Find(id);
    if (!held)
        return outcome("KO", "Fattura non trovata: " + id);
    if (StatoGestionaleText(code).empty())
        return outcome("KO", "Codice stato non valido: " + code);
    held->Invoice.CodiceStatoGestionale = code;
    return outcome("OK", "");
}

std::string Backend::Impl::GetCodiceSoggetto(const ReceivedRequest& request)
{
    const std::string codiceFiscale = request.Field("IN_CodiceFiscaleSoggetto");
    const auto answer = [](const char* resu, const std::string& code, const std::string& message) {
        return JsonObject().Text("RESU", resu).Text("CodiceSoggetto", code).Text("Error", message).Dump();
    };
    if (codiceFiscale.empty())
        return answer("N", "", "Codice fiscale non specificato");
    for (const auto& [known, code] : kSoggetti)
        if (SameNoCase(codiceFiscale, known))
            return answer("S", code, "");
    return answer("N", "", "Nessun soggetto con codice fiscale " + codiceFiscale);
}

std::string Backend::Impl::CheckDatabase(const ReceivedRequest& request)
{
    const auto at = Settings.Username.rfind('@');
    const std::string database = at == std::string::npos ? "" : Settings.Username.substr(at + 1);
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
