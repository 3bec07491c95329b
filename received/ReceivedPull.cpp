#include "received/ReceivedPull.h"

#include "backend/DVBackendService.h"
#include "log/LogFile.h"
#include "received/ReceivedDocument.h"
#include "util/FileLock.h"
#include "util/Folders.h"
#include "util/SafeWrite.h"
#include "util/UniqueFd.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

QString PullProblemText(const TPullProblem& problem)
{
    static const QHash<TPullFault, QString> kTexts = {
        {TPullFault::NoIdentifier,
         QStringLiteral(
             "Fattura ricevuta %1 (%2) non scaricata: il server l'ha elencata senza un identificativo "
             "utilizzabile")},
        {TPullFault::Refused, QStringLiteral("Fattura ricevuta %1 (%2) non scaricata: %3")},
        {TPullFault::RefusedWithoutMessage,
         QStringLiteral(
             "Fattura ricevuta %1 (%2) non scaricata: il server l'ha rifiutata senza un messaggio")},
        {TPullFault::EmptyDocument,
         QStringLiteral("Fattura ricevuta %1 (%2) non scaricata: il server ha inviato un documento vuoto")},
        {TPullFault::CannotWrite,
         QStringLiteral("Fattura ricevuta %1 (%2) non scaricata: impossibile scrivere %3: %4")},
        {TPullFault::NamesTaken,
         QStringLiteral("Fattura ricevuta %1 (%2) non scaricata: i nomi %3 e %4 sono già di altri file")},
        {TPullFault::ListFailed, QStringLiteral("Elenco delle fatture ricevute interrotto dopo %1: %2")},
        {TPullFault::TotalNotACount,
         QStringLiteral(
             "Elenco delle fatture ricevute interrotto: il totale '%1' del server non è un numero")},
        {TPullFault::ListedFewer,
         QStringLiteral("Elenco delle fatture ricevute interrotto: il server ne ha elencate %1 di %2, poi "
                        "nessuna")},
        {TPullFault::NothingNew,
         QStringLiteral("Elenco delle fatture ricevute interrotto: la pagina dalla posizione %1 non porta "
                        "nessuna fattura nuova")},
        {TPullFault::DiskFull,
         QStringLiteral("Ricezione fatture interrotta: il disco di %1 ha %2 MiB liberi, ne devono restare "
                        "almeno %3")},
        {TPullFault::NotAFolder, QStringLiteral("Cartella delle fatture ricevute inesistente: %1")},
        {TPullFault::IndexNotLocked, QStringLiteral("Impossibile bloccare %1: %2")},
        {TPullFault::IndexLockedOut,
         QStringLiteral("Impossibile bloccare %1: %2 (proprietario %3, permessi %4; il proprietario esegua: "
                        "chmod %5 '%1')")},
        {TPullFault::IndexNotOpened, QStringLiteral("Impossibile aprire %1: %2")},
        {TPullFault::IndexNotRead, QStringLiteral("Impossibile leggere %1: %2")},
        {TPullFault::IndexNotWritten, QStringLiteral("Impossibile scrivere %1: %2")},
    };
    QString text = kTexts.value(problem.Fault);
    for (const QString& argument : problem.Arguments)
        text = text.arg(argument);
    return text;
}

EPullError::EPullError(TPullProblem problem)
    : EVornError(PullProblemText(problem)), FProblem(std::move(problem))
{}

