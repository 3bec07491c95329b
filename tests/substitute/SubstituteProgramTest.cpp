// The program as the demo and the end-to-end tests run it: on the configured service port, with
// the certificate of the test_pki fixture, reachable under the firm-type host names, and ending
// cleanly on SIGTERM.

#include "tests/substitute/CurlTestClient.h"
#include "tests/support/EndToEnd.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>

namespace {

TEST(SubstituteProgram, ServesOnTheServicePortUntilTerminated)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const TestPki pki = EndToEndPki();
    QProcess program;
    program.start(QStringLiteral(VORN_SUBSTITUTE_PROGRAM),
                  {"--cert", pki.ServerCert, "--key", pki.ServerKey, "--port",
                   QString::number(EndToEndPort()), "--user", QString::fromUtf8(kUser), "--password",
                   QString::fromUtf8(kPassword)});
    ASSERT_TRUE(program.waitForStarted(10000));
    ASSERT_TRUE(program.waitForReadyRead(20000)) << program.readAllStandardError().toStdString();
    EXPECT_EQ(program.readLine().trimmed().toStdString(), "listening on " + std::to_string(EndToEndPort()));

    const std::string host = EndToEndServiceDomain().section(':', 0, 0).toStdString();
    for (const std::string firmType : {"aziende", "professionisti"}) {
        SCOPED_TRACE(firmType);
        CurlRequest request;
        request.Host = firmType + "." + host;
        request.Body = "QELT_REQ=VR_CheckDatabase&QELT_RESPONSE_FORMAT=JSON";
        const CurlAnswer answer = Perform(EndToEndPort(), request, pki.CaFile);
        EXPECT_EQ(answer.Code, CURLE_OK);
        EXPECT_NE(answer.Body.find("\"Tipologia\":\"" + firmType + "\""), std::string::npos) << answer.Body;
    }

    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
}

} // namespace
