// vorn-cli pull against the substitute: received invoices into their folder, each once.

#include "tests/cli/CliProgram.h"
#include "util/UniqueFd.h"

#include <QDir>
#include <QFile>
#include <QThread>

#include <algorithm>
#include <fcntl.h>
#include <map>

#include <gtest/gtest.h>

namespace {

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

// --max bounds one run, which still exits 0 and says that more is left; the next run fetches the
// rest, none twice.
TEST_F(PullTest, MaxBoundsOneRunAndTheNextFetchesTheRest)
{
    const CliRun bounded = Cli.Run({QStringLiteral("pull"), QStringLiteral("--into"), Into,
                                    QStringLiteral("--max"), QStringLiteral("2")});
    EXPECT_EQ(bounded.ExitCode, 0) << Describe(bounded);
    EXPECT_EQ(bounded.Out, Into + QStringLiteral(": 2 new, 0 already there, 0 failed\n"));
    EXPECT_EQ(bounded.Err, "vorn-cli: stopped after 2 documents (--max); the next pull goes on from there\n");
    const CliRun rest = Pull();
    EXPECT_EQ(rest.ExitCode, 0) << Describe(rest);
    EXPECT_EQ(rest.Out, Into + QStringLiteral(": 5 new, 2 already there, 0 failed\n"));
    EXPECT_EQ(Sent("FAEGetXmlbyId", "idcoda").size(), 7u);
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
