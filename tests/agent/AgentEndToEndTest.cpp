// The real vorn-agent program, started in a working directory of its own against the substitute
// backend, which this test process serves on the build's service port with the fixture's PKI.

#include "config/Settings.h"
#include "dispatch/OutgoingDispatch.h"
#include "substitute/SubstituteBackend.h"
#include "tests/support/EndToEnd.h"
#include "tests/support/Files.h"
#include "tests/support/InvoiceFolders.h"
#include "tests/support/LogEntries.h"
#include "tests/support/ProgramEndToEnd.h"
#include "tests/support/Substitute.h"
#include "util/FileLock.h"
#include "util/Text.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <vector>

namespace {

class AgentEndToEndTest : public TProgramEndToEndTest
{
protected:
    void WriteConfig(int intervalSec, const QString& folder = QString(), const QString& level = "normal")
    {
        WriteBytes(Dir.path() + "/VORN_Automatic.ini",
                   ("[DLV]\r\nDatabase=" + QString(kTestDatabase) + "\r\nUsername=" + kTestUser +
                    "\r\nPassword=" + EncodePassword(kTestPassword) +
                    "\r\n[FE]\r\nCartellaDaInviare=" + (folder.isNull() ? Folders->Outgoing() : folder) +
                    "\r\nCheckIntervalSec=" + QString::number(intervalSec) +
                    "\r\n[Level]\r\nLevel=" + level + "\r\n")
                       .toUtf8());
    }

    // The agent in the test's folder; journal: started as a service manager starts it.
    void Start(const QStringList& arguments = {}, bool journal = false)
    {
        Process = std::make_unique<QProcess>();
        Process->setProgram(QStringLiteral(VORN_AGENT_PROGRAM));
        Process->setArguments(arguments);
        Process->setWorkingDirectory(Dir.path());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("JOURNAL_STREAM");
        environment.remove("INVOCATION_ID");
        if (journal)
            environment.insert("INVOCATION_ID", "0123456789abcdef0123456789abcdef");
        Process->setProcessEnvironment(environment);
        Process->start();
        ASSERT_TRUE(Process->waitForStarted(10000));
    }

    // The exit code once it has ended by itself (-1 when it did not, or not normally).
    int Finish(int timeoutMs = 60000)
    {
        if (!Process->waitForFinished(timeoutMs))
            return -1;
        return Process->exitStatus() == QProcess::NormalExit ? Process->exitCode() : -1;
    }

    int Stop(int signal)
    {
        ::kill(static_cast<pid_t>(Process->processId()), signal);
        return Finish(30000);
    }

    void Signal(int signal) const { ::kill(static_cast<pid_t>(Process->processId()), signal); }

    // Every line of the log as "tag message", the tag being "   ", "WRN" or "ERR".
    QStringList Log() const
    {
        QStringList lines;
        for (const LogEntry& entry : ReadLogEntries(Dir.path() + "/VORN_Automatic.log"))
            lines << entry.Tag + u' ' + entry.Message;
        return lines;
    }

    bool Logged(const QString& line) const { return Log().contains(line); }
    qsizetype LoggedTimes(const QString& line) const { return Log().count(line); }

    QString Errors() const { return QString::fromUtf8(Process->readAllStandardError()); }

