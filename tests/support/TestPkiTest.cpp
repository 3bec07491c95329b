// The PKI is what the certificate-validation tests of the client stand on: if a certificate
// vouched for the wrong names or the wrong CA, those tests would pass for the wrong reason.

#include "tests/support/TestPki.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace {

// True when openssl accepts cert as issued by ca for host.
bool Verifies(const QString& ca, const QString& cert, const QString& host)
{
    QProcess process;
    process.start("openssl",
                  {"verify", "-CAfile", ca, "-purpose", "sslserver", "-verify_hostname", host, cert});
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

struct VerifyCase
{
    const char* What;
    QString TestPki::*Ca;
    QString TestPki::*Cert;
    const char* Host;
    bool Expected;
};

TEST(TestPki, CertificatesVouchForExactlyTheirNamesAndCa)
{
    const TestPki& pki = SharedTestPki();
    const VerifyCase cases[] = {
        {"server for localhost", &TestPki::CaFile, &TestPki::ServerCert, "localhost", true},
        {"server for a firm-type host", &TestPki::CaFile, &TestPki::ServerCert, "aziende.localhost", true},
        {"server for the other firm type", &TestPki::CaFile, &TestPki::ServerCert, "professionisti.localhost",
         true},
        {"server for another host", &TestPki::CaFile, &TestPki::ServerCert, "example.com", false},
        {"unrelated server against our CA", &TestPki::CaFile, &TestPki::OtherCaServerCert, "localhost",
         false},
        {"unrelated server against its own CA", &TestPki::OtherCaFile, &TestPki::OtherCaServerCert,
         "localhost", true},
        {"wrong-name cert for localhost", &TestPki::CaFile, &TestPki::WrongNameCert, "localhost", false},
        {"wrong-name cert for its own name", &TestPki::CaFile, &TestPki::WrongNameCert, "elsewhere.invalid",
         true},
    };
    for (const VerifyCase& c : cases) {
        SCOPED_TRACE(c.What);
        EXPECT_EQ(Verifies(pki.*c.Ca, pki.*c.Cert, c.Host), c.Expected);
    }
}

TEST(TestPki, SharedIsGeneratedOnce)
{
    EXPECT_EQ(&SharedTestPki(), &SharedTestPki());
    EXPECT_FALSE(SharedTestPki().Dir.isEmpty());
}

} // namespace
