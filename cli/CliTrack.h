#pragma once

// vorn-cli track: what became of each invoice archived in an outgoing folder's "Inviate"
// (TrackArchivedInvoices), as a table or a JSON array, and the exit status that says whether one
// needs action.

#include "track/TrackInvoices.h"

#include <QString>

class TDVBackendService;

// What to track, and whether to print JSON instead of the table.
struct TTrackOptions : TTrackRequest
{
    bool Json = false;
};

struct TTrackResult
{
    QString Output;  // for standard output: the table or the JSON array
    QString Warning; // for standard error: why the cache could not be written, or empty
    int ExitCode;    // kExitNeedsAction, kExitFailure or kExitOk
};

// One line per archived invoice, those that need action (last notification NS) first. A request
// that fails is reported on its invoice's line and the others are still asked.
TTrackResult TrackInvoices(TDVBackendService& client, const TTrackOptions& options);
