// vorn-cli end to end: the program as built, run in a temporary working folder that holds a
// VORN_Automatic.ini, against the substitute backend on the port the build's endpoint names.

#include "config/ConfigFile.h"
#include "config/Settings.h"
#include "substitute/SubstituteBackend.h"
#include "tests/support/EndToEnd.h"
#include "tests/support/Files.h"
#include "tests/support/Substitute.h"
#include "util/UniqueFd.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <QThread>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <memory>

namespace {

constexpr char kReceivedXml[] = "IT09876543210_00A1B.xml"; // the substitute's received invoice 900001

struct CliRun
{
    int ExitCode = -1;
    QString Out;
    QString Err;
};

std::string Describe(const CliRun& run)
{
    return "exit " + std::to_string(run.ExitCode) + "\nstdout:\n" + run.Out.toStdString() + "\nstderr:\n" +
           run.Err.toStdString();
}

// The program's runs, in a working folder of their own.
class CliProgram
{
public:
    CliRun Run(const QStringList& arguments) const
    {
        QProcess process;
        process.setWorkingDirectory(Dir.path());
        process.start(QStringLiteral(VORN_CLI_PATH), arguments);
        CliRun run;
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            ADD_FAILURE() << "vorn-cli did not finish";
            return run;
        }
        run.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.Out = QString::fromUtf8(process.readAllStandardOutput());
        run.Err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

    // The window's way of storing the settings: trimmed texts, the password encoded.
    void WriteConfig(const QString& database, const QString& username, const QString& password) const
    {
        TConfigFile config(Dir.filePath(QStringLiteral("VORN_Automatic.ini")));
        config.WriteString(QStringLiteral("DLV"), QStringLiteral("Database"), database);
        config.WriteString(QStringLiteral("DLV"), QStringLiteral("Username"), username);
        config.WriteString(QStringLiteral("DLV"), QStringLiteral("Password"), EncodePassword(password));
        config.Close();
    }

    QByteArray FileContent(const QString& name) const { return ReadBytes(Dir.filePath(name)); }

