// The request framework every operation shares (endpoint, credentials, dates, form posts, the
// answer check) and the upload of an invoice file.

#include "backend/DVBackendService.h"

#include "util/Errors.h"
#include "util/Text.h"
#include "util/UniqueFd.h"
#include "json/RecordFromJson.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStringDecoder>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace {

const QString kEndpointPath = QStringLiteral("/assoc/progs/main/xapirest.sto");

// ---- Dates ----------------------------------------------------------------------------------

// The locale's long time format without its time-zone field: the backend wants a wall-clock time
// ("10:30:00"), and Qt's long formats carry the zone name ("HH:mm:ss t"). Times are written and
// read with this format through the C locale, so the digits stay ASCII whatever the locale's
// own digits are (a backend cannot read "١٠:٣٠").
QString LongTimeFormatWithoutZone(const QLocale& locale)
{
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString result;
    bool quoted = false;
    for (QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (!quoted && c == QLatin1Char('t')) {
            while (result.endsWith(QLatin1Char(' ')))
                result.chop(1);
            continue;
        }
        result += c;
    }
    return result.trimmed();
}

// The character between hours and minutes in the locale's short time format (":" in most).
QString TimeSeparator(const QLocale& locale)
{
    static const QRegularExpression kAfterHours(QStringLiteral("[Hh]+([^A-Za-z0-9\\s'])"));
    const QRegularExpressionMatch match = kAfterHours.match(locale.timeFormat(QLocale::ShortFormat));
    return match.hasMatch() ? match.captured(1) : QStringLiteral(":");
}

// ---- Form encoding --------------------------------------------------------------------------

bool StandsForItself(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '*' ||
           c == '-' || c == '.' || c == '_';
}

QByteArray FormEncode(const QString& text)
{
    static const char kHex[] = "0123456789ABCDEF";
    QByteArray encoded;
    for (const char c : text.toUtf8()) {
        const auto byte = static_cast<unsigned char>(c);
        if (StandsForItself(c))
            encoded += c;
        else if (c == ' ')
            encoded += '+';
        else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0x0F];
        }
    }
    return encoded;
}

QByteArray FormBody(const QStringList& lines)
{
    QByteArray body;
    for (const QString& line : lines) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0) // no "=", or nothing before it: the line sends nothing
            continue;
        if (!body.isEmpty())
            body += '&';
        body += FormEncode(line.left(equals)) + '=' + FormEncode(line.mid(equals + 1));
    }
    return body;
}

// ---- Answer decoding ------------------------------------------------------------------------

// Decompressing a small answer into gigabytes would take the whole process down with it.
constexpr qsizetype kMaxInflatedAnswer = qsizetype(512) * 1024 * 1024;

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

// No charset or "utf-8" means UTF-8. A charset nobody here knows is read as UTF-8 too: that is
// what JSON is in the first place, and a body that is not UTF-8 still fails as invalid JSON.
std::unique_ptr<TJSONValue> ParseAnswer(const QByteArray& body, const QString& charset)
{
    if (charset.isEmpty() || charset.compare(QLatin1String("utf-8"), Qt::CaseInsensitive) == 0)
        return ParseJsonUtf8(body);
    QStringDecoder decoder(charset.toLatin1().constData());
    if (!decoder.isValid())
        return ParseJsonUtf8(body);
    return ParseJsonText(decoder.decode(body));
}

// ---- The invoice file -----------------------------------------------------------------------

// Linux files have no share modes, so "nobody else may have it open" becomes: nobody is writing
// it, in any of the three ways the kernel lets us see without waiting. Each check says whether a
// writer holds the file; a check the kernel cannot answer here (not our file, a file system
// without leases) says nothing.
bool OpenForWritingElsewhere(int fd)
{
    // A read lease is refused with EAGAIN while any descriptor has the file open for writing. It
    // is dropped at once: a lease still held when a writer arrives would bring SIGIO, whose
    // default action ends the process.
    if (fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
        fcntl(fd, F_SETLEASE, F_UNLCK);
        return false;
    }
    return errno == EAGAIN;
}

