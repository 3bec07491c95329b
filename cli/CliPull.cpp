#include "cli/CliPull.h"

#include "backend/DVBackendService.h"
#include "cli/CliDocument.h"
#include "dispatch/OutgoingDispatch.h"
#include "util/Errors.h"
#include "util/FileLock.h"
#include "util/Folders.h"
#include "util/SafeWrite.h"
#include "util/UniqueFd.h"

#include <QFile>
#include <QSet>

#include <cerrno>
#include <optional>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kIndexFileName = QStringLiteral(".vorn-pull.index");

// Files we create get what the umask leaves of this: the accounting program may run as another user.
constexpr mode_t kFileMode = 0666;

[[noreturn]] void ThrowFileError(const QString& what, const QString& path, int error)
{
    throw EInOutError(QStringLiteral("%1 %2: %3").arg(what, path, SystemErrorText(error)), error);
}

// The identifiers already pulled into the folder, one line each, and the lock that keeps a second
// pull out of the folder while this one runs (an open file description lock: it goes with the
// file's last close, also when the process dies).
class TPullIndex
{
public:
    TPullIndex(const QString& folder, const std::function<void(const QString&)>& waiting)
        : FPath(JoinPath(folder, kIndexFileName)), FLock(TFileLock::Acquire(FPath, [&] {
              if (waiting)
                  waiting(QStringLiteral("waiting for the other pull into %1").arg(folder));
          }))
    {
        if (FLock.State() != TFileLock::TState::Held)
            ThrowLockError();
        if (::fcntl(Fd(), F_SETFL, O_APPEND) != 0)
            ThrowFileError(QStringLiteral("cannot open"), FPath, errno);
        // A line cut off by a crash is no record; the next one must not be glued to it.
        struct stat info;
        char last = '\n';
        if (::fstat(Fd(), &info) != 0)
            ThrowFileError(QStringLiteral("cannot read"), FPath, errno);
        if (info.st_size > 0 && ::pread(Fd(), &last, 1, info.st_size - 1) != 1)
            ThrowFileError(QStringLiteral("cannot read"), FPath, errno);
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
                ThrowFileError(QStringLiteral("cannot read"), FPath, errno);
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
    // A lock file another user made without the bits we need says whose it is and what to run.
    [[noreturn]] void ThrowLockError() const
    {
        const int error = FLock.Error();
        const std::optional<TLockFileAccess> access =
            error == EACCES || error == EPERM ? LockFileAccess(FPath) : std::nullopt;
        if (!access)
            ThrowFileError(QStringLiteral("cannot lock"), FPath, error);
        throw EInOutError(QStringLiteral("cannot lock %1: %2 (owner %3, mode %4; its owner can run: chmod %5 '%1')")
                              .arg(FPath, SystemErrorText(error), access->Owner)
                              .arg(access->Mode, 4, 8, QLatin1Char('0'))
                              .arg(access->Shared, 4, 8, QLatin1Char('0')),
                          error);
    }

    void Append(const QByteArray& line)
    {
        if (const int error = WriteAll(Fd(), line + '\n'))
            ThrowFileError(QStringLiteral("cannot write"), FPath, error);
        if (::fdatasync(Fd()) != 0)
            ThrowFileError(QStringLiteral("cannot write"), FPath, errno);
    }

    int Fd() const { return FLock.Fd(); }

    QString FPath;
    TFileLock FLock;
};

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

enum class TOutcome
{
    New,
    AlreadyThere,
    Failed,
};

// Fetches one invoice and writes it under its name, or under its name with its identifier when a
// file with other bytes has that name. A file there with these very bytes is this invoice,
// written by a pull that ended before the index could record it.
TOutcome PullOne(TDVBackendService& client, const QString& folder, const TFAEPassiva& fattura,
                 TPullIndex& index, QString& problem)
{
    const QString& id = fattura.IdFattura();
    const QString label = QStringLiteral("invoice %1 (%2)").arg(id, fattura.Nomefile());
    if (!UsableIdentifier(id)) {
        problem = label + QStringLiteral(": the backend listed it without a usable identifier");
        return TOutcome::Failed;
    }
    QByteArray content;
    QString suggested;
    try {
        const std::unique_ptr<TFAEGetXmlById> document = client.FAEGetXmlbyId(id);
        content = DecodeDocumentBase64(document->FileBase64());
        suggested = document->NomeFileBase64().isEmpty() ? fattura.Nomefile() : document->NomeFileBase64();
    } catch (const EVornError& e) {
        problem = label + QStringLiteral(": ") +
                  (e.Message().isEmpty() ? QStringLiteral("the backend refused it without a message")
                                         : e.Message());
        return TOutcome::Failed;
    }
    if (content.isEmpty()) {
        problem = label + QStringLiteral(": the backend sent an empty document");
        return TOutcome::Failed;
    }

    const QString name = SafeDocumentFileName(suggested, id);
    for (const QString& candidate : {name, FileNameWithIdentifier(name, id)}) {
        const QString path = JoinPath(folder, candidate);
        const int error = CreateFileWhole(QFile::encodeName(path), content, kFileMode);
        if (error == 0 || (error == EEXIST && HoldsExactly(path, content))) {
            index.Add(id);
            return error == 0 ? TOutcome::New : TOutcome::AlreadyThere;
        }
        if (error != EEXIST) {
            problem = label + QStringLiteral(": cannot write %1: %2").arg(path, SystemErrorText(error));
            return TOutcome::Failed;
        }
    }
    problem =
        label +
        QStringLiteral(": %1 and %2 are taken by other files").arg(name, FileNameWithIdentifier(name, id));
    return TOutcome::Failed;
}

} // namespace

