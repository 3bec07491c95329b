// vorn-cli check-database, status, download, set-state and subject against the substitute, and
// the backend's refusals.

#include "tests/cli/CliProgram.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

TEST_F(CliBackendTest, CheckDatabaseUsesTheConfiguredCredentials)
{
    const CliRun run = Cli.Run({QStringLiteral("check-database")});
    ASSERT_EQ(run.ExitCode, 0) << Describe(run);
    EXPECT_TRUE(run.Out.contains(QStringLiteral("Database:")));
    EXPECT_TRUE(run.Out.contains(QLatin1String(kTestDatabase)));
    EXPECT_TRUE(run.Out.contains(QStringLiteral("Tipologia:")));
    const substitute::ReceivedRequest request = LastRequest();
    EXPECT_EQ(request.Header("Authorization"),
              "Basic " + (QByteArray(kTestUsername) + ':' + kTestPassword).toBase64().toStdString());
    EXPECT_EQ(request.Body, "QELT_REQ=VR_CheckDatabase&QELT_RESPONSE_FORMAT=JSON");
    EXPECT_EQ(request.Header("Host").substr(0, 18), "aziende.localhost:");

    const QJsonObject json =
        JsonOf(Cli.Run({QStringLiteral("--json"), QStringLiteral("check-database")})).object();
    EXPECT_EQ(json.value(QStringLiteral("Database")).toString(), kTestDatabase);
    EXPECT_EQ(json.value(QStringLiteral("Tipologia")).toString(), "aziende");
    EXPECT_EQ(json.size(), 6);
}

TEST_F(CliBackendTest, StatusShowsTheFieldsAndNotifications)
{
    const CliRun run = Cli.Run({QStringLiteral("status"), QStringLiteral("900001")});
    ASSERT_EQ(run.ExitCode, 0) << Describe(run);
    EXPECT_EQ(LastRequest().Field("idcoda"), "900001");
    EXPECT_TRUE(run.Out.contains(QStringLiteral("IdFattura:")));
    EXPECT_TRUE(run.Out.contains(QStringLiteral("900001")));
    EXPECT_TRUE(run.Out.contains(QStringLiteral("Notifiche:\nTipoNotifica")));

    const QJsonObject json =
        JsonOf(Cli.Run({QStringLiteral("status"), QStringLiteral("--json"), QStringLiteral("900001")}))
            .object();
    EXPECT_EQ(json.value(QStringLiteral("IdFattura")).toString(), "900001");
    EXPECT_FALSE(json.value(QStringLiteral("seq_NOTIFICA")).toArray().isEmpty());
}

TEST_F(CliBackendTest, DownloadWritesTheDecodedDocument)
{
    const CliRun run = Cli.Run({QStringLiteral("download"), QStringLiteral("900001")});
    ASSERT_EQ(run.ExitCode, 0) << Describe(run);
    const QByteArray content = Cli.FileContent(QLatin1String(kReceivedXml));
    EXPECT_TRUE(content.startsWith("<?xml")) << content.left(40).toStdString();
    EXPECT_TRUE(run.Out.startsWith(QStringLiteral("Saved ") + QLatin1String(kReceivedXml)));

    // An existing file is kept unless --force is given; --out and --kind reach their places.
    const CliRun again = Cli.Run({QStringLiteral("download"), QStringLiteral("900001")});
    EXPECT_EQ(again.ExitCode, 1) << Describe(again);
    EXPECT_TRUE(again.Err.contains(QStringLiteral("already exists")));
    const CliRun chosen =
        Cli.Run({QStringLiteral("download"), QStringLiteral("900001"), QStringLiteral("--kind"),
                 QStringLiteral("FATTURA"), QStringLiteral("--out"), QStringLiteral("copia.xml")});
    ASSERT_EQ(chosen.ExitCode, 0) << Describe(chosen);
    EXPECT_EQ(LastRequest().Field("TipoXML"), "FATTURA");
    EXPECT_EQ(Cli.FileContent(QStringLiteral("copia.xml")), content);
}

