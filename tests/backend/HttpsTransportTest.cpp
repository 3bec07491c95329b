// The transport under the backend client, over real HTTPS on loopback: how it fails, how every
// request ends, what it hands back of the answer, and the TLS sessions it resumes.

#include "backend/HttpsClient.h"
#include "tests/support/BackendTest.h"

#include <QElapsedTimer>
#include <arpa/inet.h>
#include <atomic>
#include <cstdlib>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// A loopback port nobody listens on: bound once to learn a free number, then closed again.
int ClosedPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
    close(fd);
    return ntohs(address.sin_port);
}

TDVBackendService ClientOf(int port, THttpsSettings transport = TestTransport())
{
    TDVBackendService client(LoopbackDomain(port), std::move(transport));
    client.SetFirmType(QStringLiteral("aziende"));
    return client;
}

QString PostFormFailure(const TDVBackendService& client)
{
    return FailureOf(
        [&] { DVBackendServiceTestAccess::PostForm(client, {QStringLiteral("QELT_REQ=Test")}); });
}

substitute::ScriptedAnswer Redirect(int status, const std::string& location)
{
    substitute::ScriptedAnswer answer;
    answer.Status = status;
    answer.Headers = {{"Location", location}};
    return answer;
}

} // namespace

TEST(HttpsTransport, ConnectionRefusedOnAClosedPortFailsWithCurlsMessage)
{
    const QString message = PostFormFailure(ClientOf(ClosedPort()));
    EXPECT_TRUE(message.startsWith(QStringLiteral("Couldn't connect to server"))) << message.toStdString();
}

TEST(HttpsTransport, ServerWhoseCertificateOurCaDoesNotVouchForIsRefused)
{
    const TestPki& pki = SharedTestPki();
    substitute::Backend stranger(SubstituteOptions(pki.OtherCaServerCert, pki.OtherCaServerKey));
    const QString message = PostFormFailure(ClientOf(stranger.Port()));
    EXPECT_TRUE(message.contains(QStringLiteral("SSL certificate problem"))) << message.toStdString();
    EXPECT_TRUE(stranger.Requests().empty()) << "nothing may be sent to a server we do not trust";
}

TEST(HttpsTransport, CertificateForAnotherNameIsRefused)
{
    const TestPki& pki = SharedTestPki();
    substitute::Backend elsewhere(SubstituteOptions(pki.WrongNameCert, pki.WrongNameKey));
    const QString message = PostFormFailure(ClientOf(elsewhere.Port()));
    EXPECT_TRUE(message.contains(QStringLiteral("aziende.localhost"))) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("subject name"))) << message.toStdString();
    EXPECT_TRUE(elsewhere.Requests().empty());
}

TEST(HttpsTransport, FirmTypeNeverWrittenFailsInTheClientWithoutSending)
{
    const TestPki& pki = SharedTestPki();
    substitute::Backend backend(SubstituteOptions(pki));
    TDVBackendService client(LoopbackDomain(backend.Port()), TestTransport());
    ASSERT_TRUE(client.BaseUrl().isEmpty());
    const QString message = PostFormFailure(client);
    EXPECT_FALSE(message.isEmpty());
    EXPECT_TRUE(backend.Requests().empty());
}

class HttpsTransportTest : public BackendTest
{
};

TEST_F(HttpsTransportTest, AnswerLaterThanTheResponseTimeOutFailsOnTime)
{
    constexpr int kTimeoutMs = 300;
    THttpsSettings transport = TestTransport();
    transport.ResponseTimeoutMs = kTimeoutMs;
    const TDVBackendService client = ClientOf(Backend.Port(), transport);
    substitute::ScriptedAnswer late = JsonAnswer(R"({"error":""})");
    late.Delay = std::chrono::milliseconds(2500);
    Backend.PushAnswer(late);

    QElapsedTimer elapsed;
    elapsed.start();
    const QString message = PostFormFailure(client);
    const qint64 tookMs = elapsed.elapsed();

    EXPECT_TRUE(message.startsWith(QStringLiteral("Timeout was reached"))) << message.toStdString();
    EXPECT_GE(tookMs, kTimeoutMs);
    // A time-out that only fires on libcurl's once-a-second progress tick would take ~1000 ms.
    EXPECT_LT(tookMs, kTimeoutMs + 500);
}