bool ExclusiveFlockElsewhere(int fd)
{
    // Kept until the descriptor closes, so a cooperating writer waits until we have read it.
    return flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

bool WriteLockElsewhere(int fd)
{
    // An open-file-description read lock over the whole file conflicts with another program's
    // POSIX write lock (Samba, Wine, fcntl users); kept until the descriptor closes.
    struct flock lock = {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    return fcntl(fd, F_OFD_SETLK, &lock) != 0 && (errno == EAGAIN || errno == EACCES);
}

constexpr std::array kWriterChecks = {&OpenForWritingElsewhere, &ExclusiveFlockElsewhere,
                                      &WriteLockElsewhere};

QByteArray ReadWholeFileUnshared(const QString& path)
{
    const auto fail = [&path](int error) -> void {
        const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
        throw EInOutError(QStringLiteral("Cannot open file \"%1\". %2").arg(absolute, SystemErrorText(error)),
                          error);
    };

    // O_NONBLOCK: opening a FIFO by mistake must not hang the dispatch cycle.
    const TUniqueFd file(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.Get() < 0)
        fail(errno);
    struct stat status = {};
    if (fstat(file.Get(), &status) != 0)
        fail(errno);
    if (S_ISDIR(status.st_mode))
        fail(EISDIR);
    if (!S_ISREG(status.st_mode))
        fail(EINVAL);
    for (const auto heldByWriter : kWriterChecks)
        if (heldByWriter(file.Get()))
            fail(EBUSY);

    QByteArray content;
    content.reserve(qsizetype(status.st_size));
    std::array<char, 64 * 1024> chunk;
    for (;;) {
        const ssize_t count = ::read(file.Get(), chunk.data(), chunk.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            fail(errno);
        if (count == 0)
            return content;
        content.append(chunk.data(), qsizetype(count));
    }
}

// ---- The multipart body ---------------------------------------------------------------------

struct MediaTypeByExtension
{
    const char* Extension;
    const char* MediaType;
};
constexpr MediaTypeByExtension kMediaTypes[] = {
    {"xml", "application/xml"},
    {"p7m", "application/pkcs7-mime"},
};
const QByteArray kDefaultMediaType = "application/octet-stream";

QByteArray MediaTypeOf(const QString& fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return kDefaultMediaType;
    const QString extension = fileName.mid(dot + 1);
    for (const auto& entry : kMediaTypes)
        if (extension.compare(QLatin1String(entry.Extension), Qt::CaseInsensitive) == 0)
            return entry.MediaType;
    return kDefaultMediaType;
}

// A Linux file name may hold a double quote, CR or LF; written raw they would end the parameter
// or the header early. They are percent-encoded as browsers do; every other byte stays as it is.
QByteArray FileNameParameter(const QString& fileName)
{
    QByteArray encoded = fileName.toUtf8();
    encoded.replace('"', "%22").replace('\r', "%0D").replace('\n', "%0A");
    return encoded;
}

QByteArray NewBoundary()
{
    QRandomGenerator* random = QRandomGenerator::system();
    const auto digits = [random] {
        return QByteArray::number(random->bounded(2147483647u), 16).toUpper().rightJustified(8, '0');
    };
    return "----------VORNBoundary" + digits() + digits();
}

class MultipartBody
{
public:
    MultipartBody() : FBoundary(NewBoundary()) {}

    const QByteArray& Boundary() const { return FBoundary; }

    void AddText(const QByteArray& name, const QString& value)
    {
        FBody += "--" + FBoundary + "\r\n";
        FBody += "Content-Disposition: form-data; name=\"" + name + "\"\r\n";
        FBody += "\r\n";
        FBody += value.toUtf8() + "\r\n";
    }

    void AddFile(const QByteArray& name, const QString& fileName, const QByteArray& mediaType,
                 const QByteArray& content)
    {
        FBody += "--" + FBoundary + "\r\n";
        FBody += "Content-Disposition: form-data; name=\"" + name + "\"; filename=\"" +
                 FileNameParameter(fileName) + "\"\r\n";
        FBody += "Content-Type: " + mediaType + "\r\n";
        FBody += "\r\n";
        FBody += content + "\r\n";
    }

    const QByteArray& Finish()
    {
        FBody += "--" + FBoundary + "--\r\n";
        return FBody;
    }

private:
    QByteArray FBoundary;
    QByteArray FBody;
};

} // namespace

// ---- The client -----------------------------------------------------------------------------

TDVBackendService::TDVBackendService()
    : TDVBackendService(QStringLiteral(VORN_SERVICE_DOMAIN), THttpsSettings{QStringLiteral(VORN_CA_BUNDLE)})
{}

TDVBackendService::TDVBackendService(QString serviceDomain, THttpsSettings transport)
    : FServiceDomain(std::move(serviceDomain)), FTransport(std::move(transport))
{}

void TDVBackendService::SetFirmType(const QString& value)
{
    FFirmType = value;
    FBaseUrl = QStringLiteral("https://") + FFirmType + QLatin1Char('.') + FServiceDomain + kEndpointPath;
}

TDateTime TDVBackendService::DVStrToDate(const QString& value) const
{
    static const QRegularExpression kDateAndTime(
        QStringLiteral("^\\s*([0-9]{1,4})-([0-9]{1,2})-([0-9]{1,2})(?:\\s+(\\S.*?))?\\s*$"));
    const QRegularExpressionMatch match = kDateAndTime.match(value);
    const QDate date = match.hasMatch() ? QDate(match.captured(1).toInt(), match.captured(2).toInt(),
                                                match.captured(3).toInt())
                                        : QDate();
    QTime time(0, 0);
    if (date.isValid() && match.hasCaptured(4)) {
        // The locale's own formats first, then the common 24-hour forms with its separator.
        const QLocale locale;
        const QLocale ascii = QLocale::c();
        const QString timeText = match.captured(4);
        const QString separator = TimeSeparator(locale);
        const QStringList formats = {LongTimeFormatWithoutZone(locale),
                                     locale.timeFormat(QLocale::ShortFormat),
                                     QStringLiteral("H:mm:ss.zzz").replace(QLatin1Char(':'), separator),
                                     QStringLiteral("H:mm:ss").replace(QLatin1Char(':'), separator),
                                     QStringLiteral("H:mm").replace(QLatin1Char(':'), separator)};
        time = QTime();
        for (const QString& format : formats) {
            time = ascii.toTime(timeText, format);
            if (time.isValid())
                break;
        }
    }
    if (!date.isValid() || !time.isValid())
        throw EVornError(QStringLiteral("'%1' is not a valid date and time").arg(value));
    return EncodeDateTime(date, time);
}

QString TDVBackendService::DateToDVStr(TDateTime value) const
{
    if (value == 0)
        return QString();
    const QDateTime decoded = DecodeDateTime(value);
    QString text = decoded.date().toString(QStringLiteral("yyyy-MM-dd"));
    if (decoded.time().msecsSinceStartOfDay() != 0)
        text +=
            QLatin1Char(' ') + QLocale::c().toString(decoded.time(), LongTimeFormatWithoutZone(QLocale()));
    return text;
}

THeaderList TDVBackendService::AuthHeaders() const
{
    const QByteArray credentials = QStringLiteral("%1:%2").arg(FUsername, FPassword).toUtf8();
    return {{QStringLiteral("Authorization"),
             QStringLiteral("Basic ") + QString::fromLatin1(credentials.toBase64())}};
}

THttpResponse TDVBackendService::PostForm(const QStringList& lines) const
{
    THeaderList headers = {
        {QStringLiteral("Content-Type"), QStringLiteral("application/x-www-form-urlencoded; charset=UTF-8")}};
    for (THeaderPair& pair : AuthHeaders())
        headers.push_back(std::move(pair));
    THttpsClient client(FTransport);
    return client.Post(FBaseUrl, headers, FormBody(lines));
}

std::unique_ptr<TJSONValue> TDVBackendService::CheckResponse(const THttpResponse& response) const
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

std::unique_ptr<TFAESendXml> TDVBackendService::FAESendXml(const QString& PathFileXml, bool FatturaInversa)
{
    MultipartBody multipart;
    multipart.AddText("QELT_REQ", QStringLiteral("FAESendXml"));
    multipart.AddText("QELT_RESPONSE_FORMAT", QStringLiteral("JSON"));
    const QString fileName = QFileInfo(PathFileXml).fileName();
    multipart.AddFile("PathFileXml", fileName, MediaTypeOf(fileName), ReadWholeFileUnshared(PathFileXml));
    multipart.AddText("FatturaInversa", FatturaInversa ? QStringLiteral("S") : QStringLiteral("N"));
    const QByteArray& body = multipart.Finish();

    THeaderList headers = {{QStringLiteral("Content-Type"), QStringLiteral("multipart/form-data; boundary=") +
                                                                QString::fromLatin1(multipart.Boundary())}};
    for (THeaderPair& pair : AuthHeaders())
        headers.push_back(std::move(pair));
    THttpsClient client(FTransport);
    const std::unique_ptr<TJSONValue> answer = CheckResponse(client.Post(FBaseUrl, headers, body));
    return RecordFromJson<TFAESendXml>(ToJsonText(ReadPathValue(*answer, QStringLiteral("result"))));
}
