#pragma once

// The one transport seam of the backend client: a blocking HTTPS POST through libcurl.
// A new client (and connection) per request; the server certificate is always validated.

#include <QByteArray>
#include <QString>
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

struct THttpsSettings
{
    QString CaBundle; // empty: the system's store
    long ConnectTimeoutMs = 60000;
    long ResponseTimeoutMs = 60000; // longest wait for the answer
    long MaxRedirects = 5;
};

class THttpsClient
{
public:
    explicit THttpsClient(THttpsSettings settings);
    ~THttpsClient();
    THttpsClient(const THttpsClient&) = delete;
    THttpsClient& operator=(const THttpsClient&) = delete;

    // Throws EVornError with the transport's message (resolution, connection, time-out,
    // certificate, redirects). Returns the answer whatever its status.
    THttpResponse Post(const QString& url, const THeaderList& headers, const QByteArray& body);

    static const char* UserAgent();

    // libcurl's global initialisation, once per process. Call it from main before any thread
    // starts; every client calls it too, so forgetting it is harmless in a single-threaded run.
    static void GlobalInit();

private:
    THttpsSettings FSettings;
};
