#pragma once

// A small HTTP/1.1 server over TLS (OpenSSL), one thread per connection. It keeps what a test
// of a client needs to see and to provoke: the request headers in arrival order, the raw body
// bytes, any status line reason phrase (also an empty one), delayed answers and connections
// that are dropped without an answer.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace substitute {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// First header of that name, compared without regard to ASCII case; "" when there is none.
std::string FindHeader(const HeaderList& headers, const std::string& name);
bool HasHeader(const HeaderList& headers, const std::string& name);

struct HttpRequest
{
    std::string Method;
    std::string Target;  // as in the request line, query included
    std::string Version; // "HTTP/1.1"
    HeaderList Headers;  // in arrival order
    std::string Body;    // raw bytes, chunked transfer coding removed
    int Connection = 0;  // number of the connection it came on, from 1
    bool TlsResumed = false; // its connection's handshake resumed an earlier TLS session
};

struct HttpAnswer
{
    int Status = 200;
    std::optional<std::string> Reason; // the standard phrase when not set
    HeaderList Headers;                // "Content-Length" is added unless present
    std::string Body;
    std::chrono::milliseconds Delay{0};
    bool DropConnection = false; // close without writing anything
    // Written TrickleBytes at a time with TrickleInterval between, head included (0: at once).
    std::size_t TrickleBytes = 0;
    std::chrono::milliseconds TrickleInterval{0};
};

// The standard reason phrase of a status code, "" for codes it does not know.
std::string StandardReason(int status);

class HttpsServer
{
public:
    using Handler = std::function<HttpAnswer(const HttpRequest&)>;

    // Listens on bindAddress:port (0: an ephemeral port) and serves until destroyed. With
    // resumption, clients get session tickets and may resume an earlier session; without, every
    // handshake is a full one. Throws std::runtime_error when the certificate, the key or the
    // socket cannot be set up.
    HttpsServer(const std::string& certFile, const std::string& keyFile, const std::string& bindAddress,
                int port, Handler handler, bool resumption = true);
    ~HttpsServer(); // stops accepting, cuts open connections and joins every thread
    HttpsServer(const HttpsServer&) = delete;
    HttpsServer& operator=(const HttpsServer&) = delete;

    int Port() const;

private:
    struct Impl;
    std::unique_ptr<Impl> FImpl;
};

} // namespace substitute
