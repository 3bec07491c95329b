// vorn-cli track against the substitute: an outgoing folder whose Inviate holds archive copies.

#include "tests/cli/CliProgram.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>

#include <gtest/gtest.h>

namespace {

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

} // namespace
