#pragma once

// The two bodies the client sends: the form encoding of request lines for every operation but the
// upload, and the multipart form that carries an invoice file.

#include <QByteArray>
#include <QString>
#include <QStringList>

// Each line "name=value" form-encoded from its UTF-8 bytes, the pairs joined by "&". A line without
// "=", or with nothing before it, sends nothing.
QByteArray FormBody(const QStringList& lines);

// The media type of a file part by the file's extension, without regard to case.
QByteArray MediaTypeOf(const QString& fileName);

// A multipart/form-data body under a boundary drawn anew for every body; parts follow in call order.
class TMultipartBody
{
public:
    TMultipartBody();

    const QByteArray& Boundary() const { return FBoundary; }

    void AddText(const QByteArray& name, const QString& value);
    void AddFile(const QByteArray& name, const QString& fileName, const QByteArray& mediaType,
                 const QByteArray& content);
    // Closes the body; no part may follow.
    const QByteArray& Finish();

private:
    QByteArray FBoundary;
    QByteArray FBody;
};
