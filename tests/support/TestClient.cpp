#include "tests/support/TestClient.h"

#include "tests/support/Substitute.h"

THttpsSettings TestTransport(const TestPki& pki)
{
    THttpsSettings settings;
    settings.CaBundle = pki.CaFile;
    settings.ConnectTimeoutMs = 10000;
    settings.ResponseTimeoutMs = 15000;
    return settings;
}

QString LoopbackDomain(int port)
{
    return QStringLiteral("localhost:%1").arg(port);
}

std::string EndpointUrl(int port, const std::string& firmType)
{
    return "https://" + firmType + ".localhost:" + std::to_string(port) + "/assoc/progs/main/xapirest.sto";
}

void SignInAsTestUser(TDVBackendService& client)
{
    client.SetFirmType(QStringLiteral("aziende"));
    client.SetUsername(QString::fromUtf8(kTestUsername));
    client.SetPassword(QString::fromUtf8(kTestPassword));
}
