#include "substitute/SubstituteHttps.h"

#include "substitute/SubstituteText.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <list>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace substitute {

namespace {

constexpr std::size_t kMaxHeadBytes = 64 * 1024;
constexpr std::size_t kMaxBodyBytes = 256 * 1024 * 1024;
constexpr int kSocketTimeoutSeconds = 30;

std::string OpensslErrors()
{
    std::string text;
    while (const unsigned long code = ERR_get_error()) {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof buffer);
        text += (text.empty() ? "" : "; ") + std::string(buffer);
    }
    return text;
}

// A file descriptor that closes itself.
class FileDescriptor
{
public:
    explicit FileDescriptor(int fd = -1) : FFd(fd) {}
    ~FileDescriptor()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return FFd; }
    void Reset(int fd)
    {
        if (FFd >= 0)
            ::close(FFd);
        FFd = fd;
    }

private:
    int FFd;
};

struct SslContextFree
{
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct SslFree
{
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};

// Buffered reads from one TLS connection.
class TlsReader
{
public:
    explicit TlsReader(SSL* ssl) : FSsl(ssl) {}

    // Reads up to and including delimiter; false at the end of the stream or past maxBytes.
    bool ReadUntil(const std::string& delimiter, std::size_t maxBytes, std::string& out)
    {
        std::size_t searchFrom = 0;
        for (;;) {
            const auto found = FBuffer.find(delimiter, searchFrom);
            if (found != std::string::npos) {
                out = FBuffer.substr(0, found + delimiter.size());
                FBuffer.erase(0, found + delimiter.size());
                return true;
            }
            if (FBuffer.size() > maxBytes)
                return false;
            searchFrom = FBuffer.size() >= delimiter.size() ? FBuffer.size() - delimiter.size() + 1 : 0;
            if (!Fill())
                return false;
        }
    }

    bool ReadExactly(std::size_t count, std::string& out)
    {
        while (FBuffer.size() < count)
            if (!Fill())
                return false;
        out.append(FBuffer, 0, count);
        FBuffer.erase(0, count);
        return true;
    }

    std::size_t Buffered() const { return FBuffer.size(); }

private:
    bool Fill()
    {
        char chunk[16384];
        const int got = SSL_read(FSsl, chunk, sizeof chunk);
        if (got <= 0)
            return false;
        FBuffer.append(chunk, static_cast<std::size_t>(got));
        return true;
    }

    SSL* FSsl;
    std::string FBuffer;
};

bool WriteAll(SSL* ssl, const std::string& bytes)
{
    std::size_t written = 0;
    while (written < bytes.size()) {
        const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size() - written, 1 << 20));
        const int done = SSL_write(ssl, bytes.data() + written, chunk);
        if (done <= 0)
            return false;
        written += static_cast<std::size_t>(done);
    }
    return true;
}