TPullSummary PullReceivedInvoices(TDVBackendService& client, const TPullOptions& options,
                                  const TPullReport& report)
{
    if (!FolderExists(options.Folder))
        throw EVornError(QStringLiteral("%1 is not a folder").arg(options.Folder));
    TPullIndex index(options.Folder, report.Waiting);

    TPullSummary summary;
    qint64 offset = 0;
    qint64 total = 0;
    do {
        std::unique_ptr<TFAEPassivaSearch> page;
        try {
            page = client.FAEPassivaSearch(options.PageSize, qint32(offset), {}, options.Since, 0, {}, {}, {},
                                           {}, 0, 0, 0, {}, {}, {}, {});
        } catch (const EVornError& e) {
            summary.Stopped = QStringLiteral("the list of received invoices failed after %1: %2")
                                  .arg(offset)
                                  .arg(e.Message());
            break;
        }
        bool isCount = false;
        total = page->NumeroTotale().toLongLong(&isCount);
        if (!isCount || total < 0) {
            summary.Stopped =
                QStringLiteral("the backend's total '%1' is not a count").arg(page->NumeroTotale());
            break;
        }
        if (page->Fatture().empty()) {
            if (offset < total)
                summary.Stopped =
                    QStringLiteral("the backend listed %1 of %2 invoices, then none").arg(offset).arg(total);
            break;
        }

        QSet<QString> ids;
        for (const auto& fattura : page->Fatture())
            ids.insert(fattura->IdFattura());
        const QSet<QString> pulled = index.Pulled(ids);
        for (const auto& fattura : page->Fatture()) {
            QString problem;
            const TOutcome outcome = pulled.contains(fattura->IdFattura())
                                         ? TOutcome::AlreadyThere
                                         : PullOne(client, options.Folder, *fattura, index, problem);
            summary.New += outcome == TOutcome::New;
            summary.AlreadyThere += outcome == TOutcome::AlreadyThere;
            summary.Failed += outcome == TOutcome::Failed;
            if (outcome == TOutcome::Failed && report.Problem)
                report.Problem(problem);
            if (report.Progress)
                report.Progress(summary.New + summary.AlreadyThere + summary.Failed, total);
        }
        offset += qint64(page->Fatture().size());
    } while (offset < total);
    return summary;
}