namespace {

// Files we create get what the umask leaves of this: the accounting program may run as another user.
constexpr mode_t kFileMode = 0666;

[[noreturn]] void ThrowIndexError(TPullFault fault, const QString& path, int error)
{
    throw EPullError({fault, {path, SystemErrorText(error)}});
}

// An index that another user made without the bits we need says whose it is and what to run.
[[noreturn]] void ThrowLockError(const QString& path, int error)
{
    const std::optional<TLockFileAccess> access =
        error == EACCES || error == EPERM ? LockFileAccess(path) : std::nullopt;
    if (!access)
        ThrowIndexError(TPullFault::IndexNotLocked, path, error);
    const auto octal = [](mode_t mode) { return QStringLiteral("%1").arg(mode, 4, 8, QLatin1Char('0')); };
    throw EPullError({TPullFault::IndexLockedOut,
                      {path, SystemErrorText(error), access->Owner, octal(access->Mode), octal(access->Shared)}});
}

// The identifiers already pulled into the folder, one line each, in the file whose lock keeps a
// second pull out of the folder while this one runs (an open file description lock: it goes with
// the file's last close, also when the process dies).
class TPullIndex
{
public:
    TPullIndex(QString path, TFileLock lock) : FPath(std::move(path)), FLock(std::move(lock))
    {
        if (::fcntl(Fd(), F_SETFL, O_APPEND) != 0)
            ThrowIndexError(TPullFault::IndexNotOpened, FPath, errno);
        // A line cut off by a crash is no record; the next one must not be glued to it.
        struct stat info;
        char last = '\n';
        if (::fstat(Fd(), &info) != 0)
            ThrowIndexError(TPullFault::IndexNotRead, FPath, errno);
        if (info.st_size > 0 && ::pread(Fd(), &last, 1, info.st_size - 1) != 1)
            ThrowIndexError(TPullFault::IndexNotRead, FPath, errno);
        if (last != '\n')
            Append("");
    }

    // Of the identifiers asked, those already pulled. The file is read through for each page, so
    // that memory stays the same however many invoices the folder has had.
    QSet<QString> Pulled(const QSet<QString>& asked) const
    {
        QSet<QString> found;
        QByteArray pending;
        char buffer[65536];
        for (off_t offset = 0;;) {
            const ssize_t n = ::pread(Fd(), buffer, sizeof buffer, offset);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                ThrowIndexError(TPullFault::IndexNotRead, FPath, errno);
            if (n == 0)
                break;
            offset += n;
            pending.append(buffer, n);
            qsizetype start = 0;
            for (qsizetype end; (end = pending.indexOf('\n', start)) >= 0; start = end + 1) {
                const QString id = QString::fromUtf8(pending.constData() + start, end - start);
                if (asked.contains(id))
                    found.insert(id);
            }
            pending.remove(0, start);
        }
        return found;
    }

    // On the disk before the next invoice is asked for.
    void Add(const QString& id) { Append(id.toUtf8()); }

private:
    void Append(const QByteArray& line)
    {
        if (const int error = WriteAll(Fd(), line + '\n'))
            ThrowIndexError(TPullFault::IndexNotWritten, FPath, error);
        if (::fdatasync(Fd()) != 0)
            ThrowIndexError(TPullFault::IndexNotWritten, FPath, errno);
    }

    int Fd() const { return FLock.Fd(); }