    QTemporaryDir Dir;
};

// What needs no backend at all: help and the command-line checks.
class CliUsageTest : public testing::Test
{
protected:
    CliProgram Cli;
};

TEST_F(CliUsageTest, HelpExplainsEveryCommand)
{
    const CliRun run = Cli.Run({QStringLiteral("--help")});
    ASSERT_EQ(run.ExitCode, 0) << Describe(run);
    for (const char* text :
         {"check-database", "search-issued", "search-received", "status ID", "download", "set-state ID CODE",
          "subject CF", "--invoice-from DATE", "--customer-name", "--id-to", "--kind K", "--out FILE",
          "track [OPTIONS] [FOLDER]", "--refresh", "pull [OPTIONS]", "--into FOLDER", "--json",
          "VORN_Automatic.ini", "Exit status"})
        EXPECT_TRUE(run.Out.contains(QLatin1String(text))) << text;

    const CliRun command = Cli.Run({QStringLiteral("download"), QStringLiteral("--help")});
    ASSERT_EQ(command.ExitCode, 0) << Describe(command);
    EXPECT_TRUE(command.Out.startsWith(QStringLiteral("Usage: vorn-cli [--json] download [OPTIONS] ID\n")))
        << Describe(command);
    EXPECT_FALSE(command.Out.contains(QStringLiteral("--invoice-from")));
}

// Usage errors exit 2 with a message that says what is wrong, before any configuration is read:
// the working folder here has none.
TEST_F(CliUsageTest, WrongCommandLinesExitTwo)
{
    const struct
    {
        QStringList Arguments;
        const char* Message;
    } cases[] = {
        {{}, "vorn-cli: no command given (see vorn-cli --help)\n"},
        {{"frobnicate"}, "vorn-cli: unknown command 'frobnicate' (see vorn-cli --help)\n"},
        {{"status"}, "vorn-cli: usage: vorn-cli [--json] status ID\n"},
        {{"set-state", "1"}, "vorn-cli: usage: vorn-cli [--json] set-state ID CODE\n"},
        {{"subject", "A", "B"}, "vorn-cli: usage: vorn-cli [--json] subject CF\n"},
        {{"status", "--kind", "x", "1"}, "vorn-cli: Unknown option 'kind'. (see vorn-cli --help)\n"},
        {{"search-issued", "--from", "2024-02-30"},
         "vorn-cli: --from: '2024-02-30' is not a valid date; write it as yyyy-mm-dd\n"},
        {{"search-received", "--invoice-date=5/3/2024"},
         "vorn-cli: --invoice-date: '5/3/2024' is not a valid date; write it as yyyy-mm-dd\n"},
        {{"search-received", "--to", "2024-3-05"},
         "vorn-cli: --to: '2024-3-05' is not a valid date; write it as yyyy-mm-dd\n"},
        {{"search-issued", "--invoice-to", "1899-12-30"},
         "vorn-cli: --invoice-to: '1899-12-30' is before 1900-01-01\n"},
        {{"search-issued", "--limit", "ten"}, "vorn-cli: --limit: 'ten' is not a whole number\n"},
        {{"search-issued", "--offset", "99999999999"},
         "vorn-cli: --offset: '99999999999' is not a whole number\n"},
        {{"search-issued", "--limit"}, "vorn-cli: Missing value after '--limit'. (see vorn-cli --help)\n"},
        {{"track", "a", "b"}, "vorn-cli: usage: vorn-cli [--json] track [OPTIONS] [FOLDER]\n"},
        {{"track", "--since", "ieri", "a"},
         "vorn-cli: --since: 'ieri' is not a valid date; write it as yyyy-mm-dd\n"},
        // Without a folder and without a configuration that names one, nothing is asked.
        {{"track"},
         "vorn-cli: no folder: give FOLDER, or set CartellaDaInviare in section FE of VORN_Automatic.ini\n"},
        {{"pull"},
         "vorn-cli: no folder: give --into FOLDER, or set CartellaRicevute in section FE of "
         "VORN_Automatic.ini\n"},
        {{"pull", "cartella"}, "vorn-cli: usage: vorn-cli [--json] pull [OPTIONS]\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Arguments.join(u' ').toStdString());
        const CliRun run = Cli.Run(c.Arguments);
        EXPECT_EQ(run.ExitCode, 2) << Describe(run);
        EXPECT_EQ(run.Err, QString::fromUtf8(c.Message));
        EXPECT_TRUE(run.Out.isEmpty());
    }
}

TEST_F(CliUsageTest, MissingConfigurationIsAClientFailure)
{
    const CliRun missing = Cli.Run({QStringLiteral("check-database")});
    EXPECT_EQ(missing.ExitCode, 1) << Describe(missing);
    EXPECT_TRUE(missing.Err.contains(QStringLiteral("VORN_Automatic.ini not found"))) << Describe(missing);

    // The same checks, in the same order, as the window's settings check.
    Cli.WriteConfig(QStringLiteral("  "), QStringLiteral("mario"), QStringLiteral("x"));
    EXPECT_EQ(Cli.Run({QStringLiteral("check-database")}).Err, "vorn-cli: Databse non specificato\n");
    Cli.WriteConfig(QStringLiteral("DEMO01"), QString(), QStringLiteral("x"));
    EXPECT_EQ(Cli.Run({QStringLiteral("check-database")}).Err, "vorn-cli: Username non specificato\n");
    Cli.WriteConfig(QStringLiteral("DEMO01"), QStringLiteral("mario"), QStringLiteral(" "));
    const CliRun noPassword = Cli.Run({QStringLiteral("check-database")});
    EXPECT_EQ(noPassword.ExitCode, 1);
    EXPECT_EQ(noPassword.Err, "vorn-cli: Password non specificata\n");
}

// The commands against the substitute backend. The program's endpoint is a build constant, so
// these run only in a build whose backend is the substitute on loopback (scripts/test's).
class CliBackendTest : public testing::Test
{
protected:
    void SetUp() override
    {
        if (const QString reason = EndToEndSkipReason(); !reason.isEmpty())
            GTEST_SKIP() << reason.toStdString();
        StartBackend(0);
        // Blanks around the texts, as a hand-edited file may have them: the user sent is still exact.
        Cli.WriteConfig(QStringLiteral(" %1 ").arg(kTestDatabase), QStringLiteral("%1\t").arg(kTestUser),
                        QStringLiteral(" %1 ").arg(kTestPassword));
    }

    // A fresh substitute on the build's port whose search answers hold at most maxPageSize invoices.
    void StartBackend(int maxPageSize)
    {
        substitute::Options options = SubstituteOptions(EndToEndPki(), EndToEndPort());
        options.MaxPageSize = maxPageSize;
        Backend.reset();
        Backend = std::make_unique<substitute::Backend>(options);
    }

    // The values of one field over the requests of one operation, in arrival order.
    std::vector<std::string> Sent(const std::string& operation, const std::string& field) const
    {
        std::vector<std::string> values;
        for (const substitute::ReceivedRequest& request : Backend->Requests())
            if (request.Field("QELT_REQ") == operation)
                values.push_back(request.Field(field));
        return values;
    }

    substitute::ReceivedRequest LastRequest() const
    {
        const auto requests = Backend->Requests();
        return requests.empty() ? substitute::ReceivedRequest{} : requests.back();
    }

    QJsonDocument JsonOf(const CliRun& run) const
    {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(run.Out.toUtf8(), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << Describe(run);
        return document;
    }

    CliProgram Cli;
    std::unique_ptr<substitute::Backend> Backend;
};

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

TEST_F(CliBackendTest, SearchIssuedSendsTheFiltersAndPrintsATable)
{
    substitute::ScriptedAnswer answer;
    answer.Headers = {{"Content-Type", "application/json"}};
    answer.Body = R"({"error":"","result":{"NumeroTotale":"2","seq_FATTURE":[)"
                  R"({"IdFattura":"11","FatturaNumero":"2024/1","CessionarioAnagrafica":"Bar Sport"},)"
                  R"({"IdFattura":"12","FatturaNumero":"2024/2","FatturaImporto":"10.00"}]}})";
    Backend->PushAnswer(answer);
    const CliRun run =
        Cli.Run({QStringLiteral("search-issued"), QStringLiteral("--limit"), QStringLiteral("-1"),
                 QStringLiteral("--offset=5"), QStringLiteral("--reverse"), QStringLiteral("--from"),
                 QStringLiteral("2024-01-31"), QStringLiteral("--invoice-date"), QStringLiteral("2024-02-29"),
                 QStringLiteral("--customer-name"), QStringLiteral("Bar Sport"), QStringLiteral("--id-to"),
                 QStringLiteral("99")});
    ASSERT_EQ(run.ExitCode, 0) << Describe(run);
    const substitute::ReceivedRequest request = LastRequest();
    EXPECT_EQ(request.Body,
              "QELT_REQ=FAEAttivaSearch&QELT_RESPONSE_FORMAT=JSON&RisultatiLimite=-1"
              "&RisultatiOffset=5&RisultatiOrdinamentoInverso=S&InvioDataDa=2024-01-31&InvioDataA="
              "&CessionarioCfPiva=&CessionarioDenominazione=Bar+Sport&CedenteCfPiva="
              "&CedenteDenominazione=&FatturaDataDa=&FatturaDataA=&FatturaData=2024-02-29"
              "&FatturaNumero=&CodiceStatoGestionale=&FatturaDaId=&FatturaAId=99");
    const QStringList lines = run.Out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << Describe(run);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("IdFattura  FatturaData  FatturaNumero")));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("11         ")));
    EXPECT_TRUE(lines[1].contains(QStringLiteral("Bar Sport")));
    EXPECT_EQ(lines[3], "2 invoice(s)");
}

