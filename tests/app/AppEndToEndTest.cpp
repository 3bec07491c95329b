// The real VORN_Automatic program, started in a working directory of its own against the substitute
// backend, which this test process serves on the build's service port with the fixture's PKI.

#include "config/ConfigFile.h"
#include "config/Settings.h"
#include "dispatch/DispatchJournal.h"
#include "received/ReceivedPull.h"
#include "substitute/SubstituteBackend.h"
#include "tests/support/EndToEnd.h"
#include "tests/support/Files.h"
#include "tests/support/InvoiceFolders.h"
#include "tests/support/LogEntries.h"
#include "tests/support/ProgramEndToEnd.h"
#include "tests/support/Substitute.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <map>
#include <memory>
#include <random>
#include <vector>

namespace {

const QString kStopped = "Log Stop";

class AppEndToEndTest : public TProgramEndToEndTest
{
protected:
    void WriteConfig(const QString& level, const QString& password = EncodePassword(kTestPassword))
    {
        WriteConfigIn(Dir.path(), level, password);
    }

    // The settings of one program in workDir: the test's outgoing folder unless another is given,
    // and the received folder when one is.
    void WriteConfigIn(const QString& workDir, const QString& level,
                       const QString& password = EncodePassword(kTestPassword), const QString& outgoing = {},
                       const QString& received = {})
    {
        WriteBytes(workDir + "/VORN_Automatic.ini",
                   ("[DLV]\r\nDatabase=" + QString(kTestDatabase) + "\r\nUsername=" + kTestUser +
                    "\r\nPassword=" + password + "\r\nAutomaticMode=1\r\n[FE]\r\nCartellaDaInviare=" +
                    (outgoing.isEmpty() ? Folders->Outgoing() : outgoing) +
                    (received.isEmpty() ? QString() : "\r\nCartellaRicevute=" + received) +
                    "\r\nCheckIntervalSec=1\r\n[Level]\r\nLevel=" + level + "\r\n")
                       .toUtf8());
    }

    // One of the programs (the window's by default) in workDir, its output kept there.
    static std::unique_ptr<QProcess> Launch(const QString& workDir,
                                            const QString& program = QStringLiteral(VORN_AUTOMATIC_PROGRAM),
                                            const QStringList& arguments = {})
    {
        auto process = std::make_unique<QProcess>();
        process->setProgram(program);
        process->setArguments(arguments);
        process->setWorkingDirectory(workDir);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        // Not under a service manager: the agent logs to its file only.
        environment.remove("JOURNAL_STREAM");
        environment.remove("INVOCATION_ID");
        process->setProcessEnvironment(environment);
        process->setStandardOutputFile(workDir + "/stdout.txt", QIODevice::Append);
        process->setStandardErrorFile(workDir + "/stderr.txt", QIODevice::Append);
        process->start();
        EXPECT_TRUE(process->waitForStarted(10000));
        return process;
    }

    void Start() { Process = Launch(Dir.path()); }

