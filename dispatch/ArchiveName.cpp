#include "dispatch/ArchiveName.h"

namespace {

bool EndsWithExtension(QStringView name, const QString& extension)
{
    return name.size() > extension.size() && name.endsWith(extension, Qt::CaseInsensitive);
}

// A name part that came from the backend must not lead the archive copy out of its folder.
QString SafeNamePart(QString text)
{
    return text.replace(QLatin1Char('/'), QLatin1Char('_')).replace(QChar(0), QLatin1Char('_'));
}

} // namespace

QString InvoiceExtension(const QString& name)
{
    if (EndsWithExtension(name, kSignedExtension)) {
        const QStringView inner = QStringView(name).chopped(kSignedExtension.size());
        if (EndsWithExtension(inner, kXmlExtension))
            return name.right(kXmlExtension.size() + kSignedExtension.size());
        return name.right(kSignedExtension.size());
    }
    if (EndsWithExtension(name, kXmlExtension))
        return name.right(kXmlExtension.size());
    return {};
}

QString WithinNameLimit(const QString& base, const QString& tail)
{
    // A character is at least one byte: what lies beyond kMaxFileNameBytes characters cannot fit.
    QString kept = base.left(kMaxFileNameBytes);
    if (!kept.isEmpty() && kept.back().isHighSurrogate())
        kept.chop(1);
    while (!kept.isEmpty() && (kept + tail).toUtf8().size() > kMaxFileNameBytes)
        kept.chop(kept.size() >= 2 && kept.back().isLowSurrogate() ? 2 : 1);
    return kept + tail;
}

std::optional<TArchiveName> ArchiveNameOf(const QString& N, const QStringList& mask)
{
    const qsizetype dot = N.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return std::nullopt;
    const qsizetype maskIndex = mask.indexOf(N.mid(dot).toLower());
    if (maskIndex < 0)
        return std::nullopt;
    // The archive copy always carries the mask's lower-case extension.
    return TArchiveName{N.left(dot), mask.at(maskIndex)};
}

QString ArchiveFileName(const TArchiveName& parts, const QString& tag)
{
    return WithinNameLimit(parts.Base, QLatin1Char('_') + SafeNamePart(tag) + parts.Extension);
}

QString QueueIdentifierOfArchiveName(const QString& name)
{
    const qsizetype underscore = name.lastIndexOf(u'_');
    if (underscore < 0)
        return {};
    const qsizetype dot = name.lastIndexOf(u'.');
    const qsizetype end = dot > underscore ? dot : name.size();
    return name.mid(underscore + 1, end - underscore - 1);
}
