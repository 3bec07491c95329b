#include "track/TrackInvoices.h"

#include "backend/DVBackendService.h"
#include "dispatch/ArchiveName.h"
#include "dispatch/OutgoingDispatch.h"
#include "track/TrackCache.h"
#include "util/Folders.h"

#include <QFileInfo>

#include <algorithm>

namespace {

void AskBackend(TDVBackendService& client, TTrackedInvoice& invoice)
{
    try {
        invoice.Verdict = VerdictOfStatus(*client.FAEGetStatusbyId(invoice.IdCoda), client);
    } catch (const EVornError& e) {
        invoice.Failed = true;
        invoice.Failure = e.Message();
    }
}

// The cache after what this run learned; false when that changes nothing.
bool Learn(TTrackCacheContent& cache, const std::vector<TTrackedInvoice>& invoices)
{
    bool changed = false;
    for (const TTrackedInvoice& invoice : invoices) {
        if (invoice.IdCoda.isEmpty() || invoice.FromCache || invoice.Failed)
            continue;
        if (IsFinalNotification(invoice.Verdict.TipoNotifica)) {
            auto [at, added] = cache.FinalStates.try_emplace(invoice.IdCoda, invoice.Verdict);
            changed = changed || added || at->second != invoice.Verdict;
            at->second = invoice.Verdict;
        } else {
            changed = cache.FinalStates.erase(invoice.IdCoda) > 0 || changed;
        }
    }
    return changed;
}

} // namespace

TTrackFindings TrackArchivedInvoices(TDVBackendService& client, const TTrackRequest& request)
{
    const QString inviate = JoinPath(request.Folder, kCartellaInviate);
    const QDateTime since = request.Since.isNull() ? QDateTime() : request.Since.startOfDay();
    const TTrackCache cache(request.CacheFile, TTrackCache::OwnerOf(client));
    const TTrackCacheContent known = cache.Read();

    TTrackFindings findings;
    const std::unique_ptr<QStringList> names = ListFolder(JoinPath(inviate, QStringLiteral("*.*")));
    for (const QString& name : *names) {
        if (since.isValid() && QFileInfo(JoinPath(inviate, name)).lastModified() < since)
            continue;
        TTrackedInvoice invoice;
        invoice.File = name;
        invoice.IdCoda = QueueIdentifierOfArchiveName(name);
        if (!invoice.IdCoda.isEmpty()) {
            const auto cached = known.FinalStates.find(invoice.IdCoda);
            if (!request.Refresh && cached != known.FinalStates.end()) {
                invoice.Verdict = cached->second;
                invoice.FromCache = true;
            } else {
                AskBackend(client, invoice);
            }
        }
        findings.Invoices.push_back(std::move(invoice));
    }
    const bool learned = std::any_of(findings.Invoices.begin(), findings.Invoices.end(), [](const auto& i) {
        return !i.IdCoda.isEmpty() && !i.FromCache && !i.Failed;
    });
    if (learned)
        findings.CacheError =
            cache.Update([&](TTrackCacheContent& content) { return Learn(content, findings.Invoices); });
    return findings;
}