TEST_F(HttpsTransportTest, AnswerWithinTheResponseTimeOutArrives)
{
    THttpsSettings transport = TestTransport();
    transport.ResponseTimeoutMs = 1500;
    substitute::ScriptedAnswer slow = JsonAnswer(R"({"error":""})");
    slow.Delay = std::chrono::milliseconds(300);
    Backend.PushAnswer(slow);
    EXPECT_EQ(DVBackendServiceTestAccess::PostForm(ClientOf(Backend.Port(), transport), {}).StatusCode, 200);
}

TEST_F(HttpsTransportTest, ConnectionDroppedWithoutAnAnswerFails)
{
    Backend.PushAnswer(DroppedConnection());
    const QString message = PostFormFailure(Client);
    EXPECT_FALSE(message.isEmpty());
    EXPECT_EQ(Backend.Requests().size(), 1u) << "the request arrived; only its answer is missing";
}

TEST_F(HttpsTransportTest, FinalAnswerIsReturnedAsItCame)
{
    substitute::ScriptedAnswer answer;
    answer.Status = 404;
    answer.ContentType = "text/plain";
    answer.Headers = {{"X-First", "1"}, {"X-Second", "two words"}};
    answer.Body = std::string("not here\r\n\0binary", 18);
    Backend.PushAnswer(answer);

    const THttpResponse response = Post();
    EXPECT_EQ(response.StatusCode, 404);
    EXPECT_EQ(response.StatusText, QStringLiteral("Not Found"));
    EXPECT_EQ(response.Body, QByteArray(answer.Body.data(), qsizetype(answer.Body.size())));
    EXPECT_EQ(response.Header("x-second"), QByteArray("two words")) << "names compare without regard to case";
    EXPECT_TRUE(response.Header("X-Missing").isNull());
    std::vector<QByteArray> names;
    for (const auto& [name, value] : response.Headers)
        if (name.startsWith("X-"))
            names.push_back(name);
    EXPECT_EQ(names, (std::vector<QByteArray>{"X-First", "X-Second"}));
}

TEST_F(HttpsTransportTest, GzipBodyIsNotDecodedByTheTransport)
{
    substitute::ScriptedAnswer answer = JsonAnswer(R"({"error":""})");
    answer.Gzip = true;
    Backend.PushAnswer(answer);
    const THttpResponse response = Post();
    EXPECT_EQ(response.Header("Content-Encoding"), QByteArray("gzip"));
    EXPECT_TRUE(response.Body.startsWith("\x1f\x8b")) << "the gzip magic must reach our own decoding";
}

TEST_F(HttpsTransportTest, RequestCarriesOurAgentAndNoNegotiationHeaders)
{
    Post();
    const substitute::ReceivedRequest request = LastRequest();
    EXPECT_EQ(request.Method, "POST");
    EXPECT_EQ(request.Path, "/assoc/progs/main/xapirest.sto");
    EXPECT_EQ(request.Header("User-Agent"), THttpsClient::UserAgent());
    EXPECT_EQ(request.Header("Expect"), "") << "a 100-continue handshake only delays the body";
    EXPECT_EQ(request.Header("Accept-Encoding"), "") << "gzip decoding is ours, not libcurl's";
}

TEST_F(HttpsTransportTest, EveryRequestComesOnANewConnection)
{
    Post();
    Post();
    const auto requests = Backend.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[0].Connection, requests[1].Connection);
    EXPECT_EQ(requests[1].FirmType, "aziende");
}

TEST_F(HttpsTransportTest, ARedirectIsAFailedRequestWithItsStatus)
{
    // Followed, it would post the credentials and the invoice wherever the answer says, and that
    // host's answer would count.
    const struct
    {
        int Status;
        std::string Location;
        QString Failure;
    } cases[] = {
        {301, EndpointUrl(Backend.Port()) + "?moved", QStringLiteral("Reindirizzamento non seguito: 301 Moved Permanently")},
        {302, "https://127.0.0.1:" + std::to_string(Backend.Port()) + "/x?", QStringLiteral("Reindirizzamento non seguito: 302 Found")},
        {303, EndpointUrl(Backend.Port()), QStringLiteral("Reindirizzamento non seguito: 303")},
        {307, EndpointUrl(Backend.Port()), QStringLiteral("Reindirizzamento non seguito: 307")},
        {308, "http://aziende.localhost:" + std::to_string(Backend.Port()) + "/", QStringLiteral("Reindirizzamento non seguito: 308")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Status);
        Backend.ClearRequests();
        Backend.PushAnswer(Redirect(c.Status, c.Location));
        Backend.PushAnswer(JsonAnswer(R"({"error":""})"));
        EXPECT_EQ(PostFormFailure(Client), c.Failure);
        EXPECT_EQ(Backend.Requests().size(), 1u);
        Post(); // the answer left over
    }
}

