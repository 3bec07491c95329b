#pragma once

// vorn-cli track: what became of each invoice archived in an outgoing folder's "Inviate", read
// back from the queue identifier in its archive name and asked of the backend.

#include "json/Fatture.h"

#include <QDate>
#include <QString>

class TDVBackendService;

// The short Italian description of a standard notification type of the exchange (RC, MC, NS, NE,
// DT, AT); empty for any other code.
QString NotificationDescription(const QString& tipoNotifica);

// The latest notification of a status history by its dates (the later of DataInvio and
// DataRicezione, read as the backend writes dates); of equal or unreadable dates, the one listed
// last. Null for an empty history.
const TFAENotifica* LatestNotification(const TFAENotificaList& history, const TDVBackendService& client);

struct TTrackOptions
{
    QString Folder;       // the outgoing folder; its "Inviate" is read
    QDate Since;          // null: every archive file; else those modified on or after that local day
    bool Refresh = false; // ask even what the cache holds
    bool Json = false;
    QString CacheFile; // the final states already learned, by queue identifier
};

struct TTrackResult
{
    QString Output;  // for standard output: the table or the JSON array
    QString Warning; // for standard error: why the cache could not be written, or empty
    int ExitCode;    // kExitNeedsAction, kExitFailure or kExitOk
};

// One line per archived invoice, those that need action (last notification NS) first. Final
// states (RC, NS, DT, NE, AT) come from the cache unless options.Refresh; what is learned goes
// into it. A request that fails is reported on its invoice's line and the others are still asked.
TTrackResult TrackInvoices(TDVBackendService& client, const TTrackOptions& options);
