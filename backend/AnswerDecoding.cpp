#include "backend/AnswerDecoding.h"

#include "util/Errors.h"
#include "util/Text.h"
#include "json/RecordFromJson.h"

#include <QList>
#include <QStringDecoder>
#include <algorithm>
#include <array>
#include <zlib.h>

namespace {

// Decompressing a small answer into gigabytes would take the whole process down with it.
constexpr qsizetype kMaxInflatedAnswer = THttpsClient::kMaxAnswerBytes;

class GzipInflater
{
public:
    GzipInflater()
    {
        // 16 + MAX_WBITS: a gzip wrapper, not zlib's own or raw deflate.
        if (inflateInit2(&FStream, 16 + MAX_WBITS) != Z_OK)
            throw EVornError(QStringLiteral("zlib: inflateInit2 non riuscito"));
    }
    ~GzipInflater() { inflateEnd(&FStream); }
    GzipInflater(const GzipInflater&) = delete;
    GzipInflater& operator=(const GzipInflater&) = delete;

    QByteArray Inflate(const QByteArray& compressed)
    {
        FStream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.constData()));
        FStream.avail_in = static_cast<uInt>(compressed.size());
        QByteArray inflated;
        std::array<char, 64 * 1024> chunk;
        for (;;) {
            FStream.next_out = reinterpret_cast<Bytef*>(chunk.data());
            FStream.avail_out = static_cast<uInt>(chunk.size());
            const int code = inflate(&FStream, Z_NO_FLUSH);
            const qsizetype produced = qsizetype(chunk.size()) - FStream.avail_out;
            if (inflated.size() + produced > kMaxInflatedAnswer)
                throw EVornError(
                    QStringLiteral("Risposta gzip non valida: oltre %1 MiB una volta decompressa")
                        .arg(kMaxInflatedAnswer / (1024 * 1024)));
            inflated.append(chunk.data(), produced);
            if (code == Z_STREAM_END) {
                if (FStream.avail_in == 0)
                    return inflated;
                inflateReset(&FStream); // gzip allows several members one after the other
            } else if (code == Z_BUF_ERROR && FStream.avail_in == 0) {
                throw EVornError(QStringLiteral("Risposta gzip non valida: dati troncati"));
            } else if (code != Z_OK) {
                throw EVornError(
                    QStringLiteral("Risposta gzip non valida: %1")
                        .arg(FStream.msg ? QString::fromLatin1(FStream.msg) : QString::number(code)));
            }
        }
    }

private:
    z_stream FStream{};
};

// The "charset" parameter of a Content-Type value, surrounding double quotes removed.
QString CharsetOf(const QByteArray& contentType)
{
    const QList<QByteArray> parameters = contentType.split(';');
    for (qsizetype i = 1; i < parameters.size(); ++i) {
        const QByteArray parameter = parameters[i].trimmed();
        const qsizetype equals = parameter.indexOf('=');
        if (equals < 0 || parameter.left(equals).trimmed().toLower() != "charset")
            continue;
        QByteArray value = parameter.mid(equals + 1).trimmed();
        if (value.startsWith('"'))
            value.remove(0, 1);
        if (value.endsWith('"'))
            value.chop(1);
        return QString::fromLatin1(value);
    }
    return QString();
}

// No charset, one nobody here knows, and every name of UTF-8 ("utf-8", "UTF8", "utf_8", in any
// letter case) mean UTF-8: that is what JSON is in the first place. Such a body goes to the JSON
// reader as it came, so that malformed bytes and a byte order mark fail as invalid JSON under each
// of those names alike; a decoder would replace the first and drop the second.
std::unique_ptr<TJSONValue> ParseAnswer(const QByteArray& body, const QString& charset)
{
    QStringDecoder decoder(charset.toLatin1().constData());
    if (!decoder.isValid() || qstrcmp(decoder.name(), "UTF-8") == 0)
        return ParseJsonUtf8(body);
    return ParseJsonText(decoder.decode(body));
}

} // namespace

std::unique_ptr<TJSONValue> CheckResponse(const THttpResponse& response)
{
    if (response.StatusCode != 200)
        throw EVornError(response.StatusText);

    // Only exactly "gzip": anything else is taken as the plain body it claims to be.
    const QByteArray body =
        response.Header("Content-Encoding") == "gzip" ? GzipInflater().Inflate(response.Body) : response.Body;
    std::unique_ptr<TJSONValue> answer = ParseAnswer(body, CharsetOf(response.Header("Content-Type")));
    if (!answer)
        throw EVornError(QStringLiteral("Json non valido"));

    const QString error = TrimControl(ReadPathText(*answer, QStringLiteral("error")));
    if (!error.isEmpty())
        throw EVornError(error);
    return answer;
}

std::unique_ptr<TFAESendXml> UploadRecord(const TJSONValue& answer)
{
    std::unique_ptr<TFAESendXml> record =
        RecordFromJson<TFAESendXml>(ToJsonText(ReadPathValue(answer, QStringLiteral("result"))));
    const QString& idCoda = record->IdCodaInvio_1();
    if (idCoda.size() > kMaxIdCodaLength || std::any_of(idCoda.begin(), idCoda.end(), IsControlCharacter))
        throw EVornError(QStringLiteral("Risposta all'invio non valida: IdCodaInvio_1 oltre %1 caratteri o "
                                        "con caratteri di controllo")
                             .arg(kMaxIdCodaLength));
    return record;
}
