#include "dispatch/OutgoingDispatch.h"

#include "backend/DVBackendService.h"
#include "dispatch/DispatchJournal.h"
#include "log/LogFile.h"
#include "util/FileLock.h"
#include "util/FileMove.h"
#include "util/Folders.h"
#include "util/SafeWrite.h"
#include "util/Text.h"
#include "util/Timestamp.h"

#include <QFile>
#include <QLocale>
#include <QSet>

#include <cerrno>
#include <mutex>
#include <sys/stat.h>

namespace {

const QString kArchiveFailure = QStringLiteral("Errore in archiviazione fattura dopo invio: ");

// Anything of that name, a dangling link included: the move would refuse to replace it.
bool PathTaken(const QString& path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

[[noreturn]] void ThrowCannotCreate(const QString& path, int error)
{
    throw EInOutError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, SystemErrorText(error)),
                      error);
}

void EnsureSubFolder(const QString& folder, const QString& name, const QString& failureText)
{
    const QString path = JoinPath(folder, name);
    if (FolderExists(path))
        return;
    if (!MakeFolder(path))
        throw EVornError(failureText + path);
}

} // namespace

void PrepareOutgoingFolder(const QString& folder)
{
    if (!FolderExists(folder))
        throw EVornError(QStringLiteral("Cartella indicata per le fatture da inviare non esiste"));
    EnsureSubFolder(folder, kCartellaInviate,
                    QStringLiteral("Errore in creazione cartella fatture inviate: "));
    EnsureSubFolder(folder, kCartellaErrori,
                    QStringLiteral("Errore in creazione cartella fatture in errore: "));
}

void WriteErrorText(const QString& path, const QString& N, const QString& message)
{
    const QByteArray content = ToWindows1252(QStringLiteral("Errore durante tentativo di invio fattura: ") +
                                             N + QStringLiteral("\r\n") + QStringLiteral("Messaggio: \r\n") +
                                             message + QStringLiteral("\r\n"));

    // Written beside the target and renamed over it, so a crash never leaves a cut-off text.
    if (const int error = ReplaceFile(QFile::encodeName(path), content, 0666))
        ThrowCannotCreate(path, error);
}

TOutgoingDispatch::TOutgoingDispatch(QString folder, QStringList xmlMask, TDVBackendService& client,
                                     std::function<void(quint32)> wait, std::function<bool()> stopRequested)
    : FFolder(std::move(folder)), FXmlMask(std::move(xmlMask)), FClient(client), FWait(std::move(wait)),
      FStopRequested(std::move(stopRequested))
{}

QString TOutgoingDispatch::SendInvoice(const QString& N, bool FatturaInversa)
{
    if (AppLog)
        AppLog->WriteLog(QStringLiteral("InviaFattura: ") + N);
    const std::unique_ptr<TFAESendXml> answer = FClient.FAESendXml(JoinPath(FFolder, N), FatturaInversa);
    if (!answer->Error().isEmpty())
        throw EInvioException(QStringLiteral("Errore in invio fattura: ") + answer->Error(), answer->Error());
    return answer->IdCodaInvio_1();
}

std::optional<TArchiveName> TOutgoingDispatch::ArchiveNameOf(const QString& N) const
{
    return ::ArchiveNameOf(N, FXmlMask);
}

int TOutgoingDispatch::ProcessOutgoingInvoices()
{
    // One dispatcher per outgoing folder, for the whole cycle: a second program (or a second copy
    // of this one) on the same folder would upload the same files.
    const QString lockPath = JoinPath(FFolder, kDispatchLockName);
    const TFileLock lock = TFileLock::TryAcquire(lockPath);
    if (lock.State() == TFileLock::TState::Busy) {
        if (AppLog)
            AppLog->WriteLogWrn(QStringLiteral("Invio saltato: la cartella %1 è già servita da un altro "
                                               "processo (blocco %2 in uso)")
                                    .arg(FFolder, lockPath));
        return 0;
    }
    if (lock.State() == TFileLock::TState::Failed) {
        // A folder that is not there has nothing to send.
        if (lock.Error() == ENOENT || lock.Error() == ENOTDIR)
            return 0;
        throw EInOutError(QStringLiteral("Blocco della cartella per l'invio non riuscito: %1. %2")
                              .arg(lockPath, SystemErrorText(lock.Error())),
                          lock.Error());
    }

    TDispatchJournal journal(FFolder);
    journal.Load();
    const QSet<QString> unarchived = ArchiveRecordedUploads(journal);

    // Taken once: files that arrive during the pause or the uploads wait for the next tick.
    QStringList unmappable;
    const std::unique_ptr<QStringList> names =
        ListFolder(JoinPath(FFolder, QStringLiteral("*.*")), QLocale::system(), &unmappable);
    WarnOnceAboutUnmappable(unmappable);
    // The cycle's own lock and record are no reason to pause.
    names->removeIf([](const QString& name) { return name.startsWith(kDispatchBookkeepingPrefix); });
    if (names->isEmpty())
        return 0;
    FWait(kPauseBeforeUploadMs);

    int answered = 0;
    for (const QString& N : *names) {
        if (FStopRequested && FStopRequested())
            return answered;
        const std::optional<TArchiveName> archive = ArchiveNameOf(N);
        // Accepted already; its archiving failed just now and is tried again at the next cycle.
        if (!archive || unarchived.contains(N))
            continue;
        if (FEvents.Found)
            FEvents.Found(N);
        try {
            const QString Q = SendInvoice(N, false);
            ++answered;
            if (FEvents.Sent)
                FEvents.Sent(N, Q);
            RecordAcceptance(journal, N, Q);
            ArchiveAccepted(N, *archive, Q);
            journal.Forget(N);
        } catch (const EInvioException& refusal) {
            ++answered;
            ArchiveRefused(N, *archive, refusal);
            if (FEvents.Refused)
                FEvents.Refused(N, refusal.BackendText());
        }
    }
    return answered;
}