// --- requests that end: a slow server, a stop, an answer too large ----------------------------

// An answer that comes `step` bytes at a time, `interval` apart, for about `total` bytes.
substitute::ScriptedAnswer Trickle(std::size_t step, std::chrono::milliseconds interval, std::size_t total)
{
    substitute::ScriptedAnswer answer = JsonAnswer(R"({"error":"","pad":")" + std::string(total, 'x') + "\"}");
    answer.TrickleBytes = step;
    answer.TrickleInterval = interval;
    return answer;
}

TEST_F(HttpsTransportTest, ATransferSlowerThanTheLowSpeedLimitEnds)
{
    // Bytes keep coming, so the time-out without a byte never fires: 80 bytes a second against a
    // limit of 1 KiB a second (1 KiB a minute in the product, scaled down).
    THttpsSettings transport = TestTransport();
    transport.LowSpeedBytes = 1024;
    transport.LowSpeedSeconds = 1;
    Backend.PushAnswer(Trickle(8, std::chrono::milliseconds(100), 4000));

    QElapsedTimer elapsed;
    elapsed.start();
    const QString message = PostFormFailure(ClientOf(Backend.Port(), transport));
    EXPECT_TRUE(message.contains(QStringLiteral("too slow"))) << message.toStdString();
    EXPECT_LT(elapsed.elapsed(), 6000);
}

TEST_F(HttpsTransportTest, ARequestEndsAtItsTotalDeadlineHoweverFastBytesCome)
{
    THttpsSettings transport = TestTransport();
    transport.TotalTimeoutMs = 1000;
    Backend.PushAnswer(Trickle(100, std::chrono::milliseconds(20), 40000)); // 5 KB/s for 8 s

    QElapsedTimer elapsed;
    elapsed.start();
    const QString message = PostFormFailure(ClientOf(Backend.Port(), transport));
    EXPECT_TRUE(message.startsWith(QStringLiteral("Timeout was reached"))) << message.toStdString();
    EXPECT_GE(elapsed.elapsed(), 1000);
    EXPECT_LT(elapsed.elapsed(), 3000);
}

TEST_F(HttpsTransportTest, AStopEndsATransferInProgressWithinSeconds)
{
    std::atomic<bool> stop{false};
    THttpsSettings transport = TestTransport();
    transport.StopRequested = [&] { return stop.load(); };
    substitute::ScriptedAnswer late = JsonAnswer(R"({"error":""})");
    late.Delay = std::chrono::milliseconds(10000);
    Backend.PushAnswer(late);
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stop = true;
    });

    QElapsedTimer elapsed;
    elapsed.start();
    const QString message = PostFormFailure(ClientOf(Backend.Port(), transport));
    stopper.join();
    EXPECT_EQ(message, QStringLiteral("Richiesta interrotta: il programma si sta chiudendo"));
    EXPECT_LT(elapsed.elapsed(), 2500);
}

TEST_F(HttpsTransportTest, AnAnswerOver64MiBIsAFailedRequest)
{
    const QString kFailure = QStringLiteral("La risposta supera 64 MiB");
    substitute::ScriptedAnswer large = JsonAnswer(std::string(THttpsClient::kMaxAnswerBytes + 1, ' '));
    Backend.PushAnswer(large);
    EXPECT_EQ(PostFormFailure(Client), kFailure);

    // Announced, it fails before the first byte of the body.
    substitute::ScriptedAnswer announced = JsonAnswer(R"({"error":""})");
    announced.Headers = {{"Content-Length", std::to_string(THttpsClient::kMaxAnswerBytes + 1)}};
    Backend.PushAnswer(announced);
    EXPECT_EQ(PostFormFailure(Client), kFailure);
}

// --- TLS sessions -----------------------------------------------------------------------------

