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
#include "util/WriterCheck.h"

#include <QFile>
#include <QLocale>
#include <QScopeGuard>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>

namespace {

const QString kArchiveFailure = QStringLiteral("Errore in archiviazione fattura dopo invio: ");

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

QByteArray ErrorTextContent(const QString& N, const QString& message)
{
    return ToWindows1252(QStringLiteral("Errore durante tentativo di invio fattura: ") + N +
                         QStringLiteral("\r\n") + QStringLiteral("Messaggio: \r\n") + message +
                         QStringLiteral("\r\n"));
}

// Anything of that name in the open folder, a dangling link included: the move would refuse to
// replace it.
bool NameTaken(int folder, const QString& name)
{
    struct stat info;
    return ::fstatat(folder, QFile::encodeName(name).constData(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

// Why a file or folder could not be opened, as the log says it.
QString OpenFailureText(int error)
{
    switch (error) {
    case EPERM:
        return QStringLiteral("collegamento simbolico di un altro utente");
    case EBUSY:
        return QStringLiteral("un altro programma la sta scrivendo");
    case EINVAL:
        return QStringLiteral("non è un file regolare");
    case EFBIG:
        return QStringLiteral("più grande di %1 byte").arg(TOutgoingDispatch::kMaxInvoiceBytes);
    default:
        return SystemErrorText(error);
    }
}

// Once per process: a file that stays there must not fill the log at every tick.
void WarnOncePerProcess(const QString& text)
{
    static std::mutex lock;
    static QSet<QString> reported;
    {
        const std::lock_guard guard(lock);
        if (reported.contains(text))
            return;
        reported.insert(text);
    }
    if (AppLog)
        AppLog->WriteLogWrn(text);
}

QString LockFailureText(const QString& lockPath, int error)
{
    QString text = QStringLiteral("Blocco della cartella per l'invio non riuscito: %1. %2")
                       .arg(lockPath, SystemErrorText(error));
    const std::optional<TLockFileAccess> access =
        error == EACCES || error == EPERM ? LockFileAccess(lockPath) : std::nullopt;
    if (access)
        text += QStringLiteral(" (proprietario %1, permessi %2; il proprietario esegua: chmod %3 '%4')")
                    .arg(access->Owner)
                    .arg(access->Mode, 4, 8, QLatin1Char('0'))
                    .arg(access->Shared, 4, 8, QLatin1Char('0'))
                    .arg(lockPath);
    return text;
}

} // namespace

// One invoice as read for its upload: the bytes that are sent, recorded and archived, and the
// file they came from.
struct TOutgoingDispatch::TReadInvoice
{
    QByteArray Bytes;
    TInvoiceContent Content;
    dev_t Device = 0;
    ino_t Inode = 0;
    struct timespec Modified = {};
};

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
    // Written beside the target and renamed over it, so a crash never leaves a cut-off text.
    if (const int error = ReplaceFile(QFile::encodeName(path), ErrorTextContent(N, message), 0666))
        ThrowCannotCreate(path, error);
}

TOutgoingDispatch::TOutgoingDispatch(QString folder, QStringList xmlMask, TDVBackendService& client,
                                     std::function<void(quint32)> wait, std::function<bool()> stopRequested)
    : FFolder(std::move(folder)), FXmlMask(std::move(xmlMask)), FClient(client), FWait(std::move(wait)),
      FStopRequested(std::move(stopRequested))
{}

namespace {

QString QueueIdentifierOf(const TFAESendXml& answer)
{
    if (!answer.Error().isEmpty())
        throw EInvioException(QStringLiteral("Errore in invio fattura: ") + answer.Error(), answer.Error());
    return answer.IdCodaInvio_1();
}

void LogUpload(const QString& N)
{
    if (AppLog)
        AppLog->WriteLog(QStringLiteral("InviaFattura: ") + N);
}

} // namespace

QString TOutgoingDispatch::SendInvoice(const QString& N, bool FatturaInversa)
{
    LogUpload(N);
    return QueueIdentifierOf(*FClient.FAESendXml(JoinPath(FFolder, N), FatturaInversa));
}

QString TOutgoingDispatch::SendInvoice(const QString& N, const QByteArray& content, bool FatturaInversa)
{
    LogUpload(N);
    return QueueIdentifierOf(*FClient.FAESendXml(content, N, FatturaInversa));
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
        throw EInOutError(LockFailureText(lockPath, lock.Error()), lock.Error());
    }
    const auto closeFolders = qScopeGuard([this] {
        FOutgoing = TUniqueFd();
        FInviate = TUniqueFd();
        FErrori = TUniqueFd();
    });
    FOutgoing = TUniqueFd(::open(QFile::encodeName(FFolder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!FOutgoing.IsOpen())
        throw EInOutError(QStringLiteral("Cannot open file \"%1\". %2").arg(FFolder, SystemErrorText(errno)),
                          errno);

    TDispatchJournal journal(FFolder);
    journal.Load();
    if (!journal.Entries().empty())
        OpenArchiveFolders();
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
    // Before anything is sent: an upload whose file could not be archived would be repeated.
    if (std::any_of(names->cbegin(), names->cend(), [this](const QString& N) { return ArchiveNameOf(N); }))
        OpenArchiveFolders();
    FWait(kPauseBeforeUploadMs);

    int answered = 0;
    for (const QString& N : *names) {
        if (FStopRequested && FStopRequested())
            return answered;
        const std::optional<TArchiveName> archive = ArchiveNameOf(N);
        // Accepted already; its archiving failed just now and is tried again at the next cycle.
        if (!archive || unarchived.contains(N))
            continue;
        // A lock file removed or replaced lets a second cycle in, which would send the same files.
        if (!lock.StillAtPath()) {
            if (AppLog)
                AppLog->WriteLogWrn(QStringLiteral("Invio interrotto: il blocco %1 è stato rimosso o "
                                                   "sostituito durante il passaggio")
                                        .arg(lockPath));
            return answered;
        }
        TReadInvoice read;
        if (const int error = ReadInvoice(N, read)) {
            // Gone since the listing: nothing to say.
            if (error != ENOENT)
                WarnSkipped(N, error);
            continue;
        }
        if (FEvents.Found)
            FEvents.Found(N);
        try {
            const QString Q = SendInvoice(N, read.Bytes, false);
            ++answered;
            if (FEvents.Sent)
                FEvents.Sent(N, Q);
            RecordAcceptance(journal, N, read, Q);
            ArchiveAccepted(N, *archive, Q, read);
            journal.Forget(N);
        } catch (const EInvioException& refusal) {
            ++answered;
            ArchiveRefused(N, *archive, refusal, read);
            if (FEvents.Refused)
                FEvents.Refused(N, refusal.BackendText());
        }
    }
    return answered;
}

void TOutgoingDispatch::OpenArchiveFolders()
{
    if (FInviate.IsOpen() && FErrori.IsOpen())
        return;
    // A link is accepted from us or from whoever owns the outgoing folder (who could replace the
    // folder anyway); anybody else's would lead the archive into a folder of their choosing.
    struct stat outgoing;
    if (::fstat(FOutgoing.Get(), &outgoing) != 0)
        throw EInOutError(QStringLiteral("Cannot open file \"%1\". %2").arg(FFolder, SystemErrorText(errno)),
                          errno);
    for (const auto& [name, fd] : {std::pair{&kCartellaInviate, &FInviate}, std::pair{&kCartellaErrori, &FErrori}}) {
        *fd = OpenThroughOwnLinks(FOutgoing.Get(), QFile::encodeName(*name), O_RDONLY | O_DIRECTORY,
                                  outgoing.st_uid);
        if (!fd->IsOpen())
            throw EVornError(QStringLiteral("Cartella di archivio non utilizzabile: %1 (%2)")
                                 .arg(JoinPath(FFolder, *name), OpenFailureText(errno)));
    }
}

int TOutgoingDispatch::ReadInvoice(const QString& N, TReadInvoice& read) const
{
    // Non-blocking: a FIFO put in a file's place must not hang the pass.
    const TUniqueFd fd =
        OpenThroughOwnLinks(FOutgoing.Get(), QFile::encodeName(N), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (!fd.IsOpen())
        return errno;
    if (const int error = ReadWholeUnshared(fd.Get(), kMaxInvoiceBytes, read.Bytes))
        return error;
    struct stat info;
    if (::fstat(fd.Get(), &info) != 0)
        return errno;
    read.Content = ContentOfBytes(read.Bytes);
    read.Device = info.st_dev;
    read.Inode = info.st_ino;
    read.Modified = info.st_mtim;
    return 0;
}

void TOutgoingDispatch::WarnSkipped(const QString& N, int error) const
{
    WarnOncePerProcess(QStringLiteral("Fattura saltata in questo passaggio (%1): %2")
                           .arg(OpenFailureText(error), JoinPath(FFolder, N)));
}

void TOutgoingDispatch::WarnOnceAboutUnmappable(const QStringList& unmappable) const
{
    for (const QString& shown : unmappable)
        if (ArchiveNameOf(shown))
            WarnOncePerProcess(QStringLiteral("Fattura non inviata, il nome del file non è UTF-8: ") +
                               JoinPath(FFolder, shown));
}

QSet<QString> TOutgoingDispatch::ArchiveRecordedUploads(TDispatchJournal& journal)
{
    QSet<QString> unarchived;
    const std::vector<TAcceptedUpload> entries = journal.Entries();
    for (const TAcceptedUpload& entry : entries) {
        const QString& N = entry.FileName;
        const std::optional<TArchiveName> archive = ArchiveNameOf(N);
        TReadInvoice read;
        const int error = archive ? ReadInvoice(N, read) : ENOENT;
        if (error != 0 && error != ENOENT) {
            // Whether it is the document sent cannot be told now: it is neither sent nor forgotten.
            WarnSkipped(N, error);
            unarchived.insert(N);
            continue;
        }
        // Gone, or replaced by another document of the same name: that one has not been sent.
        if (error == 0 && read.Content == entry.Content) {
            if (AppLog)
                AppLog->WriteLog(QStringLiteral("Fattura già accettata (IdCodaInvio %1), archiviata senza "
                                                "nuovo invio: %2")
                                     .arg(entry.IdCoda, N));
            try {
                ArchiveAccepted(N, *archive, entry.IdCoda, read);
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

void TOutgoingDispatch::RecordAcceptance(TDispatchJournal& journal, const QString& N, const TReadInvoice& read,
                                         const QString& Q)
{
    try {
        journal.Record({N, read.Content, Q});
    } catch (const EVornError& failure) {
        // Without the record a crash before the move would mean a second upload; the move itself
        // does not need it, so the invoice is still archived now.
        if (AppLog)
            AppLog->WriteLogErr(failure.Message());
    }
}

void TOutgoingDispatch::ArchiveAccepted(const QString& N, const TArchiveName& archive, const QString& Q,
                                        const TReadInvoice& read)
{
    const QString target = ArchiveFileName(archive, Q);
    Archive(N, read, FInviate.Get(), kCartellaInviate, target);
    if (FEvents.Archived)
        FEvents.Archived(N, JoinPath(JoinPath(FFolder, kCartellaInviate), target));
}

void TOutgoingDispatch::ArchiveRefused(const QString& N, const TArchiveName& archive,
                                       const EInvioException& refusal, const TReadInvoice& read)
{
    const QString errori = JoinPath(FFolder, kCartellaErrori);
    QString target = N;
    if (NameTaken(FErrori.Get(), target)) {
        target = ArchiveFileName(archive, TimestampText());
        // The move could not take that name either; writing the error text first would replace
        // the one that belongs to the invoice already there.
        if (NameTaken(FErrori.Get(), target))
            throw EVornError(kArchiveFailure + N + QStringLiteral(" -> ") + JoinPath(errori, target));
    }
    // Written beside the target and renamed over it, so a crash never leaves a cut-off text.
    const QString errorText = target + kErrorTextSuffix;
    if (const int error = ReplaceFileAt(FErrori.Get(), QFile::encodeName(errorText),
                                        ErrorTextContent(N, refusal.Message()), 0666))
        ThrowCannotCreate(JoinPath(errori, errorText), error);
    Archive(N, read, FErrori.Get(), kCartellaErrori, target);
}

void TOutgoingDispatch::Archive(const QString& N, const TReadInvoice& read, int folder,
                                const QString& folderName, const QString& target)
{
    const QString targetPath = JoinPath(JoinPath(FFolder, folderName), target);
    const QByteArray name = QFile::encodeName(N);
    struct stat now;
    const TUniqueFd current = OpenThroughOwnLinks(FOutgoing.Get(), name, O_PATH);
    const bool same = current.IsOpen() && ::fstat(current.Get(), &now) == 0 && now.st_dev == read.Device &&
                      now.st_ino == read.Inode && now.st_size == read.Bytes.size() &&
                      now.st_mtim.tv_sec == read.Modified.tv_sec && now.st_mtim.tv_nsec == read.Modified.tv_nsec;
    if (same) {
        if (!MoveFileAt(FOutgoing.Get(), name, folder, QFile::encodeName(target)))
            throw EVornError(kArchiveFailure + N + QStringLiteral(" -> ") + targetPath);
        return;
    }
    // Replaced (or removed) since it was read: the archive gets what the backend received, and the
    // file now at that name is another document, sent at the next pass.
    if (CreateFileWholeAt(folder, QFile::encodeName(target), read.Bytes, 0666) != 0)
        throw EVornError(kArchiveFailure + N + QStringLiteral(" -> ") + targetPath);
    if (AppLog && current.IsOpen())
        AppLog->WriteLogWrn(QStringLiteral("Fattura sostituita durante l'invio: %1; in %2 la versione inviata, "
                                           "il nuovo file resta per il prossimo invio")
                                .arg(JoinPath(FFolder, N), targetPath));
    else if (AppLog)
        AppLog->WriteLogWrn(QStringLiteral("Fattura rimossa durante l'invio: %1; in %2 la versione inviata")
                                .arg(JoinPath(FFolder, N), targetPath));
}
