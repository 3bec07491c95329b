#include "track/TrackCache.h"

#include "backend/DVBackendService.h"
#include "util/FileLock.h"
#include "util/SafeWrite.h"
#include "json/Json.h"

#include <QFile>

#include <cerrno>
#include <memory>

namespace {

// Members as the first vorn-cli track wrote them; "Detti" and "Verifiche" came with automatic mode.
const QString kBackend = QStringLiteral("Backend");
const QString kStati = QStringLiteral("Stati");
const QString kDetti = QStringLiteral("Detti");
const QString kVerifiche = QStringLiteral("Verifiche");
const QString kArchiviata = QStringLiteral("Archiviata");
const QString kChiesta = QStringLiteral("Chiesta");
const QString kRichieste = QStringLiteral("Richieste");

// Tens of thousands of invoices a year fit many times over; a larger file is not ours.
constexpr qint64 kMaxCacheBytes = 64 * 1024 * 1024;

const TJSONObject* AsObject(const TJSONValue* value)
{
    return value && value->GetKind() == TJSONValue::Kind::Object ? static_cast<const TJSONObject*>(value)
                                                                  : nullptr;
}

// A text member; empty when it is missing or no text.
QString TextOf(const TJSONObject& object, QStringView name)
{
    const TJSONValue* value = object.Find(name);
    return value && value->GetKind() == TJSONValue::Kind::String ? static_cast<const TJSONString*>(value)->Value()
                                                                 : QString();
}

QDateTime TimeOf(const TJSONObject& object, QStringView name)
{
    return QDateTime::fromString(TextOf(object, name), Qt::ISODateWithMs).toUTC();
}

QString TimeText(const QDateTime& time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QString();
}

std::unique_ptr<TJSONValue> Text(const QString& text)
{
    return std::make_unique<TJSONString>(text);
}

TTrackCacheContent ContentOf(const TJSONObject& root)
{
    TTrackCacheContent content;
    if (const TJSONObject* stati = AsObject(root.Find(kStati)))
        for (const TJSONPair& pair : stati->Members())
            if (const TJSONObject* state = AsObject(pair.Value.get())) {
                TInvoiceVerdict verdict{TextOf(*state, u"CodiceStatoFattura"), TextOf(*state, u"TipoNotifica"),
                                        TextOf(*state, u"DataInvio"), TextOf(*state, u"DataRicezione")};
                if (IsFinalNotification(verdict.TipoNotifica))
                    content.FinalStates.emplace(pair.Name, std::move(verdict));
            }
    if (const TJSONObject* detti = AsObject(root.Find(kDetti)))
        for (const TJSONPair& pair : detti->Members())
            if (pair.Value->GetKind() == TJSONValue::Kind::Array)
                for (const auto& item : static_cast<const TJSONArray&>(*pair.Value).Items())
                    if (item->GetKind() == TJSONValue::Kind::String)
                        content.Told[pair.Name].append(static_cast<const TJSONString&>(*item).Value());
    if (const TJSONObject* verifiche = AsObject(root.Find(kVerifiche)))
        for (const TJSONPair& pair : verifiche->Members())
            if (const TJSONObject* entry = AsObject(pair.Value.get())) {
                TVerdictAsks asks{TimeOf(*entry, kArchiviata), TimeOf(*entry, kChiesta), 0};
                const TJSONValue* count = entry->Find(kRichieste);
                if (count && count->GetKind() == TJSONValue::Kind::Number)
                    asks.Asks = static_cast<const TJSONNumber*>(count)->Literal().toInt();
                if (asks.Archived.isValid() && asks.Asks >= 0)
                    content.Asks.emplace(pair.Name, asks);
            }
    return content;
}

QByteArray FileOf(const QString& owner, const TTrackCacheContent& content)
{
    TJSONObject root;
    root.Add(kBackend, Text(owner));
    auto stati = std::make_unique<TJSONObject>();
    for (const auto& [idCoda, verdict] : content.FinalStates) {
        auto state = std::make_unique<TJSONObject>();
        state->Add(QStringLiteral("CodiceStatoFattura"), Text(verdict.CodiceStatoFattura));
        state->Add(QStringLiteral("TipoNotifica"), Text(verdict.TipoNotifica));
        state->Add(QStringLiteral("DataInvio"), Text(verdict.DataInvio));
        state->Add(QStringLiteral("DataRicezione"), Text(verdict.DataRicezione));
        stati->Add(idCoda, std::move(state));
    }
    root.Add(kStati, std::move(stati));
    auto detti = std::make_unique<TJSONObject>();
    for (const auto& [idCoda, types] : content.Told) {
        auto told = std::make_unique<TJSONArray>();
        for (const QString& type : types)
            told->Add(Text(type));
        detti->Add(idCoda, std::move(told));
    }
    root.Add(kDetti, std::move(detti));
    auto verifiche = std::make_unique<TJSONObject>();
    for (const auto& [idCoda, asks] : content.Asks) {
        auto entry = std::make_unique<TJSONObject>();
        entry->Add(kArchiviata, Text(TimeText(asks.Archived)));
        entry->Add(kChiesta, Text(TimeText(asks.LastAsked)));
        entry->Add(kRichieste, std::make_unique<TJSONNumber>(QString::number(asks.Asks)));
        verifiche->Add(idCoda, std::move(entry));
    }
    root.Add(kVerifiche, std::move(verifiche));
    return ToJsonText(root).toUtf8() + '\n';
}

} // namespace

TTrackCache::TTrackCache(QString path, QString owner) : FPath(std::move(path)), FOwner(std::move(owner)) {}

QString TTrackCache::OwnerOf(const TDVBackendService& client)
{
    return client.BaseUrl() + u' ' + client.Username();
}

TTrackCacheContent TTrackCache::Read() const
{
    int error = 0;
    return Read(error);
}

TTrackCacheContent TTrackCache::Read(int& error) const
{
    QByteArray bytes;
    error = ReadRegularFile(QFile::encodeName(FPath), kMaxCacheBytes, bytes);
    // Missing, too large or no regular file: nothing of ours is there, and a write replaces it.
    if (error == ENOENT || error == EINVAL || error == ELOOP)
        error = 0;
    if (error != 0)
        return {};
    const std::unique_ptr<TJSONValue> root = ParseJsonUtf8(bytes);
    const TJSONObject* object = AsObject(root.get());
    if (!object || TextOf(*object, kBackend) != FOwner)
        return {};
    return ContentOf(*object);
}

int TTrackCache::Update(const std::function<bool(TTrackCacheContent&)>& change) const
{
    // The cache itself is replaced by a rename, so the lock lives in a file of its own.
    const TFileLock lock = TFileLock::Acquire(FPath + QStringLiteral(".lock"));
    if (lock.State() != TFileLock::TState::Held)
        return lock.Error() != 0 ? lock.Error() : EIO;
    // A cache that is there but cannot be read now (no access, an I/O error) is left as it is:
    // replacing it would drop the marks of what was already told.
    int error = 0;
    TTrackCacheContent content = Read(error);
    if (error != 0)
        return error;
    if (!change(content))
        return 0;
    return ReplaceFile(QFile::encodeName(FPath), FileOf(FOwner, content), 0600);
}
