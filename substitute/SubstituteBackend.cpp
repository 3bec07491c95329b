// The HTTP side of the substitute backend: every request is recorded as it arrived, answered by
// a scripted answer when a test queued one, and otherwise checked the way the backend checks a
// request (path, method, authorization, content type, response format) before an operation sees it.

#include "substitute/SubstituteBackend.h"

#include "substitute/SubstituteForms.h"
#include "substitute/SubstituteHttps.h"
#include "substitute/SubstituteOperations.h"
#include "substitute/SubstituteText.h"

#include <zlib.h>

#include <deque>
#include <stdexcept>

namespace substitute {

namespace {

const char* const kEndpointPath = "/assoc/progs/main/xapirest.sto";
const char* const kReceivedListPath = "/substitute/received";

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

std::string FirmTypeOf(const std::string& host)
{
    if (host.rfind('[', 0) == 0)
        return host.substr(0, host.find(']') + 1);
    return host.substr(0, host.find_first_of(".:"));
}

} // namespace

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
    explicit Impl(Options options)
        : Settings(std::move(options)), Ops(Settings.Username, Settings.MaxPageSize)
    {}

    Options Settings;
    mutable std::mutex Lock;
    std::vector<ReceivedRequest> Requests;
    std::deque<ScriptedAnswer> Scripted;
    Operations Ops;
    std::unique_ptr<HttpsServer> Server; // last: stopped first, while everything it calls still exists

    HttpAnswer Handle(const HttpRequest& http);
    HttpAnswer Serve(const ReceivedRequest& request, const std::string& parseError);
    bool Authorized(const ReceivedRequest& request) const;
};

Backend::Backend(Options options) : FImpl(std::make_unique<Impl>(std::move(options)))
{
    const Options& s = FImpl->Settings;
    FImpl->Server =
        std::make_unique<HttpsServer>(s.CertFile, s.KeyFile, s.BindAddress, s.Port,
                                      [impl = FImpl.get()](const HttpRequest& r) { return impl->Handle(r); },
                                      s.SessionResumption);
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
    for (const HeldInvoice& held : FImpl->Ops.Issued())
        invoices.push_back(held.Invoice);
    return invoices;
}

std::vector<StoredInvoice> Backend::ReceivedInvoices() const
{
    std::lock_guard<std::mutex> guard(FImpl->Lock);
    std::vector<StoredInvoice> invoices;
    for (const HeldInvoice& held : FImpl->Ops.Received())
        invoices.push_back(held.Invoice);
    return invoices;
}

std::map<std::string, int> Backend::Downloads() const
{
    std::lock_guard<std::mutex> guard(FImpl->Lock);
    return FImpl->Ops.Downloads();
}

std::string Backend::AddIssuedInvoice(const std::string& fileName, const std::string& content)
{
    std::lock_guard<std::mutex> guard(FImpl->Lock);
    return FImpl->Ops.AddIssued(fileName, content, "N");
}

std::string Backend::AddReceivedInvoice(const std::string& fileName, const std::string& content,
                                        const std::string& date, const std::string& time)
{
    std::lock_guard<std::mutex> guard(FImpl->Lock);
    return FImpl->Ops.AddReceived(fileName, content, date, time);
}

void Backend::SetNotifications(const std::string& idFattura, std::vector<Notification> history)
{
    std::lock_guard<std::mutex> guard(FImpl->Lock);
    FImpl->Ops.SetNotifications(idFattura, std::move(history));
}

HttpAnswer Backend::Impl::Handle(const HttpRequest& http)
{
    ReceivedRequest request;
    request.Method = http.Method;
    request.Path = http.Target.substr(0, http.Target.find('?'));
    request.FirmType = FirmTypeOf(FindHeader(http.Headers, "Host"));
    request.Connection = http.Connection;
    request.TlsResumed = http.TlsResumed;
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
        answer.TrickleBytes = scripted.TrickleBytes;
        answer.TrickleInterval = scripted.TrickleInterval;
        return answer;
    }
    HttpAnswer answer = Serve(request, parseError);
    answer.Delay = Settings.AnswerDelay;
    return answer;
}

HttpAnswer Backend::Impl::Serve(const ReceivedRequest& request, const std::string& parseError)
{
    if (request.Method == "GET" && request.Path == kReceivedListPath)
        return JsonAnswer(200, Ops.ReceivedList());
    if (request.Path != kEndpointPath)
        return JsonAnswer(404, RefusalJson("Risorsa non trovata: " + request.Path));
    if (request.Method != "POST") {
        HttpAnswer answer = JsonAnswer(405, RefusalJson("Metodo non ammesso: " + request.Method));
        answer.Headers.emplace_back("Allow", "POST");
        return answer;
    }
    if (!Authorized(request)) {
        HttpAnswer answer =
            JsonAnswer(401, RefusalJson("Autenticazione non riuscita: utente o password errati"));
        answer.Headers.emplace_back("WWW-Authenticate", "Basic realm=\"xapirest\"");
        return answer;
    }
    if (!parseError.empty())
        return JsonAnswer(400, RefusalJson(parseError));
    const std::string contentType = request.Header("Content-Type");
    if (!StartsWithNoCase(contentType, "application/x-www-form-urlencoded") &&
        !StartsWithNoCase(contentType, "multipart/form-data"))
        return JsonAnswer(415, RefusalJson("Tipo di contenuto non supportato: " + contentType));

    const std::string format = request.Field("QELT_RESPONSE_FORMAT");
    if (format != "JSON")
        return JsonAnswer(200, RefusalJson("Formato di risposta non supportato: " + format));
    return JsonAnswer(200, Ops.Answer(request));
}

bool Backend::Impl::Authorized(const ReceivedRequest& request) const
{
    const std::string authorization = request.Header("Authorization");
    std::string credentials;
    return StartsWithNoCase(authorization, "Basic ") && Base64Decode(authorization.substr(6), credentials) &&
           credentials == Settings.Username + ":" + Settings.Password;
}

} // namespace substitute
