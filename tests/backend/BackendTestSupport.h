#pragma once

// What the backend client's tests share: the substitute backend on an ephemeral loopback port
// serving the test PKI's certificate, a client that trusts only the test CA, and a way in to the
// client's private steps.

#include "backend/AnswerDecoding.h"
#include "backend/DVBackendService.h"
#include "substitute/SubstituteBackend.h"
#include "tests/support/TestPki.h"
#include "util/Errors.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>

struct DVBackendServiceTestAccess
{
    static QString DateToDVStr(const TDVBackendService& client, TDateTime value)
    {
        return client.DateToDVStr(value);
    }
    static THeaderList AuthHeaders(const TDVBackendService& client) { return client.AuthHeaders(); }
    static THttpResponse PostForm(const TDVBackendService& client, const QStringList& lines)
    {
        return client.PostForm(lines);
    }
};

namespace backend_test {

inline constexpr char kUsername[] = "mario.rossi@DEMO01";
inline constexpr char kPassword[] = "s3gr3ta";

// Short enough that a failing test does not hang, long enough for a sanitised build on a busy machine.
inline THttpsSettings TestTransport()
{
    THttpsSettings settings;
    settings.CaBundle = SharedTestPki().CaFile;
    settings.ConnectTimeoutMs = 10000;
    settings.ResponseTimeoutMs = 15000;
    return settings;
}

inline substitute::Options ServerOptions(const QString& cert, const QString& key)
{
    substitute::Options options;
    options.CertFile = cert.toStdString();
    options.KeyFile = key.toStdString();
    options.Username = kUsername;
    options.Password = kPassword;
    return options;
}

inline std::string EndpointUrl(int port, const std::string& firmType = "aziende")
{
    return "https://" + firmType + ".localhost:" + std::to_string(port) + "/assoc/progs/main/xapirest.sto";
}

// The message of the EVornError that `action` throws; a failure of the test when it throws none.
inline QString FailureOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const EVornError& error) {
        return error.Message();
    }
    ADD_FAILURE() << "expected an EVornError, nothing was thrown";
    return QStringLiteral("<no failure>");
}

inline substitute::ScriptedAnswer JsonAnswer(std::string body, int status = 200)
{
    substitute::ScriptedAnswer answer;
    answer.Status = status;
    answer.Body = std::move(body);
    return answer;
}

// A client of the substitute backend with the credentials it expects.
class BackendTest : public testing::Test
{
protected:
    BackendTest()
        : Backend(ServerOptions(SharedTestPki().ServerCert, SharedTestPki().ServerKey)),
          Client(QStringLiteral("localhost:%1").arg(Backend.Port()), TestTransport())
    {
        Client.SetFirmType(QStringLiteral("aziende"));
        Client.SetUsername(QString::fromUtf8(kUsername));
        Client.SetPassword(QString::fromUtf8(kPassword));
    }

    // One form request through the client's own framing; the answer as it came back.
    THttpResponse Post(const QStringList& lines = {QStringLiteral("QELT_REQ=Test")})
    {
        return DVBackendServiceTestAccess::PostForm(Client, lines);
    }

    // One form request whose answer goes through the client's answer check.
    std::unique_ptr<TJSONValue> PostAndCheck() { return CheckResponse(Post()); }

    substitute::ReceivedRequest LastRequest() const
    {
        const auto requests = Backend.Requests();
        if (requests.empty()) {
            ADD_FAILURE() << "the substitute backend received no request";
            return {};
        }
        return requests.back();
    }

    substitute::Backend Backend;
    TDVBackendService Client;
};

} // namespace backend_test