std::string SimpleAnswerText(int status, const std::string& body)
{
    return "HTTP/1.1 " + std::to_string(status) + " " + StandardReason(status) +
           "\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

std::string AnswerText(const HttpAnswer& answer)
{
    std::string text = "HTTP/1.1 " + std::to_string(answer.Status) + " " +
                       answer.Reason.value_or(StandardReason(answer.Status)) + "\r\n";
    for (const auto& [name, value] : answer.Headers)
        text += name + ": " + value + "\r\n";
    if (!HasHeader(answer.Headers, "Content-Length") && !HasHeader(answer.Headers, "Transfer-Encoding"))
        text += "Content-Length: " + std::to_string(answer.Body.size()) + "\r\n";
    return text + "\r\n" + answer.Body;
}

enum class HeadResult
{
    Ok,
    Closed,
    Bad,
    TooLarge
};

HeadResult ReadHead(TlsReader& reader, HttpRequest& request)
{
    std::string head;
    if (!reader.ReadUntil("\r\n\r\n", kMaxHeadBytes, head))
        return reader.Buffered() > kMaxHeadBytes ? HeadResult::TooLarge : HeadResult::Closed;
    std::size_t lineEnd = head.find("\r\n");
    const std::string requestLine = head.substr(0, lineEnd);
    const auto firstSpace = requestLine.find(' ');
    const auto lastSpace = requestLine.rfind(' ');
    if (firstSpace == std::string::npos || lastSpace == firstSpace)
        return HeadResult::Bad;
    request.Method = requestLine.substr(0, firstSpace);
    request.Target = requestLine.substr(firstSpace + 1, lastSpace - firstSpace - 1);
    request.Version = requestLine.substr(lastSpace + 1);
    if (request.Version.rfind("HTTP/1.", 0) != 0)
        return HeadResult::Bad;
    for (std::size_t start = lineEnd + 2; start < head.size() - 2; start = lineEnd + 2) {
        lineEnd = head.find("\r\n", start);
        const std::string line = head.substr(start, lineEnd - start);
        const auto colon = line.find(':');
        if (colon == std::string::npos || colon == 0)
            return HeadResult::Bad;
        request.Headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
    }
    return HeadResult::Ok;
}

bool ParseLength(const std::string& text, std::size_t& length)
{
    if (text.empty() || text.size() > 12 || !std::all_of(text.begin(), text.end(), ::isdigit))
        return false;
    length = std::stoull(text);
    return true;
}

// Removes the chunked transfer coding; false on a malformed or oversized stream.
bool ReadChunkedBody(TlsReader& reader, std::string& body)
{
    for (;;) {
        std::string sizeLine;
        if (!reader.ReadUntil("\r\n", 1024, sizeLine))
            return false;
        const std::string sizeText = sizeLine.substr(0, sizeLine.find_first_of(";\r"));
        char* end = nullptr;
        const unsigned long long size = std::strtoull(sizeText.c_str(), &end, 16);
        if (sizeText.empty() || *end != '\0' || body.size() + size > kMaxBodyBytes)
            return false;
        if (size == 0) {
            std::string trailer;
            do {
                if (!reader.ReadUntil("\r\n", kMaxHeadBytes, trailer))
                    return false;
            } while (trailer != "\r\n");
            return true;
        }
        std::string crlf;
        if (!reader.ReadExactly(size, body) || !reader.ReadExactly(2, crlf) || crlf != "\r\n")
            return false;
    }
}

bool WantsClose(const HttpRequest& request)
{
    const std::string connection = FindHeader(request.Headers, "Connection");
    return request.Version == "HTTP/1.0" ? !EqualsNoCase(connection, "keep-alive")
                                         : EqualsNoCase(connection, "close");
}

} // namespace

std::string FindHeader(const HeaderList& headers, const std::string& name)
{
    for (const auto& [key, value] : headers)
        if (EqualsNoCase(key, name))
            return value;
    return {};
}

bool HasHeader(const HeaderList& headers, const std::string& name)
{
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto& header) { return EqualsNoCase(header.first, name); });
}