    // Sends the signal and waits for the program to end; its exit code (-1 when it did not end).
    static int Stop(QProcess& process, int signal)
    {
        ::kill(static_cast<pid_t>(process.processId()), signal);
        if (!process.waitForFinished(30000))
            return -1;
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    int Stop(int signal) { return Stop(*Process, signal); }

    std::vector<LogEntry> Log(const QString& workDir = {}) const
    {
        return ReadLogEntries((workDir.isEmpty() ? Dir.path() : workDir) + "/VORN_Automatic.log");
    }

    std::vector<QString> LogMessages(const QString& tag = "   ") const
    {
        std::vector<QString> messages;
        for (const LogEntry& line : Log())
            if (line.Tag == tag)
                messages.push_back(line.Message);
        return messages;
    }

    bool Logged(const QString& message, const QString& tag = "   ") const
    {
        const auto messages = LogMessages(tag);
        return std::find(messages.begin(), messages.end(), message) != messages.end();
    }

    QString Diagnostics(const QString& workDir = {}) const
    {
        return QString::fromUtf8(ReadBytes((workDir.isEmpty() ? Dir.path() : workDir) + "/stderr.txt"));
    }

    bool NoInvoiceLeft() const { return Folders->NoInvoiceLeft(); }
};

TEST_F(AppEndToEndTest, AutomaticStartArchivesTheInvoicesAndLogsTheRun)
{
    WriteConfig("normal");
    Folders->Drop("IT01234567890_00001.xml");
    Folders->Drop("rotta.XML", "<FatturaElettronica><aperta>");
    Folders->Drop("notes.txt", "not an invoice");

    Start();
    ASSERT_TRUE(WaitUntil([&] { return NoInvoiceLeft(); }, 60000)) << Diagnostics().toStdString();
    // A stop would cut off the upload in progress: it comes once the refusal is archived.
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(Folders->InErrori("rotta.XML_ERRORE.log")); }, 10000));
    EXPECT_EQ(Stop(SIGTERM), 0) << Diagnostics().toStdString();

    const auto invoices = Backend->Invoices();
    ASSERT_EQ(invoices.size(), 1u);
    EXPECT_EQ(InvoiceFolders::Files(Folders->Inviate()),
              QStringList{"IT01234567890_00001_" + QString::fromStdString(invoices[0].IdCoda) + ".xml"});
    EXPECT_EQ(InvoiceFolders::Files(Folders->Errori(), true),
              (QStringList{"rotta.XML", "rotta.XML_ERRORE.log"}));
    EXPECT_TRUE(ReadBytes(Folders->InErrori("rotta.XML_ERRORE.log"))
                    .startsWith("Errore durante tentativo di invio fattura: rotta.XML\r\nMessaggio: \r\n"
                                "Errore in invio fattura: Il file rotta.XML non \xe8 un XML ben formato"));
    EXPECT_EQ(InvoiceFolders::Files(Folders->Outgoing()), QStringList{"notes.txt"});

    // Uploads in the order of the listing; the refusal is in its error text, not in the log.
    EXPECT_EQ(
        LogMessages(),
        (std::vector<QString>{"Log Start", "Log Level: WARNING", "Log Level: NORMAL",
                              "Caricamento configurazione", "Modalità automatica attivata",
                              "InviaFattura: IT01234567890_00001.xml", "InviaFattura: rotta.XML", kStopped}));
    EXPECT_TRUE(LogMessages("ERR").empty());
}

TEST_F(AppEndToEndTest, ATransportFailureLeavesTheFilesForTheNextTick)
{
    WriteConfig("normal");
    Folders->Drop("A.xml");
    Folders->Drop("B.xml");
    Backend->PushAnswer(DroppedConnection());

    Start();
    ASSERT_TRUE(WaitUntil([&] { return !LogMessages("ERR").empty(); }, 60000)) << Diagnostics().toStdString();
    // The failed tick ended at the first file: both are still there, only one was sent.
    EXPECT_EQ(InvoiceFolders::Files(Folders->Outgoing()), (QStringList{"A.xml", "B.xml"}));
    EXPECT_EQ(Backend->Requests().size(), 1u);

    // The next tick sends both.
    ASSERT_TRUE(WaitUntil([&] { return NoInvoiceLeft(); }, 60000));
    EXPECT_EQ(Stop(SIGTERM), 0);
    EXPECT_EQ(InvoiceFolders::Files(Folders->Inviate()), (QStringList{"A_1.xml", "B_2.xml"}));
    EXPECT_EQ(LogMessages("ERR").size(), 1u);
    EXPECT_EQ(LogMessages().back(), kStopped);
}

