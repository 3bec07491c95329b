#include "cli/CliDocument.h"

#include "util/Errors.h"
#include "util/SafeWrite.h"

#include <QFile>

#include <cerrno>

QByteArray DecodeDocumentBase64(const QString& base64)
{
    QByteArray compact;
    compact.reserve(base64.size());
    for (QChar c : base64) {
        if (c == u'\r' || c == u'\n' || c == u' ' || c == u'\t')
            continue;
        if (c.unicode() > 0x7F)
            throw EVornError(QStringLiteral("The document's content is not valid Base64"));
        compact.append(static_cast<char>(c.unicode()));
    }
    // Padding may be left out by some encoders; put it back so the strict decoder can check the rest.
    if (compact.size() % 4 != 0 && !compact.endsWith('='))
        compact.append(QByteArray(4 - compact.size() % 4, '='));
    const auto decoded = QByteArray::fromBase64Encoding(compact, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        throw EVornError(QStringLiteral("The document's content is not valid Base64"));
    return *decoded;
}

namespace {

QString WithoutUnsafeCharacters(const QString& text)
{
    static const QString kRefused = QStringLiteral("<>:\"|?*/\\");
    QString safe;
    for (QChar c : text)
        if (c.unicode() >= 0x20 && c.unicode() != 0x7F && !kRefused.contains(c))
            safe.append(c);
    return safe;
}

// Leading dots would hide the file (and "." or ".." would name a folder); trailing dots and
// blanks are dropped by some file systems, which would then write under another name.
QString TrimDotsAndBlanks(QString name)
{
    qsizetype start = 0;
    while (start < name.size() && (name[start] == u'.' || name[start] == u' '))
        ++start;
    qsizetype end = name.size();
    while (end > start && (name[end - 1] == u'.' || name[end - 1] == u' '))
        --end;
    return name.mid(start, end - start);
}

} // namespace

QString SafeDocumentFileName(const QString& suggested, const QString& idFattura)
{
    const qsizetype lastSeparator = std::max(suggested.lastIndexOf(u'/'), suggested.lastIndexOf(u'\\'));
    const QString name = TrimDotsAndBlanks(WithoutUnsafeCharacters(suggested.mid(lastSeparator + 1)));
    if (!name.isEmpty())
        return name;
    return TrimDotsAndBlanks(QStringLiteral("fattura_") + WithoutUnsafeCharacters(idFattura));
}

void WriteDocumentFile(const QString& fileName, const QByteArray& content, bool replace)
{
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
