#include "backend/HttpsClient.h"

#include "util/Errors.h"

#include <QStringDecoder>
#include <chrono>
#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

struct CurlEasyDeleter
{
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct CurlSlistDeleter
{
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;
using CurlSlist = std::unique_ptr<curl_slist, CurlSlistDeleter>;

// The multi handle drives the one transfer so that we decide how long to wait between socket
// events: that is what makes the response time-out exact to the millisecond.
class CurlMultiTransfer
{
public:
    explicit CurlMultiTransfer(CURL* easy) : FMulti(curl_multi_init()), FEasy(easy)
    {
        if (!FMulti || curl_multi_add_handle(FMulti, FEasy) != CURLM_OK)
            throw EVornError(QStringLiteral("libcurl: cannot start a transfer"));
    }
    ~CurlMultiTransfer()
    {
        curl_multi_remove_handle(FMulti, FEasy);
        curl_multi_cleanup(FMulti);
    }
    CurlMultiTransfer(const CurlMultiTransfer&) = delete;
    CurlMultiTransfer& operator=(const CurlMultiTransfer&) = delete;

    CURLM* Multi() const { return FMulti; }

private:
    CURLM* FMulti;
    CURL* FEasy;
};

void AppendSlist(CurlSlist& list, const QByteArray& line)
{
    curl_slist* grown = curl_slist_append(list.get(), line.constData());
    if (!grown)
        throw EVornError(QStringLiteral("libcurl: out of memory"));
    list.release();
    list.reset(grown);
}

// Reason phrases are meant to be ASCII; a server that sends other bytes gets them read as UTF-8
// when they are valid UTF-8 and as Latin-1 otherwise, so nothing turns into replacement marks.
QString DecodeReasonPhrase(const QByteArray& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

// Everything the callbacks collect and the response time-out watches, for one Post.
struct TransferState
{
    explicit TransferState(const std::function<bool()>& stopRequested) : StopRequested(stopRequested) {}

    const std::function<bool()>& StopRequested;
    THttpResponse Response;
    // Headers and body as they came, against the bound of what we hold.
    qsizetype AnswerBytes = 0;
    bool TooLarge = false;
    bool Stopped = false;

    // The response time-out runs only while a connection is up (connecting has its own limit);
    // any byte moving in either direction restarts it.
    bool ConnectionUp = false;
    Clock::time_point LastActivity = Clock::now();
    curl_off_t LastUploaded = 0;

    void Activity() { LastActivity = Clock::now(); }

    bool Hold(size_t size)
    {
        Activity();
        if (AnswerBytes + qsizetype(size) > THttpsClient::kMaxAnswerBytes) {
            TooLarge = true;
            return false;
        }
        AnswerBytes += qsizetype(size);
        return true;
    }

    // One header line of some response (a "100 Continue" may come first). A status line starts a
    // new response: what we return is the last one.
    void HeaderLine(QByteArray line)
    {
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (line.startsWith("HTTP/")) {
            Response = THttpResponse();
            const qsizetype codeStart = line.indexOf(' ');
            if (codeStart < 0)
                return;
            const qsizetype reasonStart = line.indexOf(' ', codeStart + 1);
            Response.StatusCode =
                line.mid(codeStart + 1, reasonStart < 0 ? -1 : reasonStart - codeStart - 1).toInt();
            if (reasonStart >= 0)
                Response.StatusText = DecodeReasonPhrase(line.mid(reasonStart + 1));
            return;
        }
        if (line.isEmpty())
            return;
        if ((line.startsWith(' ') || line.startsWith('\t')) && !Response.Headers.empty()) {
            // An obsolete folded continuation line belongs to the header before it.
            Response.Headers.back().second += ' ' + line.trimmed();
            return;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return;
        Response.Headers.emplace_back(line.left(colon).trimmed(), line.mid(colon + 1).trimmed());
    }

    bool BodyData(const char* data, size_t size)
    {
        if (!Hold(size))
            return false;
        Response.Body.append(data, qsizetype(size));
        return true;
    }
};

// Returning anything but the count given ends the transfer: that is how the bound stops reading.
size_t OnHeader(char* data, size_t size, size_t count, void* state)
{
    auto* transfer = static_cast<TransferState*>(state);
    if (!transfer->Hold(size * count))
        return 0;
    transfer->HeaderLine(QByteArray(data, qsizetype(size * count)));
    return size * count;
}

size_t OnBody(char* data, size_t size, size_t count, void* state)
{
    return static_cast<TransferState*>(state)->BodyData(data, size * count) ? size * count : 0;
}

// libcurl calls it at least once a second while the transfer runs, whatever the server does.
int OnProgress(void* state, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded)
{
    auto* transfer = static_cast<TransferState*>(state);
    if (transfer->StopRequested && transfer->StopRequested()) {
        transfer->Stopped = true;
        return 1;
    }
    if (uploaded != transfer->LastUploaded) {
        transfer->LastUploaded = uploaded;
        transfer->Activity();
    }
    return 0;
}

// A new socket (first connection, another address): connecting, not waiting.
int OnSocketCreated(void* state, curl_socket_t, curlsocktype)
{
    static_cast<TransferState*>(state)->ConnectionUp = false;
    return CURL_SOCKOPT_OK;
}

// Connected and TLS established: from here on the response time-out runs.
int OnConnected(void* state, char*, char*, int, int)
{
    auto* transfer = static_cast<TransferState*>(state);
    transfer->ConnectionUp = true;
    transfer->LastUploaded = 0;
    transfer->Activity();
    return CURL_PREREQFUNC_OK;
}

QString CurlMessage(CURLcode code, const QString& detail)
{
    QString message = QString::fromUtf8(curl_easy_strerror(code));
    const QString extra = detail.trimmed();
    if (!extra.isEmpty() && extra != message)
        message += QStringLiteral(": ") + extra;
    return message;
}

// Every option is set the same way; a refused option is a build or library fault worth naming.
template <class T> void SetOption(CURL* handle, CURLoption option, T value)
{
    const CURLcode code = curl_easy_setopt(handle, option, value);
    if (code != CURLE_OK)
        throw EVornError(QStringLiteral("libcurl: option %1 refused: %2")
                             .arg(int(option))
                             .arg(QString::fromUtf8(curl_easy_strerror(code))));
}

} // namespace

// The TLS sessions of earlier connections, for the next handshake to resume. One client is used by
// one thread at a time, so the share needs no lock functions.
struct TCurlShare
{
    TCurlShare() : Handle(curl_share_init())
    {
        if (!Handle)
            throw EVornError(QStringLiteral("libcurl: cannot create a share"));
        if (const CURLSHcode code = curl_share_setopt(Handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
            code != CURLSHE_OK) {
            curl_share_cleanup(Handle);
            throw EVornError(QStringLiteral("libcurl: %1").arg(QString::fromUtf8(curl_share_strerror(code))));
        }
    }
    ~TCurlShare() { curl_share_cleanup(Handle); }
    TCurlShare(const TCurlShare&) = delete;
    TCurlShare& operator=(const TCurlShare&) = delete;

    CURLSH* const Handle;
};

QByteArray THttpResponse::Header(const QByteArray& name) const
{
    for (const auto& [headerName, value] : Headers)
        if (headerName.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return QByteArray();
}

void THttpsClient::GlobalInit()
{
    // Magic statics make this safe even if two threads race here; main calls it before any
    // thread exists, and every client calls it again (a no-op then) so nothing can be forgotten.
    static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (result != CURLE_OK)
        throw EVornError(CurlMessage(result, QStringLiteral("curl_global_init")));
}

THttpsClient::THttpsClient(THttpsSettings settings) : FSettings(std::move(settings))
{
    GlobalInit();
    FShare = std::make_unique<TCurlShare>();
}

THttpsClient::~THttpsClient() = default;

const char* THttpsClient::UserAgent()
{
    return "VORN_Automatic/1.1.2.0";
}

THttpResponse THttpsClient::Post(const QString& url, const THeaderList& headers, const QByteArray& body)
{
    CurlEasy easy(curl_easy_init());
    if (!easy)
        throw EVornError(QStringLiteral("libcurl: cannot create a handle"));
    CURL* handle = easy.get();

    CurlSlist headerList;
    for (const THeaderPair& header : headers)
        AppendSlist(headerList, (header.Name + QStringLiteral(": ") + header.Value).toUtf8());
    // Without this libcurl waits for "100 Continue" before sending a larger body.
    AppendSlist(headerList, "Expect:");

    const QByteArray urlBytes = url.toUtf8();
    const QByteArray caBundle = FSettings.CaBundle.toUtf8();
    char errorBuffer[CURL_ERROR_SIZE] = {};
    TransferState state(FSettings.StopRequested);

    SetOption(handle, CURLOPT_ERRORBUFFER, errorBuffer);
    SetOption(handle, CURLOPT_NOSIGNAL, 1L);
    SetOption(handle, CURLOPT_URL, urlBytes.constData());
    SetOption(handle, CURLOPT_PROTOCOLS_STR, "https");
    // HTTP/2 has no reason phrase, and the reason phrase is what a refused request reports.
    SetOption(handle, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    SetOption(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    SetOption(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!caBundle.isEmpty())
        SetOption(handle, CURLOPT_CAINFO, caBundle.constData());
    // No connection and no cookie outlives a request (the cookie engine stays off: no COOKIEFILE);
    // only TLS sessions do, so that the next handshake is a short one.
    SetOption(handle, CURLOPT_FRESH_CONNECT, 1L);
    SetOption(handle, CURLOPT_FORBID_REUSE, 1L);
    SetOption(handle, CURLOPT_SHARE, FShare->Handle);
    SetOption(handle, CURLOPT_CONNECTTIMEOUT_MS, FSettings.ConnectTimeoutMs);
    // A redirect would post the credentials and the invoice wherever the answer says.
    SetOption(handle, CURLOPT_FOLLOWLOCATION, 0L);
    SetOption(handle, CURLOPT_LOW_SPEED_LIMIT,
              (FSettings.LowSpeedBytes + FSettings.LowSpeedSeconds - 1) / FSettings.LowSpeedSeconds);
    SetOption(handle, CURLOPT_LOW_SPEED_TIME, FSettings.LowSpeedSeconds);
    SetOption(handle, CURLOPT_TIMEOUT_MS, FSettings.TotalTimeoutMs);
    // An announced length over the bound fails before its first byte.
    SetOption(handle, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(kMaxAnswerBytes));
    SetOption(handle, CURLOPT_POST, 1L);
    SetOption(handle, CURLOPT_POSTFIELDS, body.constData());
    SetOption(handle, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
    SetOption(handle, CURLOPT_HTTPHEADER, headerList.get());
    SetOption(handle, CURLOPT_USERAGENT, UserAgent());
    // No CURLOPT_ACCEPT_ENCODING: the body comes back exactly as sent, gzip is the caller's rule.
    SetOption(handle, CURLOPT_HEADERFUNCTION, &OnHeader);
    SetOption(handle, CURLOPT_HEADERDATA, &state);
    SetOption(handle, CURLOPT_WRITEFUNCTION, &OnBody);
    SetOption(handle, CURLOPT_WRITEDATA, &state);
    SetOption(handle, CURLOPT_NOPROGRESS, 0L);
    SetOption(handle, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    SetOption(handle, CURLOPT_XFERINFODATA, &state);
    SetOption(handle, CURLOPT_SOCKOPTFUNCTION, &OnSocketCreated);
    SetOption(handle, CURLOPT_SOCKOPTDATA, &state);
    SetOption(handle, CURLOPT_PREREQFUNCTION, &OnConnected);
    SetOption(handle, CURLOPT_PREREQDATA, &state);

    CurlMultiTransfer transfer(handle);
    const auto responseTimeout = std::chrono::milliseconds(FSettings.ResponseTimeoutMs);
    for (;;) {
        int running = 0;
        if (const CURLMcode code = curl_multi_perform(transfer.Multi(), &running); code != CURLM_OK)
            throw EVornError(QString::fromUtf8(curl_multi_strerror(code)));
        if (running == 0)
            break;

        int waitMs = 1000;
        if (state.ConnectionUp) {
            const auto idle =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - state.LastActivity);
            if (idle >= responseTimeout)
                throw EVornError(CurlMessage(
                    CURLE_OPERATION_TIMEDOUT,
                    QStringLiteral("no answer from the server for %1 milliseconds").arg(idle.count())));
            waitMs = int(std::min<long long>(waitMs, (responseTimeout - idle).count()));
        }
        // libcurl shortens the wait further when one of its own timers is due sooner.
        if (const CURLMcode code = curl_multi_poll(transfer.Multi(), nullptr, 0, waitMs, nullptr);
            code != CURLM_OK)
            throw EVornError(QString::fromUtf8(curl_multi_strerror(code)));
    }

    CURLcode result = CURLE_OK;
    int pending = 0;
    while (CURLMsg* message = curl_multi_info_read(transfer.Multi(), &pending))
        if (message->msg == CURLMSG_DONE)
            result = message->data.result;
    if (state.TooLarge || result == CURLE_FILESIZE_EXCEEDED)
        throw EVornError(
            QStringLiteral("La risposta supera %1 MiB").arg(THttpsClient::kMaxAnswerBytes / (1024 * 1024)));
    if (state.Stopped)
        throw EVornError(QStringLiteral("Richiesta interrotta: il programma si sta chiudendo"));
    if (result != CURLE_OK)
        throw EVornError(CurlMessage(result, QString::fromUtf8(errorBuffer)));
    if (state.Response.StatusCode >= 300 && state.Response.StatusCode < 400)
        throw EVornError(QStringLiteral("Reindirizzamento non seguito: %1 %2")
                             .arg(state.Response.StatusCode)
                             .arg(state.Response.StatusText)
                             .trimmed());
    return std::move(state.Response);
}