void TOutgoingDispatch::WarnOnceAboutUnmappable(const QStringList& unmappable) const
{
    // Once per process: a file that stays there must not fill the log at every tick.
    static std::mutex lock;
    static QSet<QString> reported;
    for (const QString& shown : unmappable) {
        if (!ArchiveNameOf(shown))
            continue;
        const QString path = JoinPath(FFolder, shown);
        {
            const std::lock_guard guard(lock);
            if (reported.contains(path))
                continue;
            reported.insert(path);
        }
        if (AppLog)
            AppLog->WriteLogWrn(QStringLiteral("Fattura non inviata, il nome del file non è UTF-8: ") + path);
    }
}

QSet<QString> TOutgoingDispatch::ArchiveRecordedUploads(TDispatchJournal& journal)
{
    QSet<QString> unarchived;
    const std::vector<TAcceptedUpload> entries = journal.Entries();
    for (const TAcceptedUpload& entry : entries) {
        const QString& N = entry.FileName;
        const std::optional<TArchiveName> archive = ArchiveNameOf(N);
        // Gone, or replaced by another document of the same name: that one has not been sent.
        if (archive && ContentOfFile(JoinPath(FFolder, N)) == entry.Content) {
            if (AppLog)
                AppLog->WriteLog(QStringLiteral("Fattura già accettata (IdCodaInvio %1), archiviata senza "
                                                "nuovo invio: %2")
                                     .arg(entry.IdCoda, N));
            try {
                ArchiveAccepted(N, *archive, entry.IdCoda);
            } catch (const EVornError& failure) {
                // The entry stays, so the file is never sent again; the other invoices go on.
                if (AppLog)
                    AppLog->WriteLogErr(failure.Message());
                unarchived.insert(N);
                continue;
            }
        }
        journal.Forget(N);
    }
    return unarchived;
}

void TOutgoingDispatch::RecordAcceptance(TDispatchJournal& journal, const QString& N, const QString& Q)
{
    const std::optional<TInvoiceContent> content = ContentOfFile(JoinPath(FFolder, N));
    try {
        if (!content)
            throw EInOutError(QStringLiteral("Cannot open file \"%1\". %2")
                                  .arg(JoinPath(FFolder, N), SystemErrorText(errno)),
                              errno);
        journal.Record({N, *content, Q});
    } catch (const EVornError& failure) {
        // Without the record a crash before the move would mean a second upload; the move itself
        // does not need it, so the invoice is still archived now.
        if (AppLog)
            AppLog->WriteLogErr(failure.Message());
    }
}

void TOutgoingDispatch::ArchiveAccepted(const QString& N, const TArchiveName& archive, const QString& Q)
{
    const QString target = JoinPath(JoinPath(FFolder, kCartellaInviate), ArchiveFileName(archive, Q));
    MoveOrFail(N, target);
    if (FEvents.Archived)
        FEvents.Archived(N, target);
}

void TOutgoingDispatch::ArchiveRefused(const QString& N, const TArchiveName& archive,
                                       const EInvioException& refusal)
{
    const QString errori = JoinPath(FFolder, kCartellaErrori);
    QString target = JoinPath(errori, N);
    if (PathTaken(target)) {
        target = JoinPath(errori, ArchiveFileName(archive, TimestampText()));
        // The move could not take that name either; writing the error text first would replace
        // the one that belongs to the invoice already there.
        if (PathTaken(target))
            throw EVornError(kArchiveFailure + N + QStringLiteral(" -> ") + target);
    }
    WriteErrorText(target + kErrorTextSuffix, N, refusal.Message());
    MoveOrFail(N, target);
}

void TOutgoingDispatch::MoveOrFail(const QString& N, const QString& target)
{
    if (!MoveFileTo(JoinPath(FFolder, N), target))
        throw EVornError(kArchiveFailure + N + QStringLiteral(" -> ") + target);
}