TEST_F(AppEndToEndTest, AFailedMoveKeepsTheFileWhichIsNeverSentAgain)
{
    WriteConfig("normal");
    Folders->Place(Folders->InInviate("A_1.xml"), "an earlier invoice that took the name");
    Folders->Drop("A.xml");

    Start();
    const QString failure =
        "Errore in archiviazione fattura dopo invio: A.xml -> " + Folders->InInviate("A_1.xml");
    // The first tick's move fails, and so does the next tick's attempt to archive the accepted file.
    ASSERT_TRUE(WaitUntil([&] { return LogMessages("ERR").size() >= 2; }, 60000))
        << Diagnostics().toStdString();
    EXPECT_EQ(Backend->Invoices().size(), 1u);
    EXPECT_EQ(InvoiceFolders::Files(Folders->Outgoing()), QStringList{"A.xml"});

    // Once the name is free the invoice is archived under the identifier it was given, unsent.
    ASSERT_TRUE(QFile::rename(Folders->InInviate("A_1.xml"), Folders->InErrori("A_1.xml")));
    ASSERT_TRUE(WaitUntil([&] { return NoInvoiceLeft(); }, 60000));
    EXPECT_EQ(Stop(SIGTERM), 0);

    EXPECT_EQ(LogMessages("ERR")[0], failure);
    EXPECT_EQ(LogMessages("ERR")[1], failure);
    EXPECT_TRUE(Logged("Fattura già accettata (IdCodaInvio 1), archiviata senza nuovo invio: A.xml"));
    EXPECT_EQ(Backend->Invoices().size(), 1u);
    EXPECT_EQ(InvoiceFolders::Files(Folders->Inviate()), QStringList{"A_1.xml"});
}

TEST_F(AppEndToEndTest, ALoadingFailureIsLoggedAndPreventsTheAutomaticStart)
{
    WriteConfig("normal", "////");
    Folders->Drop("A.xml");

    Start();
    ASSERT_TRUE(WaitUntil([&] { return !LogMessages("ERR").empty(); }, 30000)) << Diagnostics().toStdString();
    // Longer than the automatic start's 2 s, a tick and its pause.
    QThread::msleep(5000);
    // The message box is still open: the stop request must close it too.
    EXPECT_EQ(Stop(SIGINT), 0) << Diagnostics().toStdString();

    EXPECT_EQ(LogMessages("ERR"),
              std::vector<QString>{
                  "No mapping for the Unicode character exists in the target multi-byte code page"});
    EXPECT_FALSE(Logged("Modalità automatica attivata"));
    EXPECT_TRUE(Backend->Requests().empty());
    EXPECT_EQ(InvoiceFolders::Files(Folders->Outgoing()), QStringList{"A.xml"});
    EXPECT_EQ(LogMessages().back(), kStopped);
}

// Killed without warning at random moments of its work, the program never leaves an invoice in two
// places or none, nor a cut-off copy.
TEST_F(AppEndToEndTest, KilledDuringDispatchEveryInvoiceIsInExactlyOnePlace)
{
    WriteConfig("warning");
    for (int i = 0; i < 60; ++i) {
        const QString name = QStringLiteral("IT01234567890_%1.xml").arg(i, 5, 10, QLatin1Char('0'));
        if (i % 6 == 5)
            Folders->Drop(name, "<rotta numero=\"" + QByteArray::number(i) + "\">");
        else
            Folders->Drop(name);
    }
    const unsigned seed = std::random_device()();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);

    QElapsedTimer clock;
    clock.start();
    int rounds = 0;
    // Uploads whose answer the program may never have read: the kill landed while they were in
    // flight. Only those may reach the backend a second time.
    std::map<std::string, int> inFlightAtKill;
    while (rounds < 5 && !NoInvoiceLeft() && clock.elapsed() < 90000) {
        ++rounds;
        // A few uploads into the round, then a moment more: a fixed time could see a fast machine
        // through all the invoices in the first round.
        const size_t requestsBefore = Backend->Requests().size();
        const size_t uploads = std::uniform_int_distribution<size_t>(1, 6)(random);
        Start();
        ASSERT_TRUE(WaitUntil(
            [&] { return Backend->Requests().size() >= requestsBefore + uploads || NoInvoiceLeft(); }, 30000))
            << Diagnostics().toStdString();
        QThread::msleep(std::uniform_int_distribution<int>(0, 30)(random));
        EXPECT_EQ(Stop(SIGKILL), -1);
        SCOPED_TRACE("round " + std::to_string(rounds));
        const auto requests = Backend->Requests();
        if (!requests.empty() && !requests.back().Files.empty()) {
            const std::string& last = requests.back().Files.front().FileName;
            TDispatchJournal journal(Folders->Outgoing());
            journal.Load();
            const bool recorded = std::any_of(
                journal.Entries().begin(), journal.Entries().end(),
                [&](const TAcceptedUpload& entry) { return entry.FileName.toStdString() == last; });
            if (!recorded && QFileInfo::exists(Folders->InOutgoing(QString::fromStdString(last))))
                ++inFlightAtKill[last];
        }
        Folders->ExpectEveryInvoiceInExactlyOnePlace();
        // What Inviate holds, the backend accepted.
        for (const QString& name : InvoiceFolders::Files(Folders->Inviate())) {
            const QString idCoda = QRegularExpression("_(\\d+)\\.xml$").match(name).captured(1);
            bool known = false;
            for (const substitute::StoredInvoice& invoice : Backend->Invoices())
                known = known || QString::fromStdString(invoice.IdCoda) == idCoda;
            EXPECT_TRUE(known) << name.toStdString();
        }
    }
    EXPECT_GE(rounds, 2);
    std::map<std::string, int> acceptances;
    for (const substitute::StoredInvoice& invoice : Backend->Invoices())
        ++acceptances[invoice.FileName];
    for (const auto& [name, count] : acceptances)
        EXPECT_LE(count, 1 + inFlightAtKill[name]) << name << " was accepted more than once";
}