std::string StandardReason(int status)
{
    static const std::pair<int, const char*> kReasons[] = {
        {100, "Continue"},
        {200, "OK"},
        {204, "No Content"},
        {301, "Moved Permanently"},
        {302, "Found"},
        {400, "Bad Request"},
        {401, "Unauthorized"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {405, "Method Not Allowed"},
        {408, "Request Timeout"},
        {411, "Length Required"},
        {413, "Content Too Large"},
        {415, "Unsupported Media Type"},
        {431, "Request Header Fields Too Large"},
        {500, "Internal Server Error"},
        {502, "Bad Gateway"},
        {503, "Service Unavailable"},
        {504, "Gateway Timeout"},
    };
    for (const auto& [code, reason] : kReasons)
        if (code == status)
            return reason;
    return {};
}

struct HttpsServer::Impl
{
    struct Connection
    {
        int Fd = -1;
        std::thread Thread;
        std::atomic<bool> Done{false};
    };

    std::unique_ptr<SSL_CTX, SslContextFree> Context;
    FileDescriptor Listener;
    FileDescriptor WakeRead, WakeWrite;
    int BoundPort = 0;
    Handler Serve;
    std::thread Acceptor;

    std::mutex Lock;
    std::condition_variable Stopped; // wakes delayed answers at shut-down
    bool Stopping = false;
    std::list<Connection> Connections;
    int ConnectionCount = 0;

    void AcceptLoop();
    void ReapFinished();
    void ServeConnection(Connection& connection, int number);
    bool ServeRequests(SSL* ssl, int number);
    bool WriteAnswer(SSL* ssl, const HttpAnswer& answer);
    bool WaitUnlessStopping(std::chrono::milliseconds delay);
};

HttpsServer::HttpsServer(const std::string& certFile, const std::string& keyFile,
                         const std::string& bindAddress, int port, Handler handler, bool resumption)
    : FImpl(std::make_unique<Impl>())
{
    Impl& d = *FImpl;
    d.Serve = std::move(handler);

    ERR_clear_error();
    d.Context.reset(SSL_CTX_new(TLS_server_method()));
    if (!d.Context)
        throw std::runtime_error("cannot create the TLS context: " + OpensslErrors());
    SSL_CTX_set_min_proto_version(d.Context.get(), TLS1_2_VERSION);
    if (!resumption) {
        // Neither tickets (TLS 1.3 and 1.2) nor the server's session cache (TLS 1.2 identifiers).
        SSL_CTX_set_options(d.Context.get(), SSL_OP_NO_TICKET);
        SSL_CTX_set_num_tickets(d.Context.get(), 0);
        SSL_CTX_set_session_cache_mode(d.Context.get(), SSL_SESS_CACHE_OFF);
    }
    if (SSL_CTX_use_certificate_chain_file(d.Context.get(), certFile.c_str()) != 1)
        throw std::runtime_error("cannot load the certificate " + certFile + ": " + OpensslErrors());
    if (SSL_CTX_use_PrivateKey_file(d.Context.get(), keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(d.Context.get()) != 1)
        throw std::runtime_error("cannot load the key " + keyFile + ": " + OpensslErrors());

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* found = nullptr;
    const int lookup = getaddrinfo(bindAddress.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (lookup != 0)
        throw std::runtime_error("invalid bind address " + bindAddress + ": " + gai_strerror(lookup));
    const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> address(found, &freeaddrinfo);

    d.Listener.Reset(::socket(address->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (d.Listener.Get() < 0)
        throw std::runtime_error(std::string("cannot create a socket: ") + std::strerror(errno));
    const int yes = 1;
    setsockopt(d.Listener.Get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(d.Listener.Get(), address->ai_addr, address->ai_addrlen) != 0 ||
        ::listen(d.Listener.Get(), 64) != 0)
        throw std::runtime_error("cannot listen on " + bindAddress + ":" + std::to_string(port) + ": " +
                                 std::strerror(errno));
    sockaddr_storage bound{};
    socklen_t boundSize = sizeof bound;
    getsockname(d.Listener.Get(), reinterpret_cast<sockaddr*>(&bound), &boundSize);
    d.BoundPort = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                                    : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);

    int wake[2];
    if (pipe2(wake, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("cannot create a pipe: ") + std::strerror(errno));
    d.WakeRead.Reset(wake[0]);
    d.WakeWrite.Reset(wake[1]);

    d.Acceptor = std::thread([&d] { d.AcceptLoop(); });
}

HttpsServer::~HttpsServer()
{
    Impl& d = *FImpl;
    {
        std::lock_guard<std::mutex> guard(d.Lock);
        d.Stopping = true;
        // Cut the open connections so that threads blocked in a read come back at once.
        for (Impl::Connection& connection : d.Connections)
            if (!connection.Done)
                ::shutdown(connection.Fd, SHUT_RDWR);
    }
    d.Stopped.notify_all();
    const char wake = 1;
    [[maybe_unused]] const auto written = ::write(d.WakeWrite.Get(), &wake, 1);
    d.Acceptor.join();
    for (Impl::Connection& connection : d.Connections)
        connection.Thread.join();
}

int HttpsServer::Port() const
{
    return FImpl->BoundPort;
}

void HttpsServer::Impl::AcceptLoop()
{
    for (;;) {
        pollfd watched[2] = {{Listener.Get(), POLLIN, 0}, {WakeRead.Get(), POLLIN, 0}};
        if (::poll(watched, 2, 1000) < 0 && errno != EINTR)
            return;
        if (watched[1].revents != 0)
            return;
        ReapFinished();
        if ((watched[0].revents & POLLIN) == 0)
            continue;
        const int fd = ::accept4(Listener.Get(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::lock_guard<std::mutex> guard(Lock);
        if (Stopping) {
            ::close(fd);
            return;
        }
        Connection& connection = Connections.emplace_back();
        connection.Fd = fd;
        const int number = ++ConnectionCount;
        connection.Thread = std::thread([this, &connection, number] { ServeConnection(connection, number); });
    }
}

void HttpsServer::Impl::ReapFinished()
{
    std::list<Connection> finished;
    {
        std::lock_guard<std::mutex> guard(Lock);
        for (auto it = Connections.begin(); it != Connections.end();) {
            const auto next = std::next(it);
            if (it->Done)
                finished.splice(finished.end(), Connections, it);
            it = next;
        }
    }
    for (Connection& connection : finished)
        connection.Thread.join();
}

void HttpsServer::Impl::ServeConnection(Connection& connection, int number)
{
    // A client that hangs up before the answer is written must cost this connection only: with
    // SIGPIPE blocked in this thread the write fails with EPIPE instead of ending the process.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

    const timeval timeout{kSocketTimeoutSeconds, 0};
    setsockopt(connection.Fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(connection.Fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    const int yes = 1;
    setsockopt(connection.Fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);

    const std::unique_ptr<SSL, SslFree> ssl(SSL_new(Context.get()));
    if (ssl && SSL_set_fd(ssl.get(), connection.Fd) == 1 && SSL_accept(ssl.get()) == 1 &&
        ServeRequests(ssl.get(), number))
        SSL_shutdown(ssl.get());
    ERR_clear_error();

    std::lock_guard<std::mutex> guard(Lock);
    ::close(connection.Fd);
    connection.Fd = -1;
    connection.Done = true;
}

// Serves the requests of one connection in turn; false when the connection ended abruptly.
bool HttpsServer::Impl::ServeRequests(SSL* ssl, int number)
{
    TlsReader reader(ssl);
    for (;;) {
        HttpRequest request;
        request.Connection = number;
        request.TlsResumed = SSL_session_reused(ssl) == 1;
        switch (ReadHead(reader, request)) {
        case HeadResult::Ok:
            break;
        case HeadResult::Closed:
            return true;
        case HeadResult::Bad:
            WriteAll(ssl, SimpleAnswerText(400, R"({"error":"Richiesta HTTP non valida"})"));
            return true;
        case HeadResult::TooLarge:
            WriteAll(ssl, SimpleAnswerText(431, R"({"error":"Intestazioni della richiesta troppo grandi"})"));
            return true;
        }

        const std::string transferEncoding = FindHeader(request.Headers, "Transfer-Encoding");
        std::size_t length = 0;
        const bool chunked = EqualsNoCase(transferEncoding, "chunked");
        if (!transferEncoding.empty() && !chunked) {
            WriteAll(ssl, SimpleAnswerText(400, R"({"error":"Codifica di trasferimento non supportata"})"));
            return true;
        }
        if (!chunked && HasHeader(request.Headers, "Content-Length") &&
            !ParseLength(FindHeader(request.Headers, "Content-Length"), length)) {
            WriteAll(ssl, SimpleAnswerText(400, R"({"error":"Content-Length non valido"})"));
            return true;
        }
        if (length > kMaxBodyBytes) {
            WriteAll(ssl, SimpleAnswerText(413, R"({"error":"Richiesta troppo grande"})"));
            return true;
        }
        // A client that waits for a go-ahead before the body (large uploads) gets it at once.
        if (EqualsNoCase(FindHeader(request.Headers, "Expect"), "100-continue") &&
            !WriteAll(ssl, "HTTP/1.1 100 Continue\r\n\r\n"))
            return false;
        const bool bodyRead =
            chunked ? ReadChunkedBody(reader, request.Body) : reader.ReadExactly(length, request.Body);
        if (!bodyRead) {
            WriteAll(ssl, SimpleAnswerText(400, R"({"error":"Corpo della richiesta incompleto"})"));
            return true;
        }

        HttpAnswer answer;
        try {
            answer = Serve(request);
        } catch (const std::exception& e) {
            answer = HttpAnswer{500, std::nullopt, {{"Content-Type", "text/plain; charset=utf-8"}}, e.what()};
        }
        // A client that asked to close is told the connection ends, so that it does not try it again.
        if (WantsClose(request) && !HasHeader(answer.Headers, "Connection"))
            answer.Headers.emplace_back("Connection", "close");
        if (!WaitUnlessStopping(answer.Delay))
            return false;
        if (answer.DropConnection)
            return false;
        if (!WriteAnswer(ssl, answer))
            return false;
        // A declared length that is not the body's (a scripted truncated answer) only ends when we hang up.
        const std::string declaredLength = FindHeader(answer.Headers, "Content-Length");
        const bool truncated =
            !declaredLength.empty() && declaredLength != std::to_string(answer.Body.size());
        if (truncated || WantsClose(request) ||
            EqualsNoCase(FindHeader(answer.Headers, "Connection"), "close"))
            return true;
    }
}

// The whole answer, or a trickle of it; false when the connection or the server ends first.
bool HttpsServer::Impl::WriteAnswer(SSL* ssl, const HttpAnswer& answer)
{
    const std::string text = AnswerText(answer);
    if (answer.TrickleBytes == 0)
        return WriteAll(ssl, text);
    for (std::size_t at = 0; at < text.size(); at += answer.TrickleBytes)
        if ((at > 0 && !WaitUnlessStopping(answer.TrickleInterval)) ||
            !WriteAll(ssl, text.substr(at, answer.TrickleBytes)))
            return false;
    return true;
}

// Sleeps for delay; false when the server is being stopped meanwhile.
bool HttpsServer::Impl::WaitUnlessStopping(std::chrono::milliseconds delay)
{
    std::unique_lock<std::mutex> guard(Lock);
    Stopped.wait_for(guard, delay, [this] { return Stopping; });
    return !Stopping;
}

} // namespace substitute
