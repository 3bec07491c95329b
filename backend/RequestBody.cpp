#include "backend/RequestBody.h"

#include <QRandomGenerator>

namespace {

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

} // namespace

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

TMultipartBody::TMultipartBody() : FBoundary(NewBoundary()) {}

void TMultipartBody::AddText(const QByteArray& name, const QString& value)
{
    FBody += "--" + FBoundary + "\r\n";
    FBody += "Content-Disposition: form-data; name=\"" + name + "\"\r\n";
    FBody += "\r\n";
    FBody += value.toUtf8() + "\r\n";
}

void TMultipartBody::AddFile(const QByteArray& name, const QString& fileName, const QByteArray& mediaType,
                             const QByteArray& content)
{
    FBody += "--" + FBoundary + "\r\n";
    FBody += "Content-Disposition: form-data; name=\"" + name + "\"; filename=\"" +
             FileNameParameter(fileName) + "\"\r\n";
    FBody += "Content-Type: " + mediaType + "\r\n";
    FBody += "\r\n";
    FBody += content + "\r\n";
}

const QByteArray& TMultipartBody::Finish()
{
    FBody += "--" + FBoundary + "--\r\n";
    return FBody;
}
