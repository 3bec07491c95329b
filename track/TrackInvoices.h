#pragma once

// What became of each invoice archived in an outgoing folder's "Inviate": its queue identifier read
// back from the archive name, then its final state from the track cache or its status asked of
// the backend. vorn-cli track shows what this finds.

#include "track/TrackRules.h"

#include <QDate>
#include <QString>
#include <vector>

class TDVBackendService;

struct TTrackedInvoice
{
    QString File;   // the archive's name in Inviate
    QString IdCoda; // empty: the name carries none, and nothing was asked
    TInvoiceVerdict Verdict;
    bool FromCache = false;
    bool Failed = false; // asked, but no answer came
    QString Failure;     // then the failure's message, as it came (it may be empty)

    bool NeedsAction() const { return ::NeedsAction(Verdict.TipoNotifica); }
};

struct TTrackRequest
{
    QString Folder;       // the outgoing folder; its "Inviate" is read
    QDate Since;          // null: every archive file; else those modified on or after that local day
    bool Refresh = false; // ask even what the cache holds
    QString CacheFile;    // the track cache (TTrackCache)
};

struct TTrackFindings
{
    std::vector<TTrackedInvoice> Invoices; // in the folder's order
    int CacheError = 0;                    // errno of a cache that could not be updated, or 0
};

// One entry per archive file. Final states come from the cache unless request.Refresh; what is
// learned goes into it (a final state kept, one that is no longer final dropped), under the
// cache's lock and without touching what others keep there. A request that fails is reported on
// its invoice and the others are still asked.
TTrackFindings TrackArchivedInvoices(TDVBackendService& client, const TTrackRequest& request);