TEST_F(HttpsTransportTest, ARunOfRequestsResumesTheTlsSessionOfAnEarlierOne)
{
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(Post().StatusCode, 200);
    const auto requests = Backend.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_FALSE(requests[0].TlsResumed);
    for (std::size_t i = 1; i < requests.size(); ++i) {
        EXPECT_TRUE(requests[i].TlsResumed) << i;
        EXPECT_NE(requests[i].Connection, requests[i - 1].Connection) << "a connection of its own";
    }
}

TEST(HttpsTransport, AServerThatRefusesResumptionStillGetsEveryRequest)
{
    substitute::Options options = SubstituteOptions();
    options.SessionResumption = false;
    substitute::Backend backend(options);
    TDVBackendService client = ClientOf(backend.Port());
    SignInAsTestUser(client);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(DVBackendServiceTestAccess::PostForm(client, {QStringLiteral("QELT_REQ=Test")}).StatusCode, 200);
    const auto requests = backend.Requests();
    ASSERT_EQ(requests.size(), 3u);
    for (const auto& request : requests)
        EXPECT_FALSE(request.TlsResumed);
}

namespace {

// An https proxy on loopback as offices have them: "CONNECT host:port", then the bytes both ways.
// Every tunnel leads to the loopback port asked for, whatever the host.
class TConnectProxy
{
public:
    TConnectProxy() : FListener(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        EXPECT_EQ(bind(FListener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(FListener, 16), 0);
        EXPECT_EQ(getsockname(FListener, reinterpret_cast<sockaddr*>(&address), &length), 0);
        FPort = ntohs(address.sin_port);
        FAcceptor = std::thread([this] {
            for (;;) {
                const int client = accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
                if (client < 0)
                    return;
                ++FTunnels;
                FRelays.emplace_back([client] { Relay(client); });
            }
        });
    }
    ~TConnectProxy()
    {
        shutdown(FListener, SHUT_RDWR);
        FAcceptor.join();
        for (std::thread& relay : FRelays)
            relay.join();
        close(FListener);
    }

    int Port() const { return FPort; }
    int Tunnels() const { return FTunnels; }

private:
    static void Relay(int client)
    {
        std::string head;
        char byte;
        while (head.find("\r\n\r\n") == std::string::npos && read(client, &byte, 1) == 1)
            head += byte;
        const std::size_t colon = head.find(':');
        const int port = colon == std::string::npos ? 0 : atoi(head.c_str() + colon + 1);
        const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(uint16_t(port));
        const char established[] = "HTTP/1.1 200 Connection established\r\n\r\n";
        if (head.rfind("CONNECT ", 0) == 0 &&
            connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            write(client, established, sizeof established - 1) == ssize_t(sizeof established - 1)) {
            pollfd ends[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            char buffer[16384];
            for (bool open = true; open && poll(ends, 2, 30000) > 0;)
                for (int i = 0; i < 2 && open; ++i)
                    if (ends[i].revents != 0) {
                        const ssize_t got = read(ends[i].fd, buffer, sizeof buffer);
                        open = got > 0 && write(ends[1 - i].fd, buffer, size_t(got)) == got;
                    }
        }
        close(server);
        close(client);
    }

    int FListener;
    int FPort = 0;
    std::atomic<int> FTunnels{0};
    std::thread FAcceptor;
    std::vector<std::thread> FRelays;
};

// The proxy variables of the process for one test, put back afterwards.
class TProxyEnvironment
{
public:
    explicit TProxyEnvironment(const std::string& httpsProxy)
    {
        for (const char* name : {"https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY", "all_proxy", "ALL_PROXY"}) {
            const char* value = getenv(name);
            FSaved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
            unsetenv(name);
        }
        setenv("https_proxy", httpsProxy.c_str(), 1);
    }
    ~TProxyEnvironment()
    {
        for (const auto& [name, value] : FSaved)
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> FSaved;
};

} // namespace

TEST_F(HttpsTransportTest, ThroughAnHttpsProxyTheSessionsResumeToo)
{
    TConnectProxy proxy;
    const TProxyEnvironment environment("http://127.0.0.1:" + std::to_string(proxy.Port()));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Post().StatusCode, 200);
    EXPECT_EQ(proxy.Tunnels(), 3) << "every request a tunnel of its own";
    const auto requests = Backend.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_FALSE(requests[0].TlsResumed);
    EXPECT_TRUE(requests[1].TlsResumed);
    EXPECT_TRUE(requests[2].TlsResumed);
}