TEST_F(CliBackendTest, SearchReceivedAsJsonCarriesEveryField)
{
    const CliRun run = Cli.Run({QStringLiteral("search-received"), QStringLiteral("--json"),
                                QStringLiteral("--from"), QStringLiteral("2024-03-01")});
    ASSERT_EQ(run.ExitCode, 0) << Describe(run);
    EXPECT_EQ(LastRequest().Field("RicezioneDataDa"), "2024-03-01");
    EXPECT_EQ(LastRequest().Field("RisultatiLimite"), "100");
    const QJsonObject json = JsonOf(run).object();
    const QJsonArray fatture = json.value(QStringLiteral("Fatture")).toArray();
    EXPECT_EQ(json.value(QStringLiteral("NumeroTotale")).toString(), QString::number(fatture.size()));
    ASSERT_FALSE(fatture.isEmpty());
    for (const QJsonValue& fattura : fatture) {
        EXPECT_EQ(fattura.toObject().size(), 19);
        EXPECT_GE(fattura.toObject().value(QStringLiteral("RicezioneData")).toString(),
                  QStringLiteral("2024-03-01"));
    }
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

// --- track and pull ------------------------------------------------------------------------------

void WriteFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(content);
}

QStringList NonEmptyLines(const QString& text)
{
    return text.split(u'\n', Qt::SkipEmptyParts);
}

