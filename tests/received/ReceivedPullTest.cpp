// The pull's bounds and the received pass of automatic mode, in process against the substitute on
// an ephemeral port: what each run fetches, where it stops, and what the folder holds afterwards.

#include "received/ReceivedPull.h"
#include "log/LogFile.h"
#include "tests/support/LogEntries.h"
#include "tests/support/Substitute.h"
#include "tests/support/TestClient.h"
#include "util/FileLock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <gtest/gtest.h>
#include <limits>
#include <memory>

namespace {

using namespace std::chrono_literals;

// The substitute's three seeded received invoices and seven more, in pages of at most three.
class ReceivedPullTest : public testing::Test
{
protected:
    ReceivedPullTest()
        : Backend(PagedOptions()), Client(LoopbackDomain(Backend.Port()), TestTransport()),
          Into(Dir.filePath(QStringLiteral("ricevute")))
    {
        SignInAsTestUser(Client);
        for (int i = 1; i <= 7; ++i)
            Backend.AddReceivedInvoice("IT0555555555" + std::to_string(i) + "_0001.xml",
                                       "<f n=\"" + std::to_string(i) + "\"/>", "2024-04-02", "08:00:00");
        EXPECT_TRUE(QDir().mkpath(Into));
    }

    static substitute::Options PagedOptions()
    {
        substitute::Options options = SubstituteOptions();
        options.MaxPageSize = 3;
        return options;
    }

    qsizetype Sent(const std::string& operation) const
    {
        qsizetype count = 0;
        for (const substitute::ReceivedRequest& request : Backend.Requests())
            count += request.Field("QELT_REQ") == operation;
        return count;
    }

    // The documents in the folder, the pull's own files left out.
    QStringList Documents() const
    {
        QStringList names = QDir(Into).entryList(QDir::Files | QDir::Hidden);
        names.removeIf([](const QString& name) { return name.startsWith(kPullBookkeepingPrefix); });
        return names;
    }

    TPullOptions Options() const
    {
        TPullOptions options;
        options.Folder = Into;
        return options;
    }

    substitute::Backend Backend;
    TDVBackendService Client;
    QTemporaryDir Dir;
    QString Into;
};

// A first pass of years of invoices comes in over several ticks: each pass asks at most its count
// of documents, the next goes on, and none is asked twice; a pass whose budget is spent before it
// starts asks for nothing.
TEST_F(ReceivedPullTest, APassSpendsAtMostItsCountOrItsTimeAndTheNextGoesOn)
{
    const struct
    {
        std::chrono::milliseconds Budget;
        qsizetype Max;
        qsizetype New;
    } passes[] = {{10s, 4, 4}, {0ms, 4, 0}, {10s, 4, 4}, {10s, 4, 2}, {10s, 4, 0}};
    qsizetype asked = 0;
    for (const auto& pass : passes) {
        SCOPED_TRACE(testing::Message() << "budget " << pass.Budget.count() << " ms, max " << pass.Max);
        const TReceivedPassResult result = RunReceivedPass(Client, Into, pass.Budget, pass.Max);
        EXPECT_EQ(result.New, pass.New);
        EXPECT_EQ(result.Failed, 0);
        EXPECT_FALSE(result.Skipped);
        EXPECT_TRUE(result.Stopped.isEmpty()) << result.Stopped.toStdString();
        asked += pass.New;
        EXPECT_EQ(Sent("FAEGetXmlbyId"), asked);
        EXPECT_EQ(Documents().size(), asked);
    }
}

// A pass never waits: while another pull holds the index it asks nothing and says so.
TEST_F(ReceivedPullTest, APassSkipsWhileAPullHoldsTheIndex)
{
    const TFileLock held = TFileLock::TryAcquire(QDir(Into).filePath(kPullIndexFileName));
    ASSERT_EQ(held.State(), TFileLock::TState::Held);
    const TReceivedPassResult result = RunReceivedPass(Client, Into);
    EXPECT_TRUE(result.Skipped);
    EXPECT_EQ(result.New, 0);
    EXPECT_TRUE(Backend.Requests().empty());
}

// A document the backend cannot give is the pass's one warning, in the log's language; the others
// arrive.
TEST_F(ReceivedPullTest, APassLogsEachFailedDocument)
{
    const std::string empty = Backend.AddReceivedInvoice("vuota.xml", "", "2024-04-03", "08:00:00");
    QTemporaryDir logDir;
    const QString logFile = logDir.filePath(QStringLiteral("VORN_Automatic.log"));
    AppLog = std::make_unique<TLogFile>(logFile);
    AppLog->SetActive(true);
    AppLog->SetLevel(lfWarning);
    AppLog->SetWriteDelayForTesting(0ms);
    const TReceivedPassResult result = RunReceivedPass(Client, Into);
    AppLog.reset();

    EXPECT_EQ(result.New, 10);
    EXPECT_EQ(result.Failed, 1);
    std::vector<LogEntry> entries = ReadLogEntries(logFile);
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [](const LogEntry& e) { return e.Tag != QStringLiteral("WRN"); }),
                  entries.end());
    EXPECT_EQ(entries,
              std::vector<LogEntry>{Warning(
                  QStringLiteral("Fattura ricevuta %1 (vuota.xml) non scaricata: il server ha inviato un "
                                 "documento vuoto")
                      .arg(QString::fromStdString(empty)))});
}

