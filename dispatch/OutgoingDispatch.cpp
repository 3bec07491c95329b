#include "dispatch/OutgoingDispatch.h"

#include "backend/DVBackendService.h"
#include "log/LogFile.h"
#include "util/FileMove.h"
#include "util/Folders.h"
#include "util/SafeWrite.h"
#include "util/Text.h"
#include "util/Timestamp.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <sys/stat.h>

namespace {

const QString kArchiveFailure = QStringLiteral("Errore in archiviazione fattura dopo invio: ");

// A name part that came from the backend must not lead the archive copy out of its folder.
QString SafeNamePart(QString text)
{
    return text.replace(QLatin1Char('/'), QLatin1Char('_')).replace(QChar(0), QLatin1Char('_'));
}

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
    if (!QDir().mkdir(path))
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

QString JoinPath(const QString& folder, const QString& name)
{
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
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
        throw EInvioException(QStringLiteral("Errore in invio fattura: ") + answer->Error());
    return answer->IdCodaInvio_1();
}

void TOutgoingDispatch::ProcessOutgoingInvoices()
{
    // Taken once: files that arrive during the pause or the uploads wait for the next tick.
    const std::unique_ptr<QStringList> names = ListFolder(JoinPath(FFolder, QStringLiteral("*.*")));
    if (names->isEmpty())
        return;
    FWait(kPauseBeforeUploadMs);

    for (const QString& N : *names) {
        if (FStopRequested && FStopRequested())
            return;
        const qsizetype dot = N.lastIndexOf(QLatin1Char('.'));
        if (dot < 0)
            continue;
        const qsizetype maskIndex = FXmlMask.indexOf(N.mid(dot).toLower());
        if (maskIndex < 0)
            continue;
        // The archive copy always carries the mask's lower-case extension.
        const QString& extension = FXmlMask.at(maskIndex);
        const QString base = N.left(dot);

        try {
            const QString Q = SendInvoice(N, false);
            ArchiveAccepted(N, base, extension, Q);
        } catch (const EInvioException& refusal) {
            ArchiveRefused(N, base, extension, refusal);
        }
    }
}

void TOutgoingDispatch::ArchiveAccepted(const QString& N, const QString& base, const QString& extension,
                                        const QString& Q)
{
    const QString target =
        JoinPath(JoinPath(FFolder, kCartellaInviate), base + QLatin1Char('_') + SafeNamePart(Q) + extension);
    MoveOrFail(N, target);
}

void TOutgoingDispatch::ArchiveRefused(const QString& N, const QString& base, const QString& extension,
                                       const EInvioException& refusal)
{
    const QString errori = JoinPath(FFolder, kCartellaErrori);
    QString target = JoinPath(errori, N);
    if (PathTaken(target)) {
        target = JoinPath(errori, base + QLatin1Char('_') + TimestampText() + extension);
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
