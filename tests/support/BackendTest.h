#pragma once

// The backend client's tests: the substitute backend on an ephemeral loopback port serving the
// test PKI's certificate, a client that trusts only the test CA, and a way in to the client's
// private steps.

#include "backend/AnswerDecoding.h"
#include "backend/DVBackendService.h"
#include "substitute/SubstituteBackend.h"
#include "tests/support/Failure.h"
#include "tests/support/Substitute.h"
#include "tests/support/TestClient.h"

#include <QString>
#include <QStringList>
#include <gtest/gtest.h>
#include <memory>

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

// A client of the substitute backend with the credentials it expects.
class BackendTest : public testing::Test
{
protected:
    BackendTest() : Backend(SubstituteOptions()), Client(LoopbackDomain(Backend.Port()), TestTransport())
    {
        SignInAsTestUser(Client);
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
