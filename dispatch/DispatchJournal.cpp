#include "dispatch/DispatchJournal.h"

#include "backend/AnswerDecoding.h"
#include "dispatch/OutgoingDispatch.h"
#include "util/Errors.h"
#include "util/SafeWrite.h"
#include "util/Text.h"
#include "util/UniqueFd.h"
#include "json/Json.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const QString TDispatchJournal::kFileName = kDispatchBookkeepingPrefix + QStringLiteral("journal");

namespace {

// The most one entry takes as EntryJson writes it: a name of NAME_MAX bytes and a queue identifier
// as long as an answer may carry, every character of both written as a six-character escape, and
// under 256 for the rest (member names, size, digest).
constexpr qint64 kMaxEntryBytes = 6 * (NAME_MAX + kMaxIdCodaLength) + 256;
// Far more invoices than are ever accepted and not archived at once. A larger file is not ours.
constexpr qint64 kMaxJournalEntries = 10000;
constexpr qint64 kMaxJournalBytes = kMaxJournalEntries * kMaxEntryBytes;
constexpr int kJournalVersion = 1;

[[noreturn]] void ThrowCannotCreate(const QString& path, int error)
{
    throw EInOutError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, SystemErrorText(error)),
                      error);
}

[[noreturn]] void ThrowDamaged(const QString& path, const QString& what)
{
    throw EVornError(QStringLiteral("Registro invii danneggiato: %1 (%2)").arg(path, what));
}

std::unique_ptr<TJSONValue> EntryJson(const TAcceptedUpload& upload)
{
    auto entry = std::make_unique<TJSONObject>();
    entry->Add(QStringLiteral("file"), std::make_unique<TJSONString>(upload.FileName));
    entry->Add(QStringLiteral("size"), std::make_unique<TJSONNumber>(QString::number(upload.Content.Size)));
    entry->Add(QStringLiteral("sha256"),
               std::make_unique<TJSONString>(QString::fromLatin1(upload.Content.Sha256)));
    entry->Add(QStringLiteral("idCoda"), std::make_unique<TJSONString>(upload.IdCoda));
    return entry;
}

bool IsSha256Hex(const QString& text)
{
    if (text.size() != 64)
        return false;
    for (QChar c : text)
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
              (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return false;
    return true;
}

// One entry as written by EntryJson; nothing when any part is missing or out of shape.
std::optional<TAcceptedUpload> EntryFromJson(const TJSONValue& value)
{
    if (value.GetKind() != TJSONValue::Kind::Object)
        return std::nullopt;
    const auto& entry = static_cast<const TJSONObject&>(value);
    const auto text = [&](QStringView name) -> std::optional<QString> {
        const TJSONValue* member = entry.Find(name);
        if (!member || member->GetKind() != TJSONValue::Kind::String)
            return std::nullopt;
        return static_cast<const TJSONString*>(member)->Value();
    };
    const TJSONValue* size = entry.Find(u"size");
    const std::optional<QString> file = text(u"file");
    const std::optional<QString> sha256 = text(u"sha256");
    const std::optional<QString> idCoda = text(u"idCoda");
    if (!size || size->GetKind() != TJSONValue::Kind::Number || !file || !sha256 || !idCoda)
        return std::nullopt;
    bool sizeOk = false;
    const qint64 bytes = static_cast<const TJSONNumber*>(size)->Literal().toLongLong(&sizeOk);
    if (!sizeOk || bytes < 0 || file->isEmpty() || file->contains(QLatin1Char('/')) ||
        *file == QLatin1String(".") || *file == QLatin1String("..") || !IsSha256Hex(*sha256))
        return std::nullopt;
    return TAcceptedUpload{*file, TInvoiceContent{bytes, sha256->toLatin1()}, *idCoda};
}

} // namespace

std::optional<TInvoiceContent> ContentOfFile(const QString& path)
{
    const TUniqueFd fd = OpenRegularFile(QFile::encodeName(path), O_RDONLY);
    struct stat info;
    if (!fd.IsOpen() || ::fstat(fd.Get(), &info) != 0)
        return std::nullopt;
    QFile file;
    if (!file.open(fd.Get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return std::nullopt;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file) || file.error() != QFileDevice::NoError)
        return std::nullopt;
    return TInvoiceContent{static_cast<qint64>(info.st_size), hash.result().toHex()};
}

