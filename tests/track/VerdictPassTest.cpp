// The verdict pass and the findings of track against the substitute backend, with the pass's own
// clock: when an invoice is asked, how many at most, and that what is new is told once, whichever
// pass object or program updated the cache.

#include "track/TrackInvoices.h"
#include "track/VerdictPass.h"
#include "tests/support/BackendTest.h"
#include "tests/support/Files.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

using History = std::vector<substitute::Notification>;
const History kNothingYet = {};
const History kRefused = {{"NS", "2026-03-01 10:00:00", "2026-03-01 10:00:02"}};
const History kMissed = {{"MC", "2026-03-01 10:00:00", "2026-03-01 10:00:03"}};
const History kDelivered = {{"RC", "2026-03-01 10:00:00", "2026-03-01 10:00:05"}};

class VerdictPassTest : public BackendTest
{
protected:
    VerdictPassTest()
        : Outgoing(Dir.filePath(QStringLiteral("uscita"))),
          CacheFile(Dir.filePath(QStringLiteral("VORN_Automatic.track.json")))
    {
        QDir().mkpath(Outgoing + QStringLiteral("/Inviate"));
    }

    // Uploaded (as far as the substitute knows) and archived under <base>_<queue id>.xml.
    std::string Archived(const std::string& base, const History& history)
    {
        const std::string id = Backend.AddIssuedInvoice(base + ".xml", "<x/>");
        Backend.SetNotifications(id, history);
        WriteBytes(ArchivePath(base + "_" + id), "<x/>");
        return id;
    }

    QString ArchivePath(const std::string& name) const
    {
        return Outgoing + QStringLiteral("/Inviate/") + QString::fromStdString(name) + QStringLiteral(".xml");
    }

    // When the pass takes the archive to have been archived.
    QDateTime ArchivedAt(const std::string& name) const
    {
        return QFileInfo(ArchivePath(name)).metadataChangeTime().toUTC();
    }

    // The queue identifiers asked since the last look.
    std::vector<std::string> Asked()
    {
        std::vector<std::string> ids;
        for (const substitute::ReceivedRequest& request : Backend.Requests())
            if (request.Field("QELT_REQ") == "FAEGetStatusbyId")
                ids.push_back(request.Field("idcoda"));
        Backend.ClearRequests();
        return ids;
    }

    // A pass as a fresh start of the program makes it: all it knows is in the cache.
    TVerdictPass Pass(const QString& cacheFile = {})
    {
        return TVerdictPass(Outgoing, cacheFile.isEmpty() ? CacheFile : cacheFile, [this] { return Now; });
    }

    std::vector<std::string> Run(int maxRequests = TVerdictPass::kMaxRequestsPerRun)
    {
        std::vector<std::string> told;
        for (const TVerdictNews& news : Pass().Run(Client, maxRequests))
            told.push_back(news.IdCoda.toStdString() + " " + news.Code.toStdString());
        return told;
    }

    QTemporaryDir Dir;
    QString Outgoing;
    QString CacheFile;
    QDateTime Now;
};

// Asked first a minute after the archiving, then after 2, 4, 8, 16, 32 minutes and every hour,
// for 30 days; each tick by a pass object of its own, so the schedule is the cache's.
TEST_F(VerdictPassTest, AnInvoiceIsAskedOnItsScheduleUntilThirtyDaysAfterItsArchiving)
{
    const std::string id = Archived("IT01234567890_00001", kNothingYet);
    const QDateTime archived = ArchivedAt("IT01234567890_00001_" + id);
    constexpr qint64 kDay = 24 * 3600;
    const struct
    {
        qint64 At; // seconds after the archiving
        bool Asked;
    } ticks[] = {{0, false},     {59, false},   {60, true},   {61, false},          {179, false},
                 {180, true},    {419, false},  {420, true},  {900, true},          {1859, false},
                 {1860, true},   {3780, true},  {7379, false}, {7380, true},        {10980, true},
                 {30 * kDay, true}, {30 * kDay + 1, false}};
    for (const auto& tick : ticks) {
        SCOPED_TRACE(tick.At);
        Now = archived.addSecs(tick.At);
        EXPECT_TRUE(Run().empty());
        EXPECT_EQ(Asked(), tick.Asked ? std::vector<std::string>{id} : std::vector<std::string>{});
    }
}

// At most 20 requests in one pass, the longest overdue first; the rest follow at the next ticks.
TEST_F(VerdictPassTest, OnePassAsksAtMostTwentyTheLongestOverdueFirst)
{
    std::vector<std::string> ids;
    for (int i = 0; i < 25; ++i)
        ids.push_back(Archived(QStringLiteral("IT01234567890_%1").arg(i, 5, 10, QLatin1Char('0')).toStdString(),
                               kNothingYet));
    Now = QDateTime::currentDateTimeUtc().addSecs(60);
    EXPECT_EQ(Run(), std::vector<std::string>{});
    EXPECT_EQ(Asked(), std::vector<std::string>(ids.begin(), ids.begin() + 20));
    Run();
    EXPECT_EQ(Asked(), std::vector<std::string>(ids.begin() + 20, ids.end()));
    Run();
    EXPECT_EQ(Asked(), std::vector<std::string>{});
    Now = Now.addSecs(120);
    Run(3);
    EXPECT_EQ(Asked(), std::vector<std::string>(ids.begin(), ids.begin() + 3));
}