// An outgoing folder whose Inviate holds archive copies named as the dispatch names them.
class TrackTest : public CliBackendTest
{
protected:
    void SetUp() override
    {
        CliBackendTest::SetUp();
        if (IsSkipped())
            return;
        Inviate = Cli.Dir.filePath(QStringLiteral("uscita/Inviate"));
        ASSERT_TRUE(QDir().mkpath(Inviate));
        SetOutgoingFolder(Cli.Dir.filePath(QStringLiteral("uscita")));
    }

    void SetOutgoingFolder(const QString& folder) const
    {
        TConfigFile config(Cli.Dir.filePath(QStringLiteral("VORN_Automatic.ini")));
        config.WriteString(QStringLiteral("FE"), QStringLiteral("CartellaDaInviare"), folder);
        config.Close();
    }

    // Uploaded (as far as the substitute knows) and archived under base_<queue id>.xml.
    std::string Archived(const QString& base, std::vector<substitute::Notification> history)
    {
        const std::string id = Backend->AddIssuedInvoice(base.toStdString() + ".xml", "<x/>");
        Backend->SetNotifications(id, std::move(history));
        WriteFile(Inviate + u'/' + base + u'_' + QString::fromStdString(id) + QStringLiteral(".xml"), "<x/>");
        return id;
    }

    QString Inviate;
};

