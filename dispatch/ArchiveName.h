#pragma once

// The names of invoice files: what makes a name an invoice's, the name an invoice gets in its
// archive folder, and the queue identifier read back from that name.

#include <QString>
#include <QStringList>
#include <optional>

// The longest file name most Linux file systems take, in bytes of its UTF-8 form.
inline constexpr qsizetype kMaxFileNameBytes = 255;

// The extensions of the outgoing invoices, in the order the cycle's mask gives them.
inline const QString kXmlExtension = QStringLiteral(".xml");
inline const QString kSignedExtension = QStringLiteral(".p7m");
inline const QStringList kInvoiceMask{kXmlExtension, kSignedExtension};

// The extension that makes a file an invoice, spelled as in the name: ".xml", ".p7m", or a signed
// invoice's ".xml.p7m" as one (letter case ignored); empty for any other name.
QString InvoiceExtension(const QString& name);

// base + tail, base shortened by whole characters until the whole fits kMaxFileNameBytes; the tail
// (an identifier and an extension) always stays.
QString WithinNameLimit(const QString& base, const QString& tail);

// An outgoing invoice's name split for its archive copy: the base is the name up to its last ".",
// the extension the mask's lower-case form of the rest ("b.xml.p7m": "b.xml" and ".p7m").
struct TArchiveName
{
    QString Base;
    QString Extension;
};

// Nothing for a name whose last extension is not in mask.
std::optional<TArchiveName> ArchiveNameOf(const QString& N, const QStringList& mask);

// base + "_" + tag + extension, within kMaxFileNameBytes: tag is the backend's queue identifier
// (or a timestamp), which must not lead the name out of its folder.
QString ArchiveFileName(const TArchiveName& parts, const QString& tag);

// The queue identifier an archive name carries: the text between its last "_" and its extension
// (the last "." after that "_"). Empty when the name carries none.
QString QueueIdentifierOfArchiveName(const QString& name);
