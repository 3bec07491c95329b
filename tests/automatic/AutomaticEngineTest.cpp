// Automatic mode's engine in process: the settings check, the period rule, the tick and its passes,
// what it tells its front end (through the recorder), stop and reload; against the substitute
// backend on an ephemeral loopback port.

#include "automatic/AutomaticEngine.h"
#include "backend/DVBackendService.h"
#include "log/LogFile.h"
#include "received/ReceivedPull.h"
#include "substitute/SubstituteBackend.h"
#include "tests/support/Files.h"
#include "tests/support/InvoiceFolders.h"
#include "tests/support/LogEntries.h"
#include "tests/support/RecordingObserver.h"
#include "tests/support/Substitute.h"
#include "tests/support/TestClient.h"
#include "util/Errors.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

void RunEventsFor(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

class AutomaticEngineTest : public testing::Test
{
protected:
    AutomaticEngineTest()
        : Backend(SubstituteOptions()), Client(LoopbackDomain(Backend.Port()), TestTransport()),
          Folders(Dir.path() + "/da inviare"), Engine(Client, Recorder, Hooks(), Passes())
    {
        SignInAsTestUser(Client);
    }

    void TearDown() override { Folders.ExpectEveryInvoiceInExactlyOnePlace(); }

    TAutomaticEngine::THooks Hooks()
    {
        TAutomaticEngine::THooks hooks;
        hooks.Failed = [this](std::exception_ptr failure) {
            Failures.push_back(ExceptionMessage(failure).toStdString());
        };
        hooks.Wait = [this](quint32) {
            if (DuringThePause)
                DuringThePause();
        };
        hooks.StopRequested = [this] { return StopAsked; };
        hooks.Now = [this] { return Now; };
        return hooks;
    }

    // The passes after the outgoing one, seen from outside: the order of a tick.
    TAutomaticEngine::TPasses Passes()
    {
        TAutomaticEngine::TPasses passes;
        passes.Received = [this](TDVBackendService&, const QString&) {
            Order.push_back("received");
            TReceivedPassResult result;
            result.New = ReceivedPerPass;
            return result;
        };
        passes.Verdicts = [this](TDVBackendService&, const QString&) {
            Order.push_back("verdicts");
            return std::vector<TVerdictNews>{};
        };
        return passes;
    }

    // Settings that pass the check, with this interval.
    TAutomaticSettings Settings(qint32 intervalSec, const QString& received = {})
    {
        return CheckAutomaticSettings(
            {"aziende", kTestDatabase, kTestUser, kTestPassword, Folders.Outgoing(), received, QString::number(intervalSec)});
    }

    QTemporaryDir Dir;
    substitute::Backend Backend;
    TDVBackendService Client;
    InvoiceFolders Folders;
    TRecordingObserver Recorder;
    std::vector<std::string> Failures;
    std::vector<std::string> Order;
    std::function<void()> DuringThePause;
    bool StopAsked = false;
    qsizetype ReceivedPerPass = 0;
    QDateTime Now = QDateTime::currentDateTimeUtc();
    TAutomaticEngine Engine;
};

struct TCheckRow
{
    const char* Name;
    QString Database, Username, Password, Folder, FirmType, Interval;
    QString Message; // the check's failure
};

TEST_F(AutomaticEngineTest, TheSettingsCheckStopsAtTheFirstFailingStepWithItsMessage)
{
    const QString folder = Folders.Outgoing();
    const QString base = Dir.path();
    WriteBytes(base + "/un file", "x");
    QDir().mkpath(base + "/con file Inviate");
    WriteBytes(base + "/con file Inviate/Inviate", "x");
    QDir().mkpath(base + "/con file Errori");
    WriteBytes(base + "/con file Errori/Errori", "x");
    const QString noFolder = "Cartella indicata per le fatture da inviare non esiste";

    const QString badFirm = "FirmType non valido: \"x/y\" (un'etichetta di nome host: lettere, cifre e trattini, al "
                            "massimo 63 caratteri)";
    const TCheckRow rows[] = {
        {"nothing entered", "", "", "", "", "", "", "Databse non specificato"},
        {"no username, nor anything after it", "d", "  ", "", "", "", "", "Username non specificato"},
        {"no password, nor anything after it", "d", "u", "\n", "", "", "", "Password non specificata"},
        {"no folder", "d", "u", "p", "", "", "", noFolder},
        {"missing folder", "d", "u", "p", folder + "/manca", "aziende", "1", noFolder},
        {"a file, not a folder", "d", "u", "p", base + "/un file", "aziende", "1", noFolder},
        {"a file named Inviate", "d", "u", "p", base + "/con file Inviate", "", "",
         "Errore in creazione cartella fatture inviate: " + base + "/con file Inviate/Inviate"},
        {"a file named Errori", "d", "u", "p", base + "/con file Errori", "aziende", "1",
         "Errore in creazione cartella fatture in errore: " + base + "/con file Errori/Errori"},
        {"a firm type that is no host-name label", "d", "u", "p", folder, "x/y", "", badFirm},
        {"the interval comes last", "d", "u", "p", folder, "aziende", "12a", "'12a' is not a valid integer value"},
    };
    for (const TCheckRow& row : rows) {
        SCOPED_TRACE(row.Name);
        try {
            CheckAutomaticSettings({row.FirmType, row.Database, row.Username, row.Password, row.Folder, {}, row.Interval});
            ADD_FAILURE() << "passed";
        } catch (const EVornError& failure) {
            EXPECT_EQ(failure.Message(), row.Message);
        }
    }
}

// Blanks around the folder must not lead the check to one folder and the passes to another: the
// sub-folders are made where the cycle will move the invoices.
TEST_F(AutomaticEngineTest, AFolderTypedWithBlanksIsCheckedAndExtendedTrimmed)
{
    const QString outgoing = Dir.path() + "/nuova";
    QDir().mkpath(outgoing);
    const TAutomaticSettings settings =
        CheckAutomaticSettings({"aziende", " DEMO01 ", "\tmario.rossi ", "  s3gr3ta ", "  " + outgoing + " \t",
                                " " + Dir.path() + "/ricevute ", "120"});
    EXPECT_EQ(settings.CartellaDaInviare, outgoing);
    EXPECT_EQ(settings.CartellaRicevute, Dir.path() + "/ricevute");
    EXPECT_EQ(settings.Credentials.Username, "mario.rossi@DEMO01");
    EXPECT_EQ(settings.IntervalSec, 120);
    EXPECT_TRUE(QFileInfo(outgoing + "/Inviate").isDir());
    EXPECT_TRUE(QFileInfo(outgoing + "/Errori").isDir());
    EXPECT_FALSE(QFileInfo::exists(outgoing + " \t/Inviate"));
}

// The property of the front ends' notices: a refusal each time, a run of failed passes once at its
// start and once when the backend answers again, and nothing for the passes in between or after.
TEST_F(AutomaticEngineTest, ARefusalAndEachRunOfFailuresAreToldOnceNeverAtEveryTick)
{
    Engine.Apply(Settings(120));
    Folders.Drop("rotta.xml", "<FatturaElettronica><aperta>");
    Engine.Tick();
    ASSERT_EQ(Recorder.Of("refused").size(), 1u);
    EXPECT_EQ(Recorder.Of("refused")[0].rfind("refused rotta.xml: Il file rotta.xml non è un XML ben formato", 0),
              0u)
        << Recorder.Of("refused")[0];

    // Three passes that cannot reach the backend while an invoice waits: three failures, one word.
    Folders.Drop("A.xml");
    for (int i = 0; i < 3; ++i)
        Backend.PushAnswer(DroppedConnection());
    for (int i = 0; i < 3; ++i)
        Engine.Tick();
    EXPECT_EQ(Failures.size(), 3u);
    ASSERT_EQ(Recorder.Of("failing").size(), 1u);
    EXPECT_EQ(Recorder.Of("failing")[0], "failing: " + Failures[0]);
    EXPECT_TRUE(Recorder.Of("working").empty());

    // Back: the waiting invoice goes, and that is said once; the passes after it say nothing.
    Engine.Tick();
    EXPECT_EQ(InvoiceFolders::Files(Folders.Inviate()).size(), 1);
    Folders.Drop("B.xml");
    Engine.Tick();
    Engine.Tick();
    EXPECT_EQ(Recorder.Of("working"), std::vector<std::string>{"working again"});
    EXPECT_EQ(Recorder.Of("failing").size(), 1u);
    EXPECT_EQ(Recorder.Of("refused").size(), 1u);
    EXPECT_EQ(Failures.size(), 3u);
    // Each invoice's road, told as it goes.
    const std::string idCoda = InvoiceFolders::Files(Folders.Inviate()).filter("B_").first().mid(2).chopped(4).toStdString();
    EXPECT_EQ(Recorder.Of("found B.xml"), std::vector<std::string>{"found B.xml"});
    EXPECT_EQ(Recorder.Of("sent B.xml"), std::vector<std::string>{"sent B.xml " + idCoda});
    EXPECT_EQ(Recorder.Of("archived B.xml"),
              std::vector<std::string>{"archived B.xml -> " + Folders.InInviate("B_" + QString::fromStdString(idCoda) + ".xml").toStdString()});

    // A new run after the recovery is told again; the front end's own call of the pass counts the same.
    Folders.Drop("C.xml");
    Backend.PushAnswer(DroppedConnection());
    Engine.Tick();
    Engine.ProcessOutgoingInvoices(); // the front end's own call counts the same
    EXPECT_EQ(Recorder.Of("failing").size(), 2u);
    EXPECT_EQ(Recorder.Of("working").size(), 2u);
}

TEST_F(AutomaticEngineTest, ATickRunsTheOutgoingThenTheReceivedThenTheVerdictPass)
{
    Engine.Apply(Settings(120, Dir.path() + "/ricevute"));
    Folders.Drop("A.xml");
    DuringThePause = [this] { Order.push_back("outgoing"); };
    ReceivedPerPass = 3;
    Engine.Tick();
    EXPECT_EQ(Order, (std::vector<std::string>{"outgoing", "received", "verdicts"}));
    EXPECT_EQ(Recorder.Of("received"), std::vector<std::string>{"received 3 in " + (Dir.path() + "/ricevute").toStdString()});

    // Without a received folder there is no received pass; a pass that brings nothing says nothing.
    Order.clear();
    Engine.Apply(Settings(120));
    Engine.Tick();
    EXPECT_EQ(Order, std::vector<std::string>{"verdicts"});
    ReceivedPerPass = 0;
    Engine.Apply(Settings(120, Dir.path() + "/ricevute"));
    Engine.Tick();
    EXPECT_EQ(Recorder.Of("received").size(), 1u);

    // A stop heard during the outgoing pass ends the tick after it.
    Order.clear();
    Folders.Drop("B.xml");
    DuringThePause = [this] {
        Order.push_back("outgoing");
        StopAsked = true;
    };
    Engine.Tick();
    EXPECT_EQ(Order, std::vector<std::string>{"outgoing"});
    EXPECT_EQ(InvoiceFolders::Files(Folders.Outgoing()), QStringList{"B.xml"});
    EXPECT_TRUE(Failures.empty());
}

TEST_F(AutomaticEngineTest, AnIntervalOfZeroEnablesTheChecksWithoutEverTicking)
{
    Folders.Drop("fattura.xml");
    Engine.Apply(Settings(0));
    Engine.Start();
    RunEventsFor(200);
    EXPECT_TRUE(Engine.Enabled());
    EXPECT_FALSE(Engine.Ticking());
    EXPECT_TRUE(Backend.Requests().empty());

    // A period set later, while enabled, starts the ticks.
    Engine.Apply(Settings(3600));
    EXPECT_TRUE(Engine.Ticking());
    EXPECT_EQ(Engine.PeriodMs(), 3600000);
}

// Settings applied again (OK pressed in automatic mode, the automatic start firing after OK, a
// reload) must not put the next tick off by a whole period each time.
TEST_F(AutomaticEngineTest, ApplyingTheSamePeriodLeavesARunningCheckTimerToItsCount)
{
    Engine.Apply(Settings(4));
    Engine.Start();
    RunEventsFor(1000);

    // A coarse timer keeps within 5% of its period: 200 ms either way here, 300 ms for 6 s.
    Engine.Apply(Settings(4));
    Engine.Start();
    EXPECT_LT(Engine.RemainingMs(), 3500) << "restarted by the same period";

    Engine.Apply(Settings(6));
    EXPECT_GT(Engine.RemainingMs(), 5000) << "a new period restarts the count";
}

// A stop (the window's tray double-click, the agent's SIGTERM) and new settings (the agent's SIGHUP)
// that come while a tick waits before its uploads: the tick finishes with the settings it began
// with, the timer stays stopped after a stop, and what waited for the tick's end runs then.
TEST_F(AutomaticEngineTest, AStopOrAReloadDuringATickTakesEffectAtItsEnd)
{
    Engine.Apply(Settings(1));
    Engine.Start();
    Folders.Drop("A.xml");
    std::vector<std::string> events;
    DuringThePause = [&] {
        EXPECT_TRUE(Engine.TickRunning());
        EXPECT_FALSE(Engine.Enabled()) << "disabled for the length of the tick";
        Engine.Reload([&] {
            events.push_back("reloaded");
            Engine.Apply(Settings(2));
        });
        events.push_back("paused");
    };
    Engine.Tick();
    EXPECT_EQ(events, (std::vector<std::string>{"paused", "reloaded"}));
    EXPECT_EQ(Engine.PeriodMs(), 2000);
    EXPECT_TRUE(Engine.Ticking());

    Folders.Drop("B.xml");
    DuringThePause = [&] {
        Engine.Stop([&] { events.push_back("idle"); });
        events.push_back("stopped");
    };
    Engine.Tick();
    EXPECT_EQ(events, (std::vector<std::string>{"paused", "reloaded", "stopped", "idle"}));
    EXPECT_FALSE(Engine.Enabled());
    EXPECT_FALSE(Engine.Ticking());
    EXPECT_TRUE(Folders.NoInvoiceLeft()) << "the tick went on to its end";

    // A reload that fails reaches the exception hook and changes nothing.
    Engine.Reload([] { throw EVornError("rifiutata"); });
    EXPECT_EQ(Failures, std::vector<std::string>{"rifiutata"});
    EXPECT_EQ(Engine.PeriodMs(), 2000);
}

// The received pass as a tick makes it, with its real bound: at most 200 documents a tick, the next
// tick goes on, and each pass that brought something is one log line and one word to the front end.
TEST_F(AutomaticEngineTest, EachTickReceivesAtMost200InvoicesAndSaysSoOncePerPass)
{
    // Beside the substitute's three seeded ones.
    for (int i = 0; i < 200; ++i)
        Backend.AddReceivedInvoice("IT0666666666" + std::to_string(i) + "_0001.xml", "<f/>", "2024-05-02",
                                   "08:00:00");
    const QString received = Dir.path() + "/ricevute";
    QDir().mkpath(received);
    AppLog = std::make_unique<TLogFile>(Dir.path() + "/VORN_Automatic.log");
    AppLog->SetWriteDelayForTesting(std::chrono::milliseconds(0));
    AppLog->SetLevel(lfNormal);
    TAutomaticEngine engine(Client, Recorder, Hooks());
    engine.Apply(Settings(120, received));

    // Also on a slow machine, where the 10 s of a tick run out first.
    std::vector<qsizetype> passes;
    qsizetype total = 0;
    for (int tick = 0; tick < 20 && total < 203; ++tick) {
        const size_t told = Recorder.Of("received").size();
        engine.Tick();
        ASSERT_LE(Recorder.Of("received").size(), told + 1) << "one word per pass";
        if (Recorder.Of("received").size() > told) {
            passes.push_back(QString::fromStdString(Recorder.Of("received").back()).section(' ', 1, 1).toLongLong());
            total += passes.back();
        }
    }
    engine.Tick();
    AppLog.reset();

    EXPECT_EQ(total, 203);
    ASSERT_GE(passes.size(), 2u);
    EXPECT_EQ(std::count_if(passes.begin(), passes.end(), [](qsizetype n) { return n > 200; }), 0);
    QStringList expected, lines;
    for (const qsizetype count : passes)
        expected << QString::number(count) + " fatture ricevute in " + received;
    for (const LogEntry& entry : ReadLogEntries(Dir.path() + "/VORN_Automatic.log"))
        if (entry.Message.contains("ricevut"))
            lines << entry.Message;
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(Recorder.Of("received").size(), passes.size()) << "a pass that brings nothing says nothing";
    EXPECT_TRUE(Failures.empty());
}

// The verdict pass as ticks make it, on the engine's clock: an invoice the outgoing pass archived is
// asked first a minute later; a refusal by the exchange is a warning in the log and one word to
// the front end, once, however many ticks follow; the schedule lives in the track cache beside the
// configuration.
TEST_F(AutomaticEngineTest, ARefusalByTheExchangeIsToldOnceAtTheTickOfItsSchedule)
{
    const QString previousDir = QDir::currentPath();
    QDir::setCurrent(Dir.path());
    const auto back = qScopeGuard([&] {
        AppLog.reset();
        QDir::setCurrent(previousDir);
    });
    AppLog = std::make_unique<TLogFile>(Dir.path() + "/VORN_Automatic.log");
    AppLog->SetWriteDelayForTesting(std::chrono::milliseconds(0));
    TAutomaticEngine engine(Client, Recorder, Hooks());
    engine.Apply(Settings(120));
    const auto asked = [this] {
        qsizetype count = 0;
        for (const substitute::ReceivedRequest& request : Backend.Requests())
            count += request.Field("QELT_REQ") == "FAEGetStatusbyId";
        Backend.ClearRequests();
        return count;
    };

    Folders.Drop("IT01234567890_00009.xml");
    engine.Tick();
    ASSERT_EQ(Backend.Invoices().size(), 1u);
    const std::string idCoda = Backend.Invoices()[0].IdCoda;
    Backend.SetNotifications(idCoda, {{"NS", "2026-03-05 10:00:00", "2026-03-05 10:00:02"}});
    EXPECT_EQ(asked(), 0) << "archived just now";

    Now = Now.addSecs(30);
    engine.Tick();
    EXPECT_EQ(asked(), 0) << "not a minute yet";

    Now = Now.addSecs(40);
    engine.Tick();
    EXPECT_EQ(asked(), 1);
    const std::string archived = "IT01234567890_00009_" + idCoda + ".xml";
    ASSERT_EQ(Recorder.Of("verdict").size(), 1u);
    EXPECT_EQ(Recorder.Of("verdict")[0].rfind("verdict " + archived + " " + idCoda + " NS: ", 0), 0u)
        << Recorder.Of("verdict")[0];

    // A final state: never asked again, never told again.
    for (int hour = 1; hour <= 3; ++hour) {
        Now = Now.addSecs(3600);
        engine.Tick();
    }
    EXPECT_EQ(asked(), 0);
    EXPECT_EQ(Recorder.Of("verdict").size(), 1u);
    AppLog.reset();
    QStringList warnings;
    for (const LogEntry& entry : ReadLogEntries(Dir.path() + "/VORN_Automatic.log"))
        if (entry.Tag == "WRN")
            warnings << entry.Message;
    ASSERT_EQ(warnings.size(), 1) << warnings.join('\n').toStdString();
    EXPECT_TRUE(warnings[0].startsWith(QString::fromStdString("Fattura scartata: " + archived + " (IdCoda " + idCoda +
                                                              "): NS ")))
        << warnings[0].toStdString();
    EXPECT_TRUE(QFileInfo::exists(Dir.path() + "/VORN_Automatic.track.json"));
}

} // namespace
