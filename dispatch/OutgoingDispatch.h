#pragma once

#include "dispatch/ArchiveName.h"
#include "util/Errors.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <functional>
#include <optional>

class TDVBackendService;
class TDispatchJournal;

// The backend refused one invoice: its message is the text that goes into the error text file;
// BackendText is the backend's own reason, as it came.
class EInvioException : public EVornError
{
public:
    EInvioException(QString message, QString backendText)
        : EVornError(std::move(message)), FBackendText(std::move(backendText))
    {}

    const QString& BackendText() const noexcept { return FBackendText; }

private:
    QString FBackendText;
};

// Told of each invoice the backend refused, once it lies in "Errori": its name in the outgoing
// folder and the backend's reason. The cycle itself never shows anything; its owner decides.
using TInvoiceRefused = std::function<void(const QString& N, const QString& backendText)>;

// What the cycle tells its owner as it goes, each for an invoice named N in the outgoing folder;
// any of them may be left empty.
struct TDispatchEvents
{
    std::function<void(const QString& N)> Found;                               // about to be uploaded
    std::function<void(const QString& N, const QString& Q)> Sent;              // accepted, queue identifier Q
    std::function<void(const QString& N, const QString& archived)> Archived;   // now in Inviate at that path
    TInvoiceRefused Refused;                                                    // now in Errori
};

// The sub-folders of the outgoing folder that hold the archived invoices.
inline const QString kCartellaInviate = QStringLiteral("Inviate");
inline const QString kCartellaErrori = QStringLiteral("Errori");
inline const QString kErrorTextSuffix = QStringLiteral("_ERRORE.log");
// The cycle's own files in the outgoing folder: the lock held by the one cycle that serves the
// folder, and the record of accepted uploads (TDispatchJournal).
inline const QString kDispatchBookkeepingPrefix = QStringLiteral(".vorn-dispatch.");
inline const QString kDispatchLockName = kDispatchBookkeepingPrefix + QStringLiteral("lock");

// The settings check of the outgoing folder, on the text the cycle will work on: it must name an
// existing folder, which then gets the sub-folders "Inviate" and "Errori" where they are missing.
// Throws EVornError "Cartella indicata per le fatture da inviare non esiste", or "Errore in
// creazione cartella fatture inviate: " / "Errore in creazione cartella fatture in errore: "
// followed by the sub-folder's path. A sub-folder made before a failure stays.
void PrepareOutgoingFolder(const QString& folder);

// One pass over the outgoing folder: every invoice file in it is uploaded and then archived, into
// "Inviate" when the backend accepted it, into "Errori" beside its error text when the backend
// refused it. Any other failure ends the pass and leaves that file and the ones after it in place.
// Whatever fails, an invoice file is in exactly one of the three folders, byte for byte as dropped.
// One cycle at a time serves a folder, and an upload the backend accepted is never repeated: the
// acceptance is recorded (TDispatchJournal) before the file is moved, so a cycle that was cut off
// in between is completed by the next one without a second upload.
class TOutgoingDispatch
{
public:
    // wait(ms) is the pause before the uploads; the window passes WaitPumping so that its events
    // (a tray double-click among them) go on being handled meanwhile. stopRequested, when given,
    // is asked before every invoice: once it holds, the pass ends after the invoice in hand, and
    // the files not yet looked at stay for the next one.
    TOutgoingDispatch(QString folder, QStringList xmlMask, TDVBackendService& client,
                      std::function<void(quint32)> wait, std::function<bool()> stopRequested = {});

    void SetEvents(TDispatchEvents events) { FEvents = std::move(events); }
    void SetInvoiceRefused(TInvoiceRefused refused) { FEvents.Refused = std::move(refused); }

    // Returns how many invoices the backend accepted or refused in this pass: 0 when there was
    // nothing to send, so the pass says nothing about whether the backend can be reached.
    int ProcessOutgoingInvoices();

    // Uploads the file N of the outgoing folder; returns the backend's queue identifier, or throws
    // EInvioException when the backend refused the file.
    QString SendInvoice(const QString& N, bool FatturaInversa);

    static constexpr quint32 kPauseBeforeUploadMs = 3000;

private:
    // Nothing for a file that is not an invoice.
    std::optional<TArchiveName> ArchiveNameOf(const QString& N) const;
    // An invoice whose name is not UTF-8 cannot be opened under any text we have, so it stays where
    // it is; it is named in a warning the first time a process sees it ("?" for the bytes).
    void WarnOnceAboutUnmappable(const QStringList& unmappable) const;
    // Archives what the backend accepted in an earlier cycle that did not get to archive it; the
    // names whose archiving failed again, which must not be uploaded a second time.
    QSet<QString> ArchiveRecordedUploads(TDispatchJournal& journal);
    void RecordAcceptance(TDispatchJournal& journal, const QString& N, const QString& Q);
    void ArchiveAccepted(const QString& N, const TArchiveName& archive, const QString& Q);
    void ArchiveRefused(const QString& N, const TArchiveName& archive, const EInvioException& refusal);
    void MoveOrFail(const QString& N, const QString& target);

    QString FFolder;
    QStringList FXmlMask;
    TDVBackendService& FClient;
    std::function<void(quint32)> FWait;
    std::function<bool()> FStopRequested;
    TDispatchEvents FEvents;
};

// Writes the error text file of a refused invoice: three lines in Windows-1252, each ending with
// CR LF. An existing file of that name is replaced as a whole or not at all. Throws EInOutError
// "Cannot create file "<path>". <reason>" when it cannot be written.
void WriteErrorText(const QString& path, const QString& N, const QString& message);
