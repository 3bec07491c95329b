#pragma once

// The received invoices into a folder, each document once: vorn-cli pull and the received pass of
// automatic mode.
//
// An invoice is known by the backend's identifier, not by its name: the identifiers already pulled
// are kept in an index file in the folder (".vorn-pull.index", one per line). The folder's files
// cannot be the record of what was pulled, since the accounting program usually takes them away
// once it has read them, and a name need not carry the identifier: the first invoice of a name
// keeps the backend's name as it is. The index is locked while a pull runs, so that the command
// line, the window and an agent never fetch one document twice.

#include "util/DateTime.h"
#include "util/Errors.h"

#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <optional>

class TDVBackendService;

// The pull's own files in the received folder: the index (which is also the lock), and the hidden
// temporaries a document is written through before it is renamed into place.
inline const QString kPullBookkeepingPrefix = QStringLiteral(".vorn-pull.");
inline const QString kPullIndexFileName = kPullBookkeepingPrefix + QStringLiteral("index");
inline const QString kPullTemporaryPrefix = kPullBookkeepingPrefix + QStringLiteral("part.");

// What went wrong, with the values its texts name (Arguments, in the order given here), so that
// each front end words it in its own language.
enum class TPullFault
{
    // One invoice; it is asked again by the next pull. Arguments: identifier, file name, then:
    NoIdentifier,          // -
    Refused,               // the backend's message
    RefusedWithoutMessage, // -
    EmptyDocument,         // -
    CannotWrite,           // path, reason
    NamesTaken,            // name, name with the identifier

    // The listing stopped before the backend's total; what was pulled stays.
    ListFailed,     // offset, message
    TotalNotACount, // the backend's total
    ListedFewer,    // offset, total
    NothingNew,     // offset: the page brought no identifier this run had not seen
    DiskFull,       // folder, free MiB, MiB kept free

    // The folder or its index cannot be used (EPullError).
    NotAFolder,     // folder
    IndexNotLocked, // path, reason
    IndexLockedOut, // path, reason, owner, mode, the mode that lets the folder's writers in
    IndexNotOpened, // path, reason
    IndexNotRead,   // path, reason
    IndexNotWritten // path, reason
};

struct TPullProblem
{
    TPullFault Fault;
    QStringList Arguments;
};

// The problem in the log's words (Italian).
QString PullProblemText(const TPullProblem& problem);

// The folder or its index cannot be used; the message is PullProblemText's.
class EPullError : public EVornError
{
public:
    explicit EPullError(TPullProblem problem);
    const TPullProblem& Problem() const { return FProblem; }

private:
    TPullProblem FProblem;
};

// The disk must keep this much free: a pull stops before a document would leave less.
inline constexpr qint64 kPullMinFreeBytes = qint64(64) << 20;

struct TPullOptions
{
    QString Folder;
    TDateTime Since = 0;        // receipt date from that day on; 0: every invoice
    qint32 PageSize = 100;      // asked of each search; the backend may send fewer
    qint64 Offset = 0;          // where the listing starts (where a cut run stopped)
    qsizetype MaxDocuments = 0; // documents asked of the backend, at most; 0: no bound
    // The run is cut once this moment has passed (checked before each page and each document).
    std::optional<std::chrono::steady_clock::time_point> Deadline;
    qint64 MinFreeBytes = kPullMinFreeBytes;
    bool WaitForIndex = true; // false: a pull already running makes this one a Skipped no-op
};

struct TPullSummary
{
    qsizetype New = 0;                   // written into the folder by this pull
    qsizetype AlreadyThere = 0;          // pulled before (or written before the index could say so)
    qsizetype Failed = 0;                // the next pull tries them again
    std::optional<TPullProblem> Stopped; // why the listing stopped before the backend's total
    bool Skipped = false;                // the index was held by another pull (WaitForIndex false)
    bool Cut = false;                    // the deadline or MaxDocuments came first; NextOffset goes on
    qint64 NextOffset = 0;               // where the next run goes on: the start of the page it was cut in
};

struct TPullReport
{
    std::function<void(qsizetype done, qsizetype total)> Progress; // after each invoice
    std::function<void(const TPullProblem& problem)> Problem;      // one invoice that failed
    std::function<void()> Waiting;                                 // another pull holds the folder
};

// Removes the temporaries that a killed pull left (the lock is held, so no pull is writing), then
// pages through the received invoices (by the number each answer actually holds, up to the
// backend's total) and writes each one not pulled before into the folder: whole or not at all,
// under its safe name, or with "_" and its identifier when another invoice has that name. A page
// that brings no identifier not seen before in this run ends it (a backend that ignores the
// offset would otherwise be listed for ever). Throws EPullError when the folder or its index
// cannot be used.
TPullSummary PullReceivedInvoices(TDVBackendService& client, const TPullOptions& options,
                                  const TPullReport& report);

// One received pass of automatic mode.
struct TReceivedPassResult
{
    qsizetype New = 0;
    qsizetype Failed = 0;
    bool Skipped = false; // the index was locked: a pull is running
    QString Stopped;      // why the listing stopped early (Italian, for the log), or empty
};

// A pull into folder that never waits for the index and spends at most budget or maxDocuments
// documents; the next call in this process goes on where this one was cut, and a call that
// reaches the end makes the next one start over. Each invoice that failed is one warning in the
// log (Italian); nothing else is logged here. Throws EPullError as PullReceivedInvoices does.
TReceivedPassResult RunReceivedPass(TDVBackendService& client, const QString& folder,
                                    std::chrono::milliseconds budget = std::chrono::seconds(10),
                                    qsizetype maxDocuments = 200);