    bool NoInvoiceLeft() const { return Folders->NoInvoiceLeft(); }
};

TEST_F(AgentEndToEndTest, ItDispatchesAtTheIntervalAndSigtermStopsItWithTheLogsStopLine)
{
    WriteConfig(1);
    Folders->Drop("IT01234567890_00001.xml");
    Folders->Drop("rotta.xml", "<FatturaElettronica><aperta>");

    Start();
    ASSERT_TRUE(WaitUntil([&] { return NoInvoiceLeft(); }, 60000)) << Errors().toStdString();
    EXPECT_EQ(Stop(SIGTERM), 0);

    const auto invoices = Backend->Invoices();
    ASSERT_EQ(invoices.size(), 1u);
    EXPECT_EQ(InvoiceFolders::Files(Folders->Inviate()),
              QStringList{"IT01234567890_00001_" + QString::fromStdString(invoices[0].IdCoda) + ".xml"});
    EXPECT_EQ(InvoiceFolders::Files(Folders->Errori(), true),
              (QStringList{"rotta.xml", "rotta.xml_ERRORE.log"}));
    // The window's log of the same run, line for line, and the refusal its notice tells.
    const QString refusal = QString::fromLatin1(ReadBytes(Folders->InErrori("rotta.xml_ERRORE.log")))
                                .section("\r\n", 2, 2)
                                .mid(QString("Errore in invio fattura: ").size());
    EXPECT_EQ(Log(), (QStringList{"    Log Start", "    Log Level: WARNING", "    Log Level: NORMAL",
                                  "    Caricamento configurazione", "    Modalità automatica attivata",
                                  "    InviaFattura: IT01234567890_00001.xml", "    InviaFattura: rotta.xml",
                                  "WRN Fattura rifiutata: rotta.xml - " + refusal, "    Log Stop"}));
    EXPECT_EQ(Errors(), QString());
}

TEST_F(AgentEndToEndTest, SigtermEndsAnUploadInProgressWithinSecondsAndTheInvoiceStays)
{
    WriteConfig(1);
    for (const char* name : {"A.xml", "B.xml", "C.xml"})
        Folders->Drop(name);
    // A byte every two seconds: the agent would wait for minutes if the stop did not reach the
    // transfer itself.
    substitute::ScriptedAnswer trickle = Accepted("71");
    trickle.TrickleBytes = 1;
    trickle.TrickleInterval = std::chrono::milliseconds(2000);
    Backend->PushAnswer(trickle);

    Start();
    ASSERT_TRUE(WaitUntil([&] { return !Backend->Requests().empty(); }, 60000)) << Errors().toStdString();
    QElapsedTimer stopping;
    stopping.start();
    EXPECT_EQ(Stop(SIGTERM), 0);
    EXPECT_LT(stopping.elapsed(), 5000);

    EXPECT_EQ(Backend->Requests().size(), 1u);
    EXPECT_EQ(InvoiceFolders::Files(Folders->Inviate()), QStringList());
    EXPECT_EQ(InvoiceFolders::Files(Folders->Outgoing()), (QStringList{"A.xml", "B.xml", "C.xml"}))
        << "an upload that was cut off is sent again at the next start";
    EXPECT_TRUE(Logged("ERR Richiesta interrotta: il programma si sta chiudendo")) << Log().join('\n').toStdString();
    EXPECT_EQ(Log().last(), "    Log Stop");
}

TEST_F(AgentEndToEndTest, SighupReadsTheSettingsAgainAndKeepsTheRunningOnesWhenTheyFailTheCheck)
{
    WriteConfig(3600);
    Start();
    ASSERT_TRUE(WaitUntil([&] { return Logged("    Modalità automatica attivata"); }, 30000));
    Folders->Drop("A.xml");
    QThread::msleep(1500);
    EXPECT_TRUE(Backend->Requests().empty()) << "the first tick is an hour away";

    // A shorter interval takes effect at once: the count starts again with the new period.
    WriteConfig(1);
    Signal(SIGHUP);
    ASSERT_TRUE(WaitUntil([&] { return NoInvoiceLeft(); }, 30000)) << Errors().toStdString();
    EXPECT_EQ(LoggedTimes("    Caricamento configurazione"), 2);

    // Settings that fail the check are logged; the agent goes on with the ones it has, its log
    // level included.
    WriteConfig(1, Dir.path() + "/non esiste", "error");
    Signal(SIGHUP);
    ASSERT_TRUE(WaitUntil(
        [&] { return Logged("ERR Cartella indicata per le fatture da inviare non esiste"); }, 30000));
    Folders->Drop("B.xml");
    ASSERT_TRUE(WaitUntil([&] { return NoInvoiceLeft(); }, 30000)) << Errors().toStdString();
    EXPECT_EQ(Backend->Invoices().size(), 2u);
    EXPECT_TRUE(Logged("    InviaFattura: B.xml")) << "the rejected file's level was applied";

    EXPECT_EQ(Stop(SIGTERM), 0);
    EXPECT_EQ(Log().last(), "    Log Stop");
}

// The window (or a second agent) serving the same folder holds its lock: the agent's pass sends
// nothing, says why, and the next pass does the work.
TEST_F(AgentEndToEndTest, AFolderServedByAnotherDispatcherIsLeftToIt)
{
    WriteConfig(1);
    Folders->Drop("altro.xml");
    {
        const TFileLock other = TFileLock::TryAcquire(Folders->InOutgoing(kDispatchLockName));
        ASSERT_EQ(other.State(), TFileLock::TState::Held);
        Start({"--once"});
        EXPECT_EQ(Finish(), 0);
        EXPECT_TRUE(Backend->Requests().empty());
        EXPECT_EQ(Log().filter(QRegularExpression("^WRN Invio saltato: la cartella ")).size(), 1);
    }
    Start({"--once"});
    EXPECT_EQ(Finish(), 0);
    EXPECT_EQ(Backend->Invoices().size(), 1u);
    EXPECT_TRUE(NoInvoiceLeft());
}

TEST_F(AgentEndToEndTest, OnceExitsWithTheOutcomeOfOnePass)
{
    struct TRow
    {
        const char* Case;
        enum
        {
            Good,
            MissingFolder,
            NoFile
        } Config;
        bool DropConnection;
        bool Journal;
        int ExitCode;
        QString Failure; // the failure's message when the row fixes it; logged at error level
        bool FailingTold = false; // a failed pass starts a run of failures, which the log tells
    };
    const QString missing = "Cartella indicata per le fatture da inviare non esiste";
    const TRow rows[] = {
        {"the pass completes", TRow::Good, false, false, 0, {}},
        {"the transport fails", TRow::Good, true, false, 1, {}, true},
        {"the settings check fails", TRow::MissingFolder, false, false, 1, missing},
        {"no configuration file", TRow::NoFile, false, false, 1,
         Dir.path() + "/VORN_Automatic.ini not found: vorn-agent reads its settings from the configuration "
                      "file in its working directory"},
        {"under a service manager", TRow::Good, false, true, 0, {}},
        {"under a service manager, failing", TRow::MissingFolder, false, true, 1, missing},
        {"under a service manager, the transport fails", TRow::Good, true, true, 1, {}, true},
    };
    int index = 0;
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Case);
        // A folder of its own, so that what one row leaves is not sent by the next.
        InvoiceFolders folders(Dir.path() + "/pass " + QString::number(++index));
        folders.Drop("once.xml");
        QFile::remove(Dir.path() + "/VORN_Automatic.log");
        QFile::remove(Dir.path() + "/VORN_Automatic.ini");
        if (row.Config != TRow::NoFile)
            WriteConfig(1,
                        row.Config == TRow::MissingFolder ? Dir.path() + "/non esiste" : folders.Outgoing());
        if (row.DropConnection) {
            Backend->PushAnswer(DroppedConnection());
        }
        const size_t sentBefore = Backend->Invoices().size();

