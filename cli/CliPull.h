#pragma once

// vorn-cli pull: the received invoices into a folder, each document once.
//
// An invoice is known by the backend's identifier, not by its name: the identifiers already pulled
// are kept in an index file in the folder (".vorn-pull.index", one per line). The folder's files
// cannot be the record of what was pulled, since the accounting program usually takes them away
// once it has read them, and a name need not carry the identifier: the first invoice of a name
// keeps the backend's name as it is. The index is locked while a pull runs, so a second pull into
// the same folder waits and then finds everything there.

#include "util/DateTime.h"

#include <QString>
#include <functional>

class TDVBackendService;

struct TPullOptions
{
    QString Folder;
    TDateTime Since = 0;   // receipt date from that day on; 0: every invoice
    qint32 PageSize = 100; // asked of each search; the backend may send fewer
};

struct TPullSummary
{
    qsizetype New = 0;          // written into the folder by this pull
    qsizetype AlreadyThere = 0; // pulled before (or written before the index could say so)
    qsizetype Failed = 0;       // the next pull tries them again
    QString Stopped;            // why the listing stopped before the backend's total, or empty
};

struct TPullReport
{
    std::function<void(qsizetype done, qsizetype total)> Progress; // after each invoice
    std::function<void(const QString& message)> Problem;           // one invoice that failed
    std::function<void(const QString& message)> Waiting;           // another pull holds the folder
};

// Pages through the received invoices (by the number each answer actually holds, up to the
// backend's total) and writes each one not pulled before into the folder: whole or not at all,
// under its safe name, or with "_" and its identifier when another invoice has that name.
// Throws EVornError when the folder or its index cannot be used.
TPullSummary PullReceivedInvoices(TDVBackendService& client, const TPullOptions& options,
                                  const TPullReport& report);