// The refused invoice comes first with the one mark; each is shown by its latest notification; a
// name without a queue identifier is reported and nothing is asked for it. Afterwards the final
// states come from the cache beside the configuration (which of them, tests/track says).
TEST_F(TrackTest, ShowsEachArchivedInvoiceRefusedFirstAndAsksFinalStatesOnce)
{
    const std::string delivered = Archived(QStringLiteral("IT01234567890_00001"),
                                           {{"RC", "2024-03-06 09:00:00", "2024-03-06 09:00:05"},
                                            {"MC", "2024-03-05 09:00:00", "2024-03-05 09:00:04"}});
    const std::string refused = Archived(QStringLiteral("IT01234567890_00002"),
                                         {{"NS", "2024-03-05 10:00:00", "2024-03-05 10:00:02"}});
    const std::string missed = Archived(QStringLiteral("IT01234567890_00003"),
                                        {{"MC", "2024-03-05 11:00:00", "2024-03-05 11:00:03"}});
    WriteFile(Inviate + QStringLiteral("/senza-identificativo.xml"), "<x/>");

    const CliRun run = Cli.Run({QStringLiteral("track")});
    EXPECT_EQ(run.ExitCode, 3) << Describe(run);
    EXPECT_EQ(Sent("FAEGetStatusbyId", "idcoda"), (std::vector<std::string>{delivered, refused, missed}));
    const QStringList lines = NonEmptyLines(run.Out);
    ASSERT_EQ(lines.size(), 6) << Describe(run);
    EXPECT_TRUE(
        lines[1].startsWith(QStringLiteral("!  IT01234567890_00002_") + QString::fromStdString(refused)))
        << Describe(run);
    const auto shows = [](const QString& line, QStringList texts) {
        return std::all_of(texts.begin(), texts.end(), [&](const QString& t) { return line.contains(t); });
    };
    EXPECT_TRUE(shows(lines[1], {"NS scartata", "2024-03-05 10:00:00", "2024-03-05 10:00:02"}));
    EXPECT_TRUE(shows(lines[2], {"RC consegnata", "2024-03-06 09:00:00", "2024-03-06 09:00:05"}));
    EXPECT_TRUE(shows(lines[3], {"MC mancata consegna", "2024-03-05 11:00:03"}));
    EXPECT_TRUE(lines[4].contains(QStringLiteral("senza-identificativo.xml")));
    EXPECT_TRUE(lines[4].endsWith(QStringLiteral("no queue identifier in the name: not asked")));
    for (qsizetype i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].startsWith(u'!'), i == 1) << lines[i].toStdString();
    EXPECT_TRUE(
        lines[5].startsWith(QStringLiteral("4 invoice(s) in ") + Inviate + QStringLiteral("; 1 refused")));

    Backend->ClearRequests();
    const CliRun cached = Cli.Run({QStringLiteral("--json"), QStringLiteral("track")});
    EXPECT_EQ(cached.ExitCode, 3) << Describe(cached);
    const QJsonArray invoices = JsonOf(cached).array();
    ASSERT_EQ(invoices.size(), 4) << Describe(cached);
    const struct
    {
        std::string IdCoda;
        const char* TipoNotifica;
        bool NeedsAction;
        bool FromCache;
    } expected[] = {{refused, "NS", true, true},
                    {delivered, "RC", false, true},
                    {missed, "MC", false, false},
                    {"", "", false, false}};
    for (qsizetype i = 0; i < invoices.size(); ++i) {
        SCOPED_TRACE(i);
        const QJsonObject invoice = invoices[i].toObject();
        EXPECT_EQ(invoice.value(QStringLiteral("IdCoda")).toString().toStdString(), expected[i].IdCoda);
        EXPECT_EQ(invoice.value(QStringLiteral("TipoNotifica")).toString(), expected[i].TipoNotifica);
        EXPECT_EQ(invoice.value(QStringLiteral("needsAction")).toBool(), expected[i].NeedsAction);
        EXPECT_EQ(invoice.value(QStringLiteral("fromCache")).toBool(), expected[i].FromCache);
    }
    EXPECT_EQ(invoices[3].toObject().value(QStringLiteral("error")).toString(),
              "no queue identifier in the name: not asked");

    Backend->ClearRequests();
    EXPECT_EQ(Cli.Run({QStringLiteral("track"), QStringLiteral("--refresh")}).ExitCode, 3);
    EXPECT_EQ(Sent("FAEGetStatusbyId", "idcoda"), (std::vector<std::string>{delivered, refused, missed}));
}

TEST_F(TrackTest, ExitStatusSaysWhetherEverythingIsKnownAndFine)
{
    const std::string delivered =
        Archived(QStringLiteral("IT01234567890_00001"), {{"RC", "2024-03-06", "2024-03-06"}});
    // Older than --since: left out, so the backend, which does not know it, is never asked.
    const QString old = Inviate + QStringLiteral("/IT01234567890_00000_999.xml");
    WriteFile(old, "<x/>");
    QFile oldFile(old);
    ASSERT_TRUE(oldFile.open(QIODevice::ReadWrite));
    ASSERT_TRUE(oldFile.setFileTime(QDateTime(QDate(2020, 12, 31), QTime(23, 59)),
                                    QFileDevice::FileModificationTime));
    oldFile.close();

    const CliRun fine =
        Cli.Run({QStringLiteral("track"), QStringLiteral("--since"), QStringLiteral("2021-01-01")});
    EXPECT_EQ(fine.ExitCode, 0) << Describe(fine);
    EXPECT_EQ(Sent("FAEGetStatusbyId", "idcoda"), std::vector<std::string>{delivered});

    // The other invoice is asked too now, and the backend knows nothing of it.
    const CliRun unknown = Cli.Run({QStringLiteral("track")});
    EXPECT_EQ(unknown.ExitCode, 1) << Describe(unknown);
    EXPECT_TRUE(unknown.Out.contains(QStringLiteral("Fattura non trovata: 999"))) << Describe(unknown);
    EXPECT_TRUE(unknown.Out.contains(QStringLiteral("1 could not be asked")));

    Backend->ClearRequests();
    SetOutgoingFolder(QStringLiteral(" \t"));
    const CliRun empty = Cli.Run({QStringLiteral("track")});
    EXPECT_EQ(empty.ExitCode, 2) << Describe(empty);
    EXPECT_TRUE(Backend->Requests().empty());
}

