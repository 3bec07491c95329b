#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <optional>
#include <vector>

// What identifies the content of an invoice file: its size and SHA-256.
struct TInvoiceContent
{
    qint64 Size = 0;
    QByteArray Sha256; // lower-case hex

    bool operator==(const TInvoiceContent&) const = default;
};

// The content of a regular file (never read through a link); nothing when it cannot be read.
std::optional<TInvoiceContent> ContentOfFile(const QString& path);
// The content of bytes already read.
TInvoiceContent ContentOfBytes(const QByteArray& bytes);

// An upload the backend accepted whose file had not reached Inviate yet.
struct TAcceptedUpload
{
    QString FileName; // name in the outgoing folder
    TInvoiceContent Content;
    QString IdCoda; // the backend's queue identifier
};

// The record, kept in the outgoing folder, of invoices the backend accepted and the cycle has not
// archived yet. An entry is on disk before its file is moved and goes once the file is archived, so
// a crash between the two never leads to a second upload: the next cycle archives the file under
// the recorded queue identifier instead, or drops an entry whose file is gone. The file exists only
// while it holds entries; it is replaced whole on every change, so a crash leaves the old record or
// the new one.
class TDispatchJournal
{
public:
    explicit TDispatchJournal(const QString& folder);

    const QString& Path() const { return FPath; }

    // Reads the record as it is on disk (none is no entry), after removing what a crash while it was
    // being written left; only the holder of the folder's lock may call it. Throws EVornError
    // "Registro invii danneggiato: <path> (<what>)" when the file is not a record this system wrote.
    void Load();
    const std::vector<TAcceptedUpload>& Entries() const { return FEntries; }

    // Both are on disk when they return; they throw EInOutError when the record cannot be written.
    void Record(const TAcceptedUpload& upload);
    void Forget(const QString& fileName);

    static const QString kFileName;

private:
    void RemoveLeftTemporaries() const;
    void Save();

    QString FPath;
    std::vector<TAcceptedUpload> FEntries;
};