// The backend's name is a suggestion: a path in it must not place the file outside the folder.
TEST_F(CliBackendTest, DownloadKeepsTheFileInTheWorkingFolder)
{
    const struct
    {
        const char* Suggested;
        const char* Written;
    } cases[] = {
        {"../../fuori.xml", "fuori.xml"},
        {"C:\\\\Dati\\\\..\\\\IT01_1.xml", "IT01_1.xml"},
        {"/etc/passwd", "passwd"},
        {"..", "fattura_77"},
        {"", "fattura_77"},
        {"a\\u0000b?.xml", "ab.xml"},
    };
    const QDir dir(Cli.Dir.path());
    const QString ini = QStringLiteral("VORN_Automatic.ini");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Suggested);
        for (const QString& name : dir.entryList(QDir::Files))
            if (name != ini)
                QFile::remove(dir.filePath(name));
        substitute::ScriptedAnswer answer;
        answer.Headers = {{"Content-Type", "application/json"}};
        answer.Body = std::string(R"({"error":"","result":{"NomeFileBase64":")") + c.Suggested +
                      R"(","FileBase64":"PD94bWw/Pg==","TipoXML":"FATTURA"}})";
        Backend->PushAnswer(answer);
        const CliRun run = Cli.Run({QStringLiteral("download"), QStringLiteral("77")});
        ASSERT_EQ(run.ExitCode, 0) << Describe(run);
        QStringList expected{ini, QLatin1String(c.Written)};
        expected.sort();
        EXPECT_EQ(dir.entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
        EXPECT_EQ(Cli.FileContent(QLatin1String(c.Written)), "<?xml?>");
    }
    EXPECT_FALSE(QFile::exists(dir.absoluteFilePath(QStringLiteral("../fuori.xml"))));
    EXPECT_FALSE(QFile::exists(dir.absoluteFilePath(QStringLiteral("../../fuori.xml"))));
}

TEST_F(CliBackendTest, DownloadRefusesContentThatIsNotBase64)
{
    substitute::ScriptedAnswer answer;
    answer.Headers = {{"Content-Type", "application/json"}};
    answer.Body = R"({"error":"","result":{"NomeFileBase64":"x.xml","FileBase64":"PD94*bWw"}})";
    Backend->PushAnswer(answer);
    const CliRun run = Cli.Run({QStringLiteral("download"), QStringLiteral("5")});
    EXPECT_EQ(run.ExitCode, 1) << Describe(run);
    EXPECT_EQ(run.Err, "vorn-cli: The document's content is not valid Base64\n");
    EXPECT_FALSE(QFile::exists(Cli.Dir.filePath(QStringLiteral("x.xml"))));
}

TEST_F(CliBackendTest, SetStateSendsTheCodeAndReportsARefusal)
{
    const CliRun run = Cli.Run({QStringLiteral("set-state"), QStringLiteral("900002"), QStringLiteral("03")});
    ASSERT_EQ(run.ExitCode, 0) << Describe(run);
    EXPECT_EQ(LastRequest().Body,
              "QELT_REQ=FAEAggiornaStato&QELT_RESPONSE_FORMAT=JSON&idcoda=900002&CodiceStato=03");
    EXPECT_EQ(run.Out, "Invoice 900002: management state set to 03\n");

    const CliRun refused =
        Cli.Run({QStringLiteral("set-state"), QStringLiteral("900002"), QStringLiteral("99")});
    EXPECT_EQ(refused.ExitCode, 1) << Describe(refused);
    EXPECT_EQ(refused.Err, "vorn-cli: Codice stato non valido: 99\n");
    EXPECT_TRUE(refused.Out.isEmpty());
}

TEST_F(CliBackendTest, SubjectPrintsTheCode)
{
    const CliRun run = Cli.Run({QStringLiteral("subject"), QStringLiteral("RSSMRA80A01H501U")});
    ASSERT_EQ(run.ExitCode, 0) << Describe(run);
    EXPECT_EQ(run.Out, "SOG000101\n");
    EXPECT_EQ(LastRequest().Field("IN_CodiceFiscaleSoggetto"), "RSSMRA80A01H501U");

    const CliRun unknown =
        Cli.Run({QStringLiteral("--json"), QStringLiteral("subject"), QStringLiteral("XYZ")});
    EXPECT_EQ(unknown.ExitCode, 1) << Describe(unknown);
    EXPECT_EQ(unknown.Err, "vorn-cli: Nessun soggetto con codice fiscale XYZ\n");
}

// The backend's refusal, whatever the command, reaches standard error as it came, with exit 1.
TEST_F(CliBackendTest, BackendFailuresExitOneWithTheirMessage)
{
    Cli.WriteConfig(kTestDatabase, kTestUser, QStringLiteral("sbagliata"));
    const CliRun unauthorized = Cli.Run({QStringLiteral("status"), QStringLiteral("900001")});
    EXPECT_EQ(unauthorized.ExitCode, 1) << Describe(unauthorized);
    EXPECT_EQ(unauthorized.Err, "vorn-cli: Unauthorized\n");

    substitute::ScriptedAnswer empty;
    empty.Headers = {{"Content-Type", "application/json"}};
    empty.Body = R"({"error":"","result":{"Error":""}})";
    Backend->PushAnswer(empty);
    const CliRun noMessage = Cli.Run({QStringLiteral("download"), QStringLiteral("1")});
    EXPECT_EQ(noMessage.ExitCode, 1) << Describe(noMessage);
    EXPECT_EQ(noMessage.Err, "vorn-cli: the backend refused the request without a message\n");
}

} // namespace
