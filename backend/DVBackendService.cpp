// The request framework every operation shares (endpoint, credentials, dates, form posts) and the
// upload of an invoice file.

#include "backend/DVBackendService.h"

#include "backend/AnswerDecoding.h"
#include "backend/RequestBody.h"
#include "util/Errors.h"
#include "util/UniqueFd.h"
#include "util/WriterCheck.h"
#include "json/RecordFromJson.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <array>
#include <limits>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// ---- The invoice file -----------------------------------------------------------------------

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
    QByteArray content;
    if (const int error = ReadWholeUnshared(file.Get(), std::numeric_limits<qsizetype>::max(), content))
        fail(error);
    return content;
}

} // namespace

// ---- The client -----------------------------------------------------------------------------

TDVBackendService::TDVBackendService()
    : TDVBackendService(QStringLiteral(VORN_SERVICE_DOMAIN), THttpsSettings{QStringLiteral(VORN_CA_BUNDLE)})
{}

TDVBackendService::TDVBackendService(QString serviceDomain, THttpsSettings transport)
    : FServiceDomain(std::move(serviceDomain)), FHttps(std::make_unique<THttpsClient>(std::move(transport)))
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

THttpResponse TDVBackendService::PostBody(const QString& contentType, const QByteArray& body) const
{
    THeaderList headers = {{QStringLiteral("Content-Type"), contentType}};
    for (THeaderPair& pair : AuthHeaders())
        headers.push_back(std::move(pair));
    return FHttps->Post(FBaseUrl, headers, body);
}

THttpResponse TDVBackendService::PostForm(const QStringList& lines) const
{
    return PostBody(QStringLiteral("application/x-www-form-urlencoded; charset=UTF-8"), FormBody(lines));
}

std::unique_ptr<TFAESendXml> TDVBackendService::FAESendXml(const QString& PathFileXml, bool FatturaInversa)
{
    return FAESendXml(ReadWholeFileUnshared(PathFileXml), QFileInfo(PathFileXml).fileName(), FatturaInversa);
}

std::unique_ptr<TFAESendXml> TDVBackendService::FAESendXml(const QByteArray& content, const QString& fileName,
                                                           bool FatturaInversa)
{
    TMultipartBody multipart;
    multipart.AddText("QELT_REQ", QStringLiteral("FAESendXml"));
    multipart.AddText("QELT_RESPONSE_FORMAT", QStringLiteral("JSON"));
    multipart.AddFile("PathFileXml", fileName, MediaTypeOf(fileName), content);
    multipart.AddText("FatturaInversa", FatturaInversa ? QStringLiteral("S") : QStringLiteral("N"));
    const QByteArray& body = multipart.Finish();

    const std::unique_ptr<TJSONValue> answer = CheckResponse(
        PostBody(QStringLiteral("multipart/form-data; boundary=") + QString::fromLatin1(multipart.Boundary()), body));
    return UploadRecord(*answer);
}
