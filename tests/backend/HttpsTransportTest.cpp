// The transport under the backend client, over real HTTPS on loopback: how it fails, how it
// follows redirects, and what it hands back of the final answer.

#include "backend/HttpsClient.h"
#include "tests/support/BackendTest.h"

#include <QElapsedTimer>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

TEST_F(HttpsTransportTest, RedirectsKeepThePostAndItsBody)
{
    const std::string target = EndpointUrl(Backend.Port());
    for (const int status : {301, 302, 307, 308}) {
        SCOPED_TRACE(status);
        Backend.ClearRequests();
        Backend.PushAnswer(Redirect(status, target + "?moved"));
        Backend.PushAnswer(JsonAnswer(R"({"error":""})"));
        const THttpResponse response = Post({QStringLiteral("QELT_REQ=Test"), QStringLiteral("a=1")});
        EXPECT_EQ(response.StatusCode, 200);
        const auto requests = Backend.Requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[1].Method, "POST");
        EXPECT_EQ(requests[1].Body, requests[0].Body);
        EXPECT_EQ(requests[1].Body, "QELT_REQ=Test&a=1");
    }
}

TEST_F(HttpsTransportTest, SeeOtherTurnsThePostIntoAGet)
{
    // 303 says "fetch the answer elsewhere": the request itself has been taken.
    Backend.PushAnswer(Redirect(303, EndpointUrl(Backend.Port())));
    Backend.PushAnswer(JsonAnswer(R"({"error":""})"));
    EXPECT_EQ(Post().StatusCode, 200);
    const auto requests = Backend.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].Method, "GET");
    EXPECT_EQ(requests[1].Body, "");
}

TEST_F(HttpsTransportTest, FiveRedirectsInARowAreFollowedASixthFails)
{
    const std::string target = EndpointUrl(Backend.Port());
    for (int i = 0; i < 5; ++i)
        Backend.PushAnswer(Redirect(302, target));
    Backend.PushAnswer(JsonAnswer(R"({"error":""})"));
    EXPECT_EQ(Post().StatusCode, 200);
    EXPECT_EQ(Backend.Requests().size(), 6u);

    Backend.ClearRequests();
    for (int i = 0; i < 6; ++i)
        Backend.PushAnswer(Redirect(302, target));
    const QString message = PostFormFailure(Client);
    EXPECT_TRUE(message.contains(QStringLiteral("redirect"), Qt::CaseInsensitive)) << message.toStdString();
    EXPECT_EQ(Backend.Requests().size(), 6u);
}

TEST_F(HttpsTransportTest, RedirectToPlainHttpIsRefused)
{
    Backend.PushAnswer(Redirect(302, "http://aziende.localhost:" + std::to_string(Backend.Port()) + "/"));
    const QString message = PostFormFailure(Client);
    EXPECT_TRUE(message.contains(QStringLiteral("http"))) << message.toStdString();
    EXPECT_EQ(Backend.Requests().size(), 1u);
}
