#pragma once

// The one transport seam of the backend client: a blocking HTTPS POST through libcurl.
// A new connection per request; the server certificate is always validated.

#include "util/StopRequest.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

struct THeaderPair
{
    QString Name;
    QString Value;
};
using THeaderList = std::vector<THeaderPair>;

struct THttpResponse
{
    int StatusCode = 0;
    QString StatusText; // the reason phrase of the status line, as it came
    std::vector<std::pair<QByteArray, QByteArray>> Headers; // of the final answer, in order
    QByteArray Body;                                        // as received: libcurl decodes nothing

    // The value of the first header of that name (compared without regard to case), or null.
    QByteArray Header(const QByteArray& name) const;
};

// How long a request may take, in its parts; tests scale them down.
struct THttpsSettings
{
    QString CaBundle; // empty: the system's store
    long ConnectTimeoutMs = 60000;
    long ResponseTimeoutMs = 60000; // longest time without a byte in either direction
    // A transfer slower than LowSpeedBytes in LowSpeedSeconds (an answer that trickles) ends.
    long LowSpeedBytes = 1024;
    long LowSpeedSeconds = 60;
    long TotalTimeoutMs = 10 * 60 * 1000; // the whole request, whatever moves
    // Asked while a transfer runs: true ends it within about a second.
    std::function<bool()> StopRequested = ProcessStopRequested;
};

struct TCurlShare;

// One client per thread: the TLS sessions of its earlier connections let the next handshake
// resume instead of starting over. Nothing else is kept between requests: no connection, no
// cookie, and a resumed session is validated as any other.
class THttpsClient
{
public:
    explicit THttpsClient(THttpsSettings settings);
    ~THttpsClient();
    THttpsClient(const THttpsClient&) = delete;
    THttpsClient& operator=(const THttpsClient&) = delete;

    // Throws EVornError with the transport's message (resolution, connection, time-out,
    // certificate), on a redirect (never followed), on an answer over kMaxAnswerBytes and on a
    // stop request. Returns the answer whatever its other status.
    THttpResponse Post(const QString& url, const THeaderList& headers, const QByteArray& body);

    // The most of an answer held in memory: its headers and body as they came, and its body once
    // decompressed.
    static constexpr qsizetype kMaxAnswerBytes = qsizetype(64) * 1024 * 1024;

    static const char* UserAgent();

    // libcurl's global initialisation, once per process. Call it from main before any thread
    // starts; every client calls it too, so forgetting it is harmless in a single-threaded run.
    static void GlobalInit();

private:
    THttpsSettings FSettings;
    std::unique_ptr<TCurlShare> FShare;
};
