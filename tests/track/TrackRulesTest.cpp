// The rules of track that need no backend: which notification tells an invoice's state, and the
// track cache's file, read back as every version wrote it.

#include "backend/DVBackendService.h"
#include "track/TrackCache.h"
#include "track/TrackRules.h"
#include "tests/support/Files.h"

#include <QTemporaryDir>
#include <array>
#include <gtest/gtest.h>

namespace {

// The latest by its dates, not the one listed last; unreadable dates rank below every readable
// one; of equal dates, the one listed last.
TEST(TrackRulesTest, TheLatestNotificationIsTheLatestByDate)
{
    const struct
    {
        std::vector<std::array<const char*, 3>> History; // type, DataInvio, DataRicezione
        const char* Latest;                              // its type; "" for none
    } cases[] = {
        {{{"RC", "2024-03-06 09:00:00", "2024-03-06 09:00:05"}, {"MC", "2024-03-05 09:00:00", "2024-03-05 09:00:04"}},
         "RC"},
        {{{"MC", "2024-03-05", "2024-03-05"}, {"NS", "2024-03-04", "2024-03-07"}}, "NS"}, // DataRicezione decides
        {{{"NS", "2024-03-05 10:00:00", ""}, {"RC", "ieri", "oggi"}}, "NS"},
        {{{"MC", "2024-03-05", "2024-03-05"}, {"RC", "2024-03-05", "2024-03-05"}}, "RC"},
        {{}, ""},
    };
    const TDVBackendService client(QStringLiteral("localhost:1"), THttpsSettings{});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Latest);
        TFAENotificaList history;
        for (const auto& [type, invio, ricezione] : c.History) {
            auto notification = std::make_unique<TFAENotifica>();
            notification->SetTipoNotifica(QString::fromUtf8(type));
            notification->SetDataInvio(QString::fromUtf8(invio));
            notification->SetDataRicezione(QString::fromUtf8(ricezione));
            history.push_back(std::move(notification));
        }
        const TFAENotifica* latest = LatestNotification(history, client);
        EXPECT_EQ(latest ? latest->TipoNotifica() : QString(), QString::fromUtf8(c.Latest));
    }
}

constexpr char kOwner[] = "https://aziende.localhost:1/assoc/progs/main/xapirest.sto mario@DEMO";

// What the cache gives back of a file found beside the configuration: the first vorn-cli track's
// indented file with its final states (a state that is not final was never kept and is dropped),
// a file of another backend or user, and files that are no cache of ours.
TEST(TrackRulesTest, TheCacheReadsBackTheFilesOfEveryVersionAndOnlyItsOwn)
{
    const struct
    {
        const char* Name;
        std::string File;
        std::vector<const char*> FinalStates;
    } cases[] = {
        {"first version",
         std::string("{\n    \"Backend\": \"") + kOwner +
             "\",\n    \"Stati\": {\n"
             "        \"17\": {\n            \"CodiceStatoFattura\": \"RC\",\n"
             "            \"DataInvio\": \"2024-03-06\",\n            \"DataRicezione\": \"2024-03-06\",\n"
             "            \"TipoNotifica\": \"RC\"\n        },\n"
             "        \"18\": {\n            \"TipoNotifica\": \"MC\"\n        },\n"
             "        \"19\": {\n            \"CodiceStatoFattura\": \"NS\",\n            \"TipoNotifica\": \"NS\"\n"
             "        }\n    }\n}\n",
         {"17", "19"}},
        {"another user's", R"({"Backend":"https://aziende.localhost:1/x luigi@DEMO","Stati":{"17":{"TipoNotifica":"RC"}}})",
         {}},
        {"not JSON", "{\"Backend\":", {}},
        {"not an object", "[1,2]", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("VORN_Automatic.track.json"));
        WriteBytes(path, QByteArray::fromStdString(c.File));
        const TTrackCacheContent content = TTrackCache(path, QString::fromUtf8(kOwner)).Read();
        std::vector<std::string> ids;
        for (const auto& [id, verdict] : content.FinalStates)
            ids.push_back(id.toStdString());
        EXPECT_EQ(ids, std::vector<std::string>(c.FinalStates.begin(), c.FinalStates.end()));
        if (c.Name == std::string("first version")) {
            EXPECT_EQ(content.FinalStates.at(QStringLiteral("17")),
                      (TInvoiceVerdict{"RC", "RC", "2024-03-06", "2024-03-06"}));
        }
    }
}

// What an update writes reads back the same, and a second update keeps what the first wrote.
TEST(TrackRulesTest, UpdatesKeepEverythingTheCacheHolds)
{
    QTemporaryDir dir;
    const TTrackCache cache(dir.filePath(QStringLiteral("cache.json")), QString::fromUtf8(kOwner));
    const QDateTime archived(QDate(2026, 3, 1), QTime(8, 0, 0, 125), Qt::UTC);
    TTrackCacheContent written;
    written.FinalStates[QStringLiteral("7")] = {"NS", "NS", "2026-03-01 08:00:00", "2026-03-01 08:00:02"};
    written.Told[QStringLiteral("7")] = {QStringLiteral("MC"), QStringLiteral("NS")};
    written.Asks[QStringLiteral("8")] = {archived, archived.addSecs(60), 1};
    written.Asks[QStringLiteral("9")] = {archived, {}, 0};
    ASSERT_EQ(cache.Update([&](TTrackCacheContent& content) {
        content = written;
        return true;
    }),
              0);
    ASSERT_EQ(cache.Update([](TTrackCacheContent& content) {
        content.Told[QStringLiteral("8")].append(QStringLiteral("MC"));
        return true;
    }),
              0);
    written.Told[QStringLiteral("8")] = {QStringLiteral("MC")};
    const TTrackCacheContent read = cache.Read();
    EXPECT_EQ(read.FinalStates, written.FinalStates);
    EXPECT_EQ(read.Told, written.Told);
    EXPECT_EQ(read.Asks, written.Asks);
}

} // namespace
