#include "cli/CliDocument.h"

#include "config/Settings.h"
#include "dispatch/OutgoingDispatch.h"
#include "log/LogFile.h"
#include "received/ReceivedPull.h"
#include "util/Errors.h"
#include "util/SafeWrite.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>

bool IsProgramFileName(const QString& fileName)
{
    const QString name = QFileInfo(fileName).fileName();
    const QString names[] = {kConfigFileName, kLogFileName, TLogFile::HistoryFileName(kLogFileName),
                             kTrackCacheFileName};
    const QString prefixes[] = {kDispatchBookkeepingPrefix, kPullBookkeepingPrefix};
    return std::find(std::begin(names), std::end(names), name) != std::end(names) ||
           std::any_of(std::begin(prefixes), std::end(prefixes),
                       [&](const QString& prefix) { return name.startsWith(prefix); });
}

void WriteDocumentFile(const QString& fileName, const QByteArray& content, bool replace)
{
    // Not created either: a document the backend named after the track cache would be read as one.
    if (IsProgramFileName(fileName))
        throw EVornError(
            QStringLiteral("%1 is one of the program's own files and is never written by a download; choose "
                           "another name with --out")
                .arg(fileName));
    const QByteArray target = QFile::encodeName(fileName);
    // Without --force the rename itself refuses an existing name, so nothing that appears meanwhile
    // is replaced either.
    const int error = replace ? ReplaceFile(target, content, 0666) : CreateFileWhole(target, content, 0666);
    if (error == EEXIST && !replace)
        throw EVornError(
            QStringLiteral("%1 already exists; choose another name with --out or replace it with --force")
                .arg(fileName));
    if (error != 0)
        throw EVornError(QStringLiteral("Cannot write %1: %2").arg(fileName, SystemErrorText(error)));
}