    QString FPath;
    TFileLock FLock;
};

// What a killed pull left: its temporaries, found by their prefix, that are regular files of ours.
// Only the holder of the index calls this, so no pull is writing one now.
void RemoveLeftTemporaries(const QString& folder)
{
    const QDir dir(folder);
    const QStringList names =
        dir.entryList({kPullTemporaryPrefix + u'*'}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        const QString random = name.mid(kPullTemporaryPrefix.size());
        if (random.size() != TNewFile::kTemporaryRandomLength ||
            !std::all_of(random.begin(), random.end(),
                         [](QChar c) { return c.isLetterOrNumber() && c < u'\x80'; }))
            continue;
        const QByteArray path = QFile::encodeName(dir.filePath(name));
        struct stat info;
        if (::lstat(path.constData(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid())
            (void)::unlink(path.constData());
    }
}

// A regular file at path holding exactly these bytes.
bool HoldsExactly(const QString& path, const QByteArray& content)
{
    const TUniqueFd fd = OpenRegularFile(QFile::encodeName(path), O_RDONLY);
    struct stat info;
    if (!fd.IsOpen() || ::fstat(fd.Get(), &info) != 0 || info.st_size != content.size())
        return false;
    QFile file;
    return file.open(fd.Get(), QIODevice::ReadOnly) && file.readAll() == content;
}

bool UsableIdentifier(const QString& id)
{
    return !id.isEmpty() && std::none_of(id.begin(), id.end(), [](QChar c) { return c.unicode() < 0x20; });
}

// The bytes the disk of folder still gives to us; -1 when it cannot say.
qint64 FreeBytes(const QString& folder)
{
    struct statvfs info;
    if (::statvfs(QFile::encodeName(folder).constData(), &info) != 0)
        return -1;
    return qint64(info.f_bavail) * qint64(info.f_frsize);
}

QString MiB(qint64 bytes)
{
    return QString::number(std::max<qint64>(bytes, 0) >> 20);
}

enum class TOutcome
{
    New,
    AlreadyThere,
    Failed,
    DiskFull, // not written; the run stops
};

struct TOneInvoice
{
    TOutcome Outcome;
    TPullProblem Problem;
};

TOneInvoice Failure(const TFAEPassiva& fattura, TPullFault fault, QStringList details = {})
{
    return {TOutcome::Failed, {fault, QStringList{fattura.IdFattura(), fattura.Nomefile()} + details}};
}

// Fetches one invoice and writes it under its name, or under its name with its identifier when a
// file with other bytes has that name. A file there with these very bytes is this invoice,
// written by a pull that ended before the index could record it.
TOneInvoice PullOne(TDVBackendService& client, const TPullOptions& options, const TFAEPassiva& fattura,
                    TPullIndex& index)
{
    const QString& id = fattura.IdFattura();
    QByteArray content;
    QString suggested;
    try {
        const std::unique_ptr<TFAEGetXmlById> document = client.FAEGetXmlbyId(id);
        content = DecodeDocumentBase64(document->FileBase64());
        suggested = document->NomeFileBase64().isEmpty() ? fattura.Nomefile() : document->NomeFileBase64();
    } catch (const EVornError& e) {
        return e.Message().isEmpty() ? Failure(fattura, TPullFault::RefusedWithoutMessage)
                                     : Failure(fattura, TPullFault::Refused, {e.Message()});
    }
    if (content.isEmpty())
        return Failure(fattura, TPullFault::EmptyDocument);
    const qint64 free = FreeBytes(options.Folder);
    if (free >= 0 && free - content.size() < options.MinFreeBytes)
        return {TOutcome::DiskFull,
                {TPullFault::DiskFull, {options.Folder, MiB(free), MiB(options.MinFreeBytes)}}};

    const QString name = SafeDocumentFileName(suggested, id);
    const QByteArray temporaryPrefix = QFile::encodeName(kPullTemporaryPrefix);
    for (const QString& candidate : {name, FileNameWithIdentifier(name, id)}) {
        const QString path = JoinPath(options.Folder, candidate);
        const int error = CreateFileWhole(QFile::encodeName(path), content, kFileMode, temporaryPrefix);
        if (error == 0 || (error == EEXIST && HoldsExactly(path, content))) {
            index.Add(id);
            return {error == 0 ? TOutcome::New : TOutcome::AlreadyThere, {}};
        }
        if (error != EEXIST)
            return Failure(fattura, TPullFault::CannotWrite, {path, SystemErrorText(error)});
    }
    return Failure(fattura, TPullFault::NamesTaken, {name, FileNameWithIdentifier(name, id)});
}

} // namespace

TPullSummary PullReceivedInvoices(TDVBackendService& client, const TPullOptions& options,
                                  const TPullReport& report)
{
    if (!FolderExists(options.Folder))
        throw EPullError({TPullFault::NotAFolder, {options.Folder}});
    TPullSummary summary;
    summary.NextOffset = options.Offset;
    const QString indexPath = JoinPath(options.Folder, kPullIndexFileName);
    TFileLock lock = options.WaitForIndex ? TFileLock::Acquire(indexPath,
                                                               [&] {
                                                                   if (report.Waiting)
                                                                       report.Waiting();
                                                               })
                                          : TFileLock::TryAcquire(indexPath);
    if (lock.State() == TFileLock::TState::Busy) {
        summary.Skipped = true;
        return summary;
    }
    if (lock.State() != TFileLock::TState::Held)
        ThrowLockError(indexPath, lock.Error());
    TPullIndex index(indexPath, std::move(lock));
    RemoveLeftTemporaries(options.Folder);

    const auto outOfTime = [&] {
        return options.Deadline && std::chrono::steady_clock::now() >= *options.Deadline;
    };
    // Hashes, not the identifiers: a run over years of invoices keeps a few bytes for each.
    QSet<size_t> seen;
    qsizetype fetched = 0;
    qint64 offset = options.Offset;
    qint64 total = 0;
    do {
        if (outOfTime()) {
            summary.Cut = true;
            break;
        }
        summary.NextOffset = offset;
        std::unique_ptr<TFAEPassivaSearch> page;
        try {
            page = client.FAEPassivaSearch(options.PageSize, qint32(offset), {}, options.Since, 0, {}, {}, {},
                                           {}, 0, 0, 0, {}, {}, {}, {});
        } catch (const EVornError& e) {
            summary.Stopped = {TPullFault::ListFailed, {QString::number(offset), e.Message()}};
            break;
        }
        bool isCount = false;
        total = page->NumeroTotale().toLongLong(&isCount);
        if (!isCount || total < 0) {
            summary.Stopped = {TPullFault::TotalNotACount, {page->NumeroTotale()}};
            break;
        }
        if (page->Fatture().empty()) {
            if (offset < total)
                summary.Stopped = {TPullFault::ListedFewer,
                                   {QString::number(offset), QString::number(total)}};
            break;
        }

        QSet<QString> ids;
        bool bringsNew = false;
        for (const auto& fattura : page->Fatture()) {
            ids.insert(fattura->IdFattura());
            const size_t hash = qHash(fattura->IdFattura());
            bringsNew = bringsNew || !seen.contains(hash);
            seen.insert(hash);
        }
        if (!bringsNew) {
            summary.Stopped = {TPullFault::NothingNew, {QString::number(offset)}};
            break;
        }
        const QSet<QString> pulled = index.Pulled(ids);
        for (const auto& fattura : page->Fatture()) {
            TOneInvoice one{TOutcome::AlreadyThere, {}};
            if (!pulled.contains(fattura->IdFattura())) {
                if (!UsableIdentifier(fattura->IdFattura())) {
                    one = Failure(*fattura, TPullFault::NoIdentifier);
                } else if ((options.MaxDocuments > 0 && fetched >= options.MaxDocuments) || outOfTime()) {
                    summary.Cut = true;
                    return summary;
                } else {
                    ++fetched;
                    one = PullOne(client, options, *fattura, index);
                }
            }
            if (one.Outcome == TOutcome::DiskFull) {
                summary.Stopped = one.Problem;
                return summary;
            }
            summary.New += one.Outcome == TOutcome::New;
            summary.AlreadyThere += one.Outcome == TOutcome::AlreadyThere;
            summary.Failed += one.Outcome == TOutcome::Failed;
            if (one.Outcome == TOutcome::Failed && report.Problem)
                report.Problem(one.Problem);
            if (report.Progress)
                report.Progress(summary.New + summary.AlreadyThere + summary.Failed, total);
        }
        offset += qint64(page->Fatture().size());
    } while (offset < total);
    return summary;
}

TReceivedPassResult RunReceivedPass(TDVBackendService& client, const QString& folder,
                                    std::chrono::milliseconds budget, qsizetype maxDocuments)
{
    // Where a pass that was cut goes on, by folder, for the life of the process.
    static std::mutex cursorsLock;
    static QHash<QString, qint64> cursors;
    const QString key = QDir::cleanPath(QDir(folder).absolutePath());

    TPullOptions options;
    options.Folder = folder;
    options.MaxDocuments = maxDocuments;
    options.Deadline = std::chrono::steady_clock::now() + budget;
    options.WaitForIndex = false;
    {
        const std::lock_guard guard(cursorsLock);
        options.Offset = cursors.value(key, 0);
    }
    TPullReport report;
    report.Problem = [](const TPullProblem& problem) {
        if (AppLog)
            AppLog->WriteLogWrn(PullProblemText(problem));
    };
    const TPullSummary summary = PullReceivedInvoices(client, options, report);
    {
        const std::lock_guard guard(cursorsLock);
        if (summary.Cut || summary.Skipped)
            cursors.insert(key, summary.NextOffset);
        else
            cursors.remove(key);
    }
    return {summary.New, summary.Failed, summary.Skipped,
            summary.Stopped ? PullProblemText(*summary.Stopped) : QString()};
}
