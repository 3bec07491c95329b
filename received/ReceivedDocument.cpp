#include "received/ReceivedDocument.h"

#include "dispatch/ArchiveName.h"
#include "util/Errors.h"

#include <QList>

#include <algorithm>

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

// Longer than this, a name's last "." part is text, not an extension worth keeping.
constexpr qsizetype kMaxExtensionLength = 16;

// Control and format characters (line breaks, bidirectional overrides, ...), a broken surrogate
// pair, and the characters that no file system takes or that separate folders.
QString WithoutUnsafeCharacters(const QString& text)
{
    static const QString kRefused = QStringLiteral("<>:\"|?*/\\");
    QString safe;
    for (const char32_t c : QStringView(text).toUcs4()) {
        const QChar::Category category = QChar::category(c);
        if (category == QChar::Other_Control || category == QChar::Other_Format ||
            category == QChar::Other_Surrogate || (c < 0x80 && kRefused.contains(QChar(c))))
            continue;
        safe.append(QString::fromUcs4(&c, 1));
    }
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

// Where the extension starts, or the name's length when it has none; an invoice's extension
// (a signed one's ".xml.p7m" among them) is one.
qsizetype ExtensionStart(const QString& name)
{
    if (const QString invoice = InvoiceExtension(name); !invoice.isEmpty())
        return name.size() - invoice.size();
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0 || name.size() - dot > kMaxExtensionLength)
        return name.size();
    return dot;
}

QString WithinNameLimit(const QString& name)
{
    const qsizetype extension = ExtensionStart(name);
    return WithinNameLimit(name.left(extension), name.mid(extension));
}

} // namespace

QString SafeDocumentFileName(const QString& suggested, const QString& idFattura)
{
    const qsizetype lastSeparator = std::max(suggested.lastIndexOf(u'/'), suggested.lastIndexOf(u'\\'));
    const QString name = TrimDotsAndBlanks(WithoutUnsafeCharacters(suggested.mid(lastSeparator + 1)));
    if (!name.isEmpty())
        return WithinNameLimit(name);
    return WithinNameLimit(
        TrimDotsAndBlanks(QStringLiteral("fattura_") + WithoutUnsafeCharacters(idFattura)));
}

QString FileNameWithIdentifier(const QString& safeName, const QString& idFattura)
{
    // Identifiers are short; a long one is cut so that the name keeps some of its own text.
    constexpr qsizetype kMaxIdentifierLength = 64;
    const qsizetype extension = ExtensionStart(safeName);
    return WithinNameLimit(safeName.left(extension),
                           u'_' + WithoutUnsafeCharacters(idFattura).left(kMaxIdentifierLength) +
                               safeName.mid(extension));
}