        Start({"--once"}, row.Journal);
        EXPECT_EQ(Finish(), row.ExitCode);
        const QString errors = Errors();
        const QStringList log = Log();
        EXPECT_EQ(log.last(), "    Log Stop");
        const bool sent = row.ExitCode == 0;
        EXPECT_EQ(Backend->Invoices().size(), sentBefore + (sent ? 1 : 0));
        EXPECT_EQ(InvoiceFolders::Files(folders.Outgoing()), sent ? QStringList() : QStringList{"once.xml"});
        folders.ExpectEveryInvoiceInExactlyOnePlace();

        const QStringList failures = log.filter(QRegularExpression("^ERR "));
        ASSERT_EQ(failures.size(), sent ? 0 : 1) << log.join('\n').toStdString();
        if (!row.Failure.isEmpty()) {
            EXPECT_EQ(failures[0], "ERR " + row.Failure);
        }
        EXPECT_EQ(log.filter(QRegularExpression("^WRN ")),
                  row.FailingTold ? QStringList{"WRN Invio fatture interrotto: " + failures[0].mid(4) +
                                                " - Nuovo tentativo a ogni controllo."}
                                  : QStringList());
        if (row.Journal) {
            // Every log line, and only those, with the journal's priority in front.
            QString expected;
            for (const QString& line : log)
                expected += (line.startsWith("ERR")   ? "<3>"
                             : line.startsWith("WRN") ? "<4>"
                                                      : "<6>") +
                            line.mid(4) + '\n';
            EXPECT_EQ(errors, expected);
        } else {
            EXPECT_EQ(errors, sent ? QString() : "vorn-agent: " + failures[0].mid(4) + '\n');
        }
    }
}

} // namespace