// The pull's bounds: a disk that would keep less than its reserve stops it before anything is
// written, a page that brings nothing new (a backend that ignores the offset) ends it, and a
// count ends it with the rest for the next pull.
TEST_F(ReceivedPullTest, APullStopsAtItsBounds)
{
    TPullOptions full = Options();
    full.MinFreeBytes = std::numeric_limits<qint64>::max() / 2;
    const TPullSummary stopped = PullReceivedInvoices(Client, full, {});
    ASSERT_TRUE(stopped.Stopped.has_value());
    EXPECT_EQ(stopped.Stopped->Fault, TPullFault::DiskFull);
    EXPECT_EQ(stopped.New, 0);
    EXPECT_TRUE(Documents().isEmpty());

    TPullOptions counted = Options();
    counted.MaxDocuments = 5;
    const TPullSummary cut = PullReceivedInvoices(Client, counted, {});
    EXPECT_TRUE(cut.Cut);
    EXPECT_FALSE(cut.Stopped.has_value());
    EXPECT_EQ(cut.New, 5);
    EXPECT_EQ(Documents().size(), 5);

    // Both listed invoices are known by now; the same page again is the end.
    const std::string page =
        R"({"error":"","result":{"NumeroTotale":"50","seq_FATTURE":[{"IdFattura":"900001"},{"IdFattura":"900002"}]}})";
    Backend.PushAnswer(JsonAnswer(page));
    Backend.PushAnswer(JsonAnswer(page));
    Backend.ClearRequests();
    const TPullSummary repeated = PullReceivedInvoices(Client, Options(), {});
    ASSERT_TRUE(repeated.Stopped.has_value());
    EXPECT_EQ(repeated.Stopped->Fault, TPullFault::NothingNew);
    EXPECT_EQ(repeated.Stopped->Arguments, QStringList{QStringLiteral("2")});
    EXPECT_EQ(repeated.AlreadyThere, 2);
    EXPECT_EQ(Sent("FAEPassivaSearch"), 2);
    EXPECT_EQ(Sent("FAEGetXmlbyId"), 0);
}

// What a killed pull left is removed by the next one under the lock; a file of that prefix that no
// pull writes (another name shape, a folder) stays.
TEST_F(ReceivedPullTest, APullRemovesTheTemporariesAKilledOneLeft)
{
    const QDir into(Into);
    const QString left = kPullTemporaryPrefix + QStringLiteral("Ab3dEf6hIj9L");
    const QString other = kPullTemporaryPrefix + QStringLiteral("mine");
    for (const QString& name : {left, other}) {
        QFile file(into.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("<mezza");
    }
    ASSERT_TRUE(into.mkdir(kPullTemporaryPrefix + QStringLiteral("Ab3dEf6hIj9M")));

    const TPullSummary summary = PullReceivedInvoices(Client, Options(), {});
    EXPECT_EQ(summary.New, 10);
    EXPECT_FALSE(QFile::exists(into.filePath(left)));
    EXPECT_TRUE(QFile::exists(into.filePath(other)));
    EXPECT_TRUE(QFileInfo(into.filePath(kPullTemporaryPrefix + QStringLiteral("Ab3dEf6hIj9M"))).isDir());
    QStringList hidden = into.entryList(QDir::Files | QDir::Hidden);
    hidden.removeIf([](const QString& name) { return !name.startsWith(u'.'); });
    EXPECT_EQ(hidden, (QStringList{kPullIndexFileName, other}));
}

} // namespace