// A new NS or MC is told once per invoice: by whichever pass object asked, after vorn-cli track
// learned it first, and after vorn-cli track --refresh rewrote the final states.
TEST_F(VerdictPassTest, WhatIsNewIsToldOnceWhoeverUpdatedTheCache)
{
    const std::string missed = Archived("IT01234567890_00001", kMissed);
    const std::string later = Archived("IT01234567890_00002", kNothingYet);
    Now = QDateTime::currentDateTimeUtc().addSecs(60);
    EXPECT_EQ(Run(), std::vector<std::string>{missed + " MC"});
    EXPECT_EQ(Run(), std::vector<std::string>{});

    Backend.SetNotifications(later, kRefused);
    Now = Now.addSecs(120);
    EXPECT_EQ(Run(), std::vector<std::string>{later + " NS"});
    EXPECT_EQ(Asked().size(), 4u);

    Backend.SetNotifications(missed, kRefused);
    Now = Now.addSecs(240);
    EXPECT_EQ(Run(), std::vector<std::string>{missed + " NS"});
    Asked();

    const std::string byTrack = Archived("IT01234567890_00003", kRefused);
    const TTrackFindings findings = TrackArchivedInvoices(Client, {Outgoing, {}, false, CacheFile});
    EXPECT_EQ(findings.CacheError, 0);
    EXPECT_EQ(Asked(), std::vector<std::string>{byTrack});
    EXPECT_EQ(Run(), std::vector<std::string>{byTrack + " NS"});
    EXPECT_EQ(Asked(), std::vector<std::string>{});

    TrackArchivedInvoices(Client, {Outgoing, {}, true, CacheFile});
    EXPECT_EQ(Asked().size(), 3u);
    Now = Now.addDays(1);
    EXPECT_EQ(Run(), std::vector<std::string>{});
    EXPECT_EQ(Asked(), std::vector<std::string>{});
}

// A request that fails costs its invoice a wait, not the pass; two in a row end it (the backend is
// most likely out of reach), and the others are asked at the next tick.
TEST_F(VerdictPassTest, FailedRequestsAreRescheduledAndTwoInARowEndThePass)
{
    WriteBytes(ArchivePath("IT01234567890_00001_901"), "<x/>");
    WriteBytes(ArchivePath("IT01234567890_00002_902"), "<x/>");
    const std::string known = Archived("IT01234567890_00003", kMissed);
    Now = QDateTime::currentDateTimeUtc().addSecs(60);
    TVerdictPass pass = Pass();
    EXPECT_TRUE(pass.Run(Client).empty());
    EXPECT_EQ(Asked(), (std::vector<std::string>{"901", "902"}));
    ASSERT_EQ(pass.Problems().size(), 2) << pass.Problems().join(u'\n').toStdString();
    EXPECT_EQ(pass.Problems()[0],
              "Stato della fattura IT01234567890_00001_901.xml (IdCoda 901) non letto: Fattura non trovata: 901");
    EXPECT_EQ(Run(), std::vector<std::string>{known + " MC"});
    EXPECT_EQ(Asked(), std::vector<std::string>{known});
}

// An update that cannot be written tells nothing: the next pass asks again and tells it then, once.
TEST_F(VerdictPassTest, ALostUpdateAsksAgainAndNeverTellsTwice)
{
    const std::string refused = Archived("IT01234567890_00001", kRefused);
    const QString cacheFile = Dir.filePath(QStringLiteral("lavoro/VORN_Automatic.track.json"));
    Now = QDateTime::currentDateTimeUtc().addSecs(60);
    EXPECT_THROW(Pass(cacheFile).Run(Client), EInOutError);
    EXPECT_EQ(Asked(), std::vector<std::string>{refused});

    ASSERT_TRUE(QDir().mkpath(Dir.filePath(QStringLiteral("lavoro"))));
    std::vector<std::string> told;
    for (int run = 0; run < 2; ++run)
        for (const TVerdictNews& news : Pass(cacheFile).Run(Client))
            told.push_back(news.File.toStdString() + " " + news.Code.toStdString() + " " +
                           news.Description.toStdString());
    EXPECT_EQ(told, std::vector<std::string>{"IT01234567890_00001_" + refused + ".xml NS scartata"});
    EXPECT_EQ(Asked(), std::vector<std::string>{refused});
}

// Track's findings: the final states (RC, NS) come from the cache without a request, a missed
// delivery (MC) is asked again, and a refresh asks everything.
TEST_F(VerdictPassTest, TrackAsksOnlyWhatHasNoFinalStateUnlessRefreshing)
{
    const std::string delivered = Archived("IT01234567890_00001", kDelivered);
    const std::string refused = Archived("IT01234567890_00002", kRefused);
    const std::string missed = Archived("IT01234567890_00003", kMissed);
    const std::vector<std::string> all = {delivered, refused, missed};
    const auto fromCache = [](const TTrackFindings& findings) {
        std::vector<bool> flags;
        for (const TTrackedInvoice& invoice : findings.Invoices)
            flags.push_back(invoice.FromCache);
        return flags;
    };
    EXPECT_EQ(fromCache(TrackArchivedInvoices(Client, {Outgoing, {}, false, CacheFile})),
              (std::vector<bool>{false, false, false}));
    EXPECT_EQ(Asked(), all);
    const TTrackFindings cached = TrackArchivedInvoices(Client, {Outgoing, {}, false, CacheFile});
    EXPECT_EQ(fromCache(cached), (std::vector<bool>{true, true, false}));
    EXPECT_EQ(cached.Invoices[1].Verdict, (TInvoiceVerdict{"NS", "NS", "2026-03-01 10:00:00", "2026-03-01 10:00:02"}));
    EXPECT_EQ(Asked(), std::vector<std::string>{missed});
    TrackArchivedInvoices(Client, {Outgoing, {}, true, CacheFile});
    EXPECT_EQ(Asked(), all);
}

} // namespace