// Received invoices held by the substitute besides its three seeded ones.
class PullTest : public CliBackendTest
{
protected:
    void SetUp() override
    {
        CliBackendTest::SetUp();
        if (IsSkipped())
            return;
        StartBackend(3);
        Into = Cli.Dir.filePath(QStringLiteral("ricevute"));
        ASSERT_TRUE(QDir().mkpath(Into));
        // Same name as the seeded 900001, other bytes: both must arrive.
        Twin = Backend->AddReceivedInvoice(kReceivedXml, "<gemella/>", "2024-04-01", "08:00:00");
        for (int i = 1; i <= 3; ++i)
            Backend->AddReceivedInvoice("IT0444444444" + std::to_string(i) + "_0001.xml",
                                        "<f n=\"" + std::to_string(i) + "\"/>", "2024-04-02", "08:00:00");
    }

    CliRun Pull() const { return Cli.Run({QStringLiteral("pull"), QStringLiteral("--into"), Into}); }

    // Every file of the folder (hidden ones too) with its bytes.
    std::map<std::string, std::string> Files() const
    {
        std::map<std::string, std::string> files;
        for (const QString& name : QDir(Into).entryList(QDir::Files | QDir::Hidden)) {
            QFile file(QDir(Into).filePath(name));
            EXPECT_TRUE(file.open(QIODevice::ReadOnly));
            files[name.toStdString()] = file.readAll().toStdString();
        }
        return files;
    }

    // What the folder must hold: each received invoice once, the twin under its identifier.
    std::map<std::string, std::string> Expected() const
    {
        std::map<std::string, std::string> files;
        for (const substitute::StoredInvoice& invoice : Backend->ReceivedInvoices()) {
            std::string name = invoice.FileName;
            if (invoice.IdCoda == Twin)
                name.replace(name.rfind(".xml"), 4, "_" + Twin + ".xml");
            files[name] = invoice.Content;
        }
        return files;
    }

    QString Into;
    std::string Twin;
};

// Pages of at most three for seven invoices, advanced by what each one holds; every document once,
// the second of a name under its identifier; a pull after them asks for no document, also after
// the accounting program took a file away.
TEST_F(PullTest, PagesByWhatEachAnswerHoldsAndFetchesEachInvoiceOnce)
{
    // The three received on 2 April first: --since is the receipt date, that day included.
    const CliRun recent = Cli.Run(
        {QStringLiteral("pull"), QStringLiteral("--into"), Into, QStringLiteral("--since=2024-04-02")});
    ASSERT_EQ(recent.ExitCode, 0) << Describe(recent);
    EXPECT_EQ(recent.Out, Into + QStringLiteral(": 3 new, 0 already there, 0 failed\n"));
    EXPECT_EQ(Sent("FAEPassivaSearch", "RicezioneDataDa"), std::vector<std::string>{"2024-04-02"});

    Backend->ClearRequests();
    const CliRun run = Pull();
    ASSERT_EQ(run.ExitCode, 0) << Describe(run);
    EXPECT_EQ(run.Out, Into + QStringLiteral(": 4 new, 3 already there, 0 failed\n"));
    EXPECT_TRUE(run.Err.isEmpty()) << Describe(run);
    EXPECT_EQ(Sent("FAEPassivaSearch", "RisultatiOffset"), (std::vector<std::string>{"0", "3", "6"}));
    EXPECT_EQ(Sent("FAEGetXmlbyId", "idcoda").size(), 4u);
    std::map<std::string, std::string> files = Files();
    ASSERT_EQ(files.count(".vorn-pull.index"), 1u);
    files.erase(".vorn-pull.index");
    EXPECT_EQ(files, Expected());

    Backend->ClearRequests();
    ASSERT_TRUE(QFile::remove(QDir(Into).filePath(QLatin1String(kReceivedXml))));
    const CliRun again = Pull();
    EXPECT_EQ(again.ExitCode, 0) << Describe(again);
    EXPECT_EQ(again.Out, Into + QStringLiteral(": 0 new, 7 already there, 0 failed\n"));
    EXPECT_EQ(Sent("FAEPassivaSearch", "RisultatiOffset"), (std::vector<std::string>{"0", "3", "6"}));
    EXPECT_TRUE(Sent("FAEGetXmlbyId", "idcoda").empty());
    EXPECT_FALSE(QFile::exists(QDir(Into).filePath(QLatin1String(kReceivedXml))));
}