// Two programs on one outgoing folder (two sessions, a double start, or the window beside the
// agent of a server): one cycle at a time serves it, and every invoice reaches the backend once.
struct TTwoPrograms
{
    const char* Name;
    const char* Second; // the program beside the window
    int Invoices;
    // A slow backend keeps the first pass going while the other program starts its ticks.
    std::chrono::milliseconds AnswerDelay;
};

class TwoProgramsTest : public AppEndToEndTest, public testing::WithParamInterface<TTwoPrograms>
{};

TEST_P(TwoProgramsTest, OnOneFolderSendEachInvoiceOnce)
{
    const TTwoPrograms& row = GetParam();
    if (row.AnswerDelay.count() > 0) {
        substitute::Options options = SubstituteOptions(EndToEndPki(), EndToEndPort());
        options.AnswerDelay = row.AnswerDelay;
        Backend.reset();
        Backend = std::make_unique<substitute::Backend>(options);
    }
    for (int i = 0; i < row.Invoices; ++i)
        Folders->Drop(QStringLiteral("IT01234567890_%1.xml").arg(i, 5, 10, QLatin1Char('0')));
    const QString first = Dir.path() + "/primo";
    const QString second = Dir.path() + "/secondo";
    for (const QString& workDir : {first, second}) {
        ASSERT_TRUE(QDir().mkpath(workDir));
        WriteConfigIn(workDir, "warning");
    }
    std::unique_ptr<QProcess> one = Launch(first);
    std::unique_ptr<QProcess> two = Launch(second, QString::fromUtf8(row.Second));
    ASSERT_TRUE(WaitUntil([&] { return NoInvoiceLeft(); }, 120000))
        << Diagnostics(first).toStdString() << Diagnostics(second).toStdString();
    EXPECT_EQ(Stop(*one, SIGTERM), 0);
    EXPECT_EQ(Stop(*two, SIGTERM), 0);

    std::map<std::string, int> acceptances;
    for (const substitute::StoredInvoice& invoice : Backend->Invoices())
        ++acceptances[invoice.FileName];
    EXPECT_EQ(acceptances.size(), size_t(row.Invoices));
    for (const auto& [name, count] : acceptances)
        EXPECT_EQ(count, 1) << name;
    EXPECT_EQ(InvoiceFolders::Files(Folders->Inviate()).size(), row.Invoices);

    // The one that found the folder served said so.
    int skipped = 0;
    for (const QString& workDir : {first, second})
        for (const LogEntry& line : Log(workDir))
            if (line.Tag == "WRN" &&
                line.Message.startsWith("Invio saltato: la cartella " + Folders->Outgoing()))
                ++skipped;
    EXPECT_GE(skipped, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Programs, TwoProgramsTest,
    testing::Values(TTwoPrograms{"TwoWindows", VORN_AUTOMATIC_PROGRAM, 300, std::chrono::milliseconds(0)},
                    TTwoPrograms{"AWindowAndAnAgent", VORN_AGENT_PROGRAM, 40, std::chrono::milliseconds(100)}),
    [](const testing::TestParamInfo<TTwoPrograms>& info) { return std::string(info.param.Name); });

// The window, an agent and vorn-cli pull, each with its own working directory and settings, on one
// received folder: the index's lock lets one pull at a time in, so each document is fetched once.
TEST_F(AppEndToEndTest, AWindowAnAgentAndTheCommandLinePullEachDocumentOnce)
{
    constexpr int kGenerated = 200;
    for (int i = 1; i <= kGenerated; ++i)
        Backend->AddReceivedInvoice(QStringLiteral("IT01111111111_G%1.xml").arg(i, 6, 10, QLatin1Char('0'))
                                        .toStdString(),
                                    "<f n=\"" + std::to_string(i) + "\"/>", "2024-05-01", "08:00:00");
    const QString received = Dir.path() + "/ricevute";
    ASSERT_TRUE(QDir().mkpath(received));
    const QString window = Dir.path() + "/finestra";
    const QString agent = Dir.path() + "/agente";
    const QString cli = Dir.path() + "/riga di comando";
    for (const QString& workDir : {window, agent, cli}) {
        // An outgoing folder each, empty: only the received passes meet.
        const InvoiceFolders outgoing(workDir + "/da inviare");
        WriteConfigIn(workDir, "normal", EncodePassword(kTestPassword), outgoing.Outgoing(), received);
    }
    const auto documents = [&] {
        return QDir(received).entryList(QDir::Files | QDir::Hidden).filter(QRegularExpression("^[^.]")).size();
    };
    std::unique_ptr<QProcess> one = Launch(window);
    std::unique_ptr<QProcess> two = Launch(agent, QStringLiteral(VORN_AGENT_PROGRAM));
    // The command line comes while a pass holds the folder, and waits for it.
    ASSERT_TRUE(WaitUntil([&] { return documents() > 0; }, 60000))
        << Diagnostics(window).toStdString() << Diagnostics(agent).toStdString();
    std::unique_ptr<QProcess> three = Launch(cli, QStringLiteral(VORN_CLI_PROGRAM), {"pull"});
    ASSERT_TRUE(three->waitForFinished(60000));
    EXPECT_EQ(three->exitCode(), 0) << ReadBytes(cli + "/stderr.txt").toStdString();
    const std::vector<substitute::StoredInvoice> invoices = Backend->ReceivedInvoices();
    ASSERT_TRUE(WaitUntil([&] { return documents() == qsizetype(invoices.size()); }, 30000));
    // A tick more of each, which finds nothing new.
    QThread::msleep(1500);
    EXPECT_EQ(Stop(*one, SIGTERM), 0);
    EXPECT_EQ(Stop(*two, SIGTERM), 0);

    // Every document once, whole, under its name.
    QStringList expected;
    for (const substitute::StoredInvoice& invoice : invoices) {
        const QString name = QString::fromStdString(invoice.FileName);
        expected << name;
        EXPECT_EQ(ReadBytes(received + "/" + name).toStdString(), invoice.Content) << invoice.FileName;
    }
    expected << kPullIndexFileName;
    expected.sort();
    EXPECT_EQ(QDir(received).entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
    // Asked for once each, and nothing else asked for.
    std::map<std::string, int> once;
    for (const substitute::StoredInvoice& invoice : invoices)
        once[invoice.IdCoda] = 1;
    EXPECT_EQ(Backend->Downloads(), once);

    // What the three said they brought adds up to the whole.
    const QRegularExpression brought("^(\\d+) fatture ricevute in " + QRegularExpression::escape(received) + "$");
    qsizetype told = 0;
    for (const QString& workDir : {window, agent})
        for (const LogEntry& line : Log(workDir))
            if (const auto match = brought.match(line.Message); line.Tag == "   " && match.hasMatch())
                told += match.captured(1).toLongLong();
    const QString summary = QString::fromUtf8(ReadBytes(cli + "/stdout.txt"));
    const auto cliNew = QRegularExpression("^" + QRegularExpression::escape(received) + ": (\\d+) new, ")
                            .match(summary);
    ASSERT_TRUE(cliNew.hasMatch()) << summary.toStdString();
    EXPECT_EQ(told + cliNew.captured(1).toLongLong(), qsizetype(invoices.size())) << summary.toStdString();
}

} // namespace
