#include "track/VerdictPass.h"

#include "backend/DVBackendService.h"
#include "dispatch/ArchiveName.h"
#include "dispatch/OutgoingDispatch.h"
#include "util/Errors.h"
#include "util/Folders.h"

#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <optional>

namespace {

// An archive whose verdict is due.
struct TDueInvoice
{
    QString File;
    QString IdCoda;
    TVerdictAsks Asks; // as the cache had it, or its first sight
    QDateTime Due;
};

struct TAnswer
{
    TDueInvoice Invoice;
    std::optional<TInvoiceVerdict> Verdict; // none: the request failed
};

QDateTime FollowedUntil(const TVerdictAsks& asks)
{
    return asks.Archived.addDays(TVerdictPass::kFollowDays);
}

bool Told(const TTrackCacheContent& content, const QString& idCoda, const QString& type)
{
    const auto told = content.Told.find(idCoda);
    return told != content.Told.end() && told->second.contains(type);
}

// An archive not asked yet: archived when its inode last changed (see the header).
TVerdictAsks FirstSight(const QString& path)
{
    return {QFileInfo(path).metadataChangeTime().toUTC(), {}, 0};
}

bool IsNews(const QString& tipoNotifica)
{
    return tipoNotifica == kNotificaScarto || tipoNotifica == kNotificaMancataConsegna;
}

} // namespace

TVerdictPass::TVerdictPass(QString outgoingFolder, QString cacheFile, std::function<QDateTime()> now)
    : FOutgoingFolder(std::move(outgoingFolder)), FCacheFile(std::move(cacheFile)), FNow(std::move(now))
{}

QDateTime TVerdictPass::NextAsk(const TVerdictAsks& asks)
{
    QDateTime next;
    if (asks.Asks <= 0 || !asks.LastAsked.isValid()) {
        next = asks.Archived.addSecs(kFirstWaitSeconds);
    } else {
        // 2^Asks minutes, without overflowing for a long-followed invoice.
        const qint64 wait = asks.Asks >= 6 ? kLongestWaitSeconds
                                           : std::min(kFirstWaitSeconds << asks.Asks, kLongestWaitSeconds);
        next = asks.LastAsked.addSecs(wait);
    }
    return next <= FollowedUntil(asks) ? next : QDateTime();
}

std::vector<TVerdictNews> TVerdictPass::Run(TDVBackendService& client, int maxRequests)
{
    FProblems.clear();
    FRequestsSent = 0;
    const QDateTime now = FNow().toUTC();
    const QString inviate = JoinPath(FOutgoingFolder, kCartellaInviate);
    const std::unique_ptr<QStringList> names = ListFolder(JoinPath(inviate, QStringLiteral("*.*")));
    if (names->isEmpty())
        return {};
    const TTrackCache cache(FCacheFile, TTrackCache::OwnerOf(client));
    const TTrackCacheContent known = cache.Read();

    // What the folder holds: the invoices due, and the refusals that another program (vorn-cli
    // track) learned and that automatic mode has not told yet.
    std::vector<TDueInvoice> due;
    std::vector<TDueInvoice> refusedUntold;
    QSet<QString> seen;
    for (const QString& name : *names) {
        const QString idCoda = QueueIdentifierOfArchiveName(name);
        if (idCoda.isEmpty() || seen.contains(idCoda))
            continue;
        seen.insert(idCoda);
        const auto final = known.FinalStates.find(idCoda);
        const bool isFinal = final != known.FinalStates.end();
        if (isFinal && !(NeedsAction(final->second.TipoNotifica) && !Told(known, idCoda, final->second.TipoNotifica)))
            continue;
        const auto recorded = known.Asks.find(idCoda);
        const TVerdictAsks asks = recorded != known.Asks.end() ? recorded->second : FirstSight(JoinPath(inviate, name));
        if (!asks.Archived.isValid() || now > FollowedUntil(asks))
            continue;
        if (isFinal) {
            refusedUntold.push_back({name, idCoda, asks, {}});
            continue;
        }
        const QDateTime next = NextAsk(asks);
        if (next.isValid() && next <= now)
            due.push_back({name, idCoda, asks, next});
    }
    std::sort(due.begin(), due.end(), [](const TDueInvoice& a, const TDueInvoice& b) {
        return a.Due != b.Due ? a.Due < b.Due : a.File < b.File;
    });

    std::vector<TAnswer> answers;
    int failuresInARow = 0;
    for (const TDueInvoice& invoice : due) {
        if (FRequestsSent >= maxRequests || failuresInARow >= 2)
            break;
        ++FRequestsSent;
        try {
            answers.push_back({invoice, VerdictOfStatus(*client.FAEGetStatusbyId(invoice.IdCoda), client)});
            failuresInARow = 0;
        } catch (const EVornError& e) {
            answers.push_back({invoice, std::nullopt});
            ++failuresInARow;
            FProblems.append(QStringLiteral("Stato della fattura %1 (IdCoda %2) non letto: %3")
                                 .arg(invoice.File, invoice.IdCoda,
                                      e.Message().isEmpty() ? QStringLiteral("nessun messaggio") : e.Message()));
        }
    }
    const auto followed = [&](const auto& entry) { return now <= FollowedUntil(entry.second); };
    if (answers.empty() && refusedUntold.empty() && std::all_of(known.Asks.begin(), known.Asks.end(), followed))
        return {};

    std::vector<TVerdictNews> news;
    const auto update = [&](TTrackCacheContent& content) {
        news.clear();
        bool changed = false;
        const auto tell = [&](const TDueInvoice& invoice, const QString& type) {
            if (Told(content, invoice.IdCoda, type))
                return;
            content.Told[invoice.IdCoda].append(type);
            news.push_back({invoice.File, invoice.IdCoda, type, NotificationDescription(type)});
            changed = true;
        };
        for (const TAnswer& answer : answers) {
            const QString& idCoda = answer.Invoice.IdCoda;
            // Another program may have asked meanwhile: this ask counts on top of its own.
            const auto recorded = content.Asks.find(idCoda);
            TVerdictAsks asks = recorded != content.Asks.end() ? recorded->second : answer.Invoice.Asks;
            asks.LastAsked = now;
            ++asks.Asks;
            changed = true;
            if (answer.Verdict && IsFinalNotification(answer.Verdict->TipoNotifica)) {
                content.FinalStates[idCoda] = *answer.Verdict;
                content.Asks.erase(idCoda);
            } else {
                content.Asks[idCoda] = asks;
            }
            if (answer.Verdict && IsNews(answer.Verdict->TipoNotifica))
                tell(answer.Invoice, answer.Verdict->TipoNotifica);
        }
        for (const TDueInvoice& invoice : refusedUntold) {
            const auto final = content.FinalStates.find(invoice.IdCoda);
            if (final != content.FinalStates.end() && NeedsAction(final->second.TipoNotifica))
                tell(invoice, final->second.TipoNotifica);
        }
        // The schedules of invoices no longer followed; what was told stays told.
        changed = std::erase_if(content.Asks, [&](const auto& entry) { return !followed(entry); }) > 0 || changed;
        return changed;
    };
    if (const int error = cache.Update(update)) {
        news.clear();
        throw EInOutError(QStringLiteral("Impossibile aggiornare %1: %2").arg(FCacheFile, SystemErrorText(error)),
                          error);
    }
    return news;
}