// One document the backend cannot give: the others arrive, the exit status is 1, and the next pull
// asks for that one only.
TEST_F(PullTest, AFailedInvoiceIsTheOnlyOneAskedForAgain)
{
    const std::string empty = Backend->AddReceivedInvoice("vuota.xml", "", "2024-04-03", "08:00:00");
    const CliRun run = Pull();
    EXPECT_EQ(run.ExitCode, 1) << Describe(run);
    EXPECT_EQ(run.Out, Into + QStringLiteral(": 7 new, 0 already there, 1 failed\n"));
    EXPECT_EQ(run.Err,
              QStringLiteral("vorn-cli: invoice %1 (vuota.xml): the backend sent an empty document\n")
                  .arg(QString::fromStdString(empty)));

    Backend->ClearRequests();
    const CliRun again = Pull();
    EXPECT_EQ(again.ExitCode, 1) << Describe(again);
    EXPECT_EQ(again.Out, Into + QStringLiteral(": 0 new, 7 already there, 1 failed\n"));
    EXPECT_EQ(Sent("FAEGetXmlbyId", "idcoda"), std::vector<std::string>{empty});
    EXPECT_FALSE(QFile::exists(QDir(Into).filePath(QStringLiteral("vuota.xml"))));
}

// Two pulls released at the same moment: one fetches, the other finds everything there; no
// document twice, no temporary left.
TEST_F(PullTest, TwoPullsAtOnceFetchEachDocumentOnce)
{
    const QByteArray index = QFile::encodeName(QDir(Into).filePath(QStringLiteral(".vorn-pull.index")));
    const TUniqueFd held(::open(index.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    ASSERT_TRUE(held.IsOpen());
    struct flock whole
    {
    };
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    ASSERT_EQ(::fcntl(held.Get(), F_OFD_SETLK, &whole), 0);

    std::vector<std::unique_ptr<QProcess>> pulls;
    for (int i = 0; i < 2; ++i) {
        pulls.push_back(std::make_unique<QProcess>());
        pulls.back()->setWorkingDirectory(Cli.Dir.path());
        pulls.back()->start(QStringLiteral(VORN_CLI_PATH),
                            {QStringLiteral("pull"), QStringLiteral("--into"), Into});
        ASSERT_TRUE(pulls.back()->waitForStarted());
    }
    // Both are past their start and waiting for the folder when it is let go.
    QThread::msleep(500);
    whole.l_type = F_UNLCK;
    ASSERT_EQ(::fcntl(held.Get(), F_OFD_SETLK, &whole), 0);

    std::vector<std::string> summaries;
    for (const auto& pull : pulls) {
        ASSERT_TRUE(pull->waitForFinished(60000));
        EXPECT_EQ(pull->exitCode(), 0) << pull->readAllStandardError().toStdString();
        summaries.push_back(pull->readAllStandardOutput().toStdString());
    }
    std::sort(summaries.begin(), summaries.end());
    const std::string into = Into.toStdString();
    EXPECT_EQ(summaries, (std::vector<std::string>{into + ": 0 new, 7 already there, 0 failed\n",
                                                   into + ": 7 new, 0 already there, 0 failed\n"}));
    EXPECT_EQ(Sent("FAEGetXmlbyId", "idcoda").size(), 7u);
    std::map<std::string, std::string> files = Files();
    files.erase(".vorn-pull.index");
    EXPECT_EQ(files, Expected());
}

} // namespace