TInvoiceContent ContentOfBytes(const QByteArray& bytes)
{
    return TInvoiceContent{bytes.size(), QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()};
}

TDispatchJournal::TDispatchJournal(const QString& folder)
    : FPath(folder.endsWith(QLatin1Char('/')) ? folder + kFileName : folder + QLatin1Char('/') + kFileName)
{}

void TDispatchJournal::Load()
{
    FEntries.clear();
    RemoveLeftTemporaries();
    QByteArray bytes;
    if (const int error = ReadRegularFile(QFile::encodeName(FPath), kMaxJournalBytes, bytes)) {
        if (error == ENOENT)
            return;
        if (error == EINVAL || error == ELOOP)
            ThrowDamaged(FPath, QStringLiteral("non è un file regolare del sistema"));
        throw EInOutError(QStringLiteral("Cannot open file \"%1\". %2").arg(FPath, SystemErrorText(error)),
                          error);
    }

    const std::unique_ptr<TJSONValue> root = ParseJsonUtf8(bytes);
    if (!root || root->GetKind() != TJSONValue::Kind::Object)
        ThrowDamaged(FPath, QStringLiteral("JSON non valido"));
    const auto& record = static_cast<const TJSONObject&>(*root);
    const TJSONValue* version = record.Find(u"version");
    if (!version || version->GetKind() != TJSONValue::Kind::Number ||
        static_cast<const TJSONNumber*>(version)->Literal() != QString::number(kJournalVersion))
        ThrowDamaged(FPath, QStringLiteral("versione sconosciuta"));
    const TJSONValue* accepted = record.Find(u"accepted");
    if (!accepted || accepted->GetKind() != TJSONValue::Kind::Array)
        ThrowDamaged(FPath, QStringLiteral("elenco mancante"));
    for (const auto& item : static_cast<const TJSONArray*>(accepted)->Items()) {
        std::optional<TAcceptedUpload> entry = EntryFromJson(*item);
        if (!entry)
            ThrowDamaged(FPath, QStringLiteral("voce non valida"));
        FEntries.push_back(std::move(*entry));
    }
}

void TDispatchJournal::RemoveLeftTemporaries() const
{
    // A crash while the record was being replaced leaves its temporary beside it ("." before the
    // name, a random suffix after). Only the cycle that holds the folder writes the record, so
    // whatever temporary is there now belongs to a writer that is gone.
    const QFileInfo record(FPath);
    const QStringList left = record.dir().entryList({QLatin1Char('.') + kFileName + QStringLiteral(".*")},
                                                    QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : left)
        ::unlink(QFile::encodeName(record.dir().filePath(name)).constData());
}

void TDispatchJournal::Record(const TAcceptedUpload& upload)
{
    FEntries.push_back(upload);
    Save();
}

void TDispatchJournal::Forget(const QString& fileName)
{
    std::erase_if(FEntries, [&](const TAcceptedUpload& entry) { return entry.FileName == fileName; });
    Save();
}

void TDispatchJournal::Save()
{
    const QByteArray path = QFile::encodeName(FPath);
    if (FEntries.empty()) {
        // Not flushed: an entry that a power cut brings back is dropped by the next cycle, whose
        // file is gone by then. Journaling file systems write the move to disk no later than this
        // removal, which came after it.
        if (::unlink(path.constData()) != 0 && errno != ENOENT)
            throw EInOutError(
                QStringLiteral("Cannot delete file \"%1\". %2").arg(FPath, SystemErrorText(errno)), errno);
        return;
    }
    TJSONObject record;
    record.Add(QStringLiteral("version"), std::make_unique<TJSONNumber>(QString::number(kJournalVersion)));
    auto accepted = std::make_unique<TJSONArray>();
    for (const TAcceptedUpload& entry : FEntries)
        accepted->Add(EntryJson(entry));
    record.Add(QStringLiteral("accepted"), std::move(accepted));
    // Readable and writable by whoever may serve the folder (another user's session among them).
    if (const int error = ReplaceFile(path, ToJsonText(record).toUtf8() + '\n', 0666))
        ThrowCannotCreate(FPath, error);
}
