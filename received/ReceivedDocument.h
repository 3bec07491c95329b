#pragma once

// A downloaded invoice document: its Base64 content decoded, and a safe file name for it.

#include <QByteArray>
#include <QString>

// Strict decoding: line breaks and blanks between the characters are allowed, anything else
// outside the Base64 alphabet, or a broken padding, throws EVornError.
QByteArray DecodeDocumentBase64(const QString& base64);

// A bare file name for the working folder made from the name the backend suggests: only its last
// path component, without control and format characters, characters no file system takes
// (< > : " | ? *), leading dots and trailing dots and blanks, and at most 255 bytes long (the end
// of the name before its extension goes, the extension stays). When nothing usable is left,
// "fattura_" and the invoice identifier (made safe the same way).
QString SafeDocumentFileName(const QString& suggested, const QString& idFattura);

// A safe name with "_" and the invoice identifier before its extension (".xml.p7m" counts as one),
// within the same 255 bytes: the name of a second invoice that came with the same name.
QString FileNameWithIdentifier(const QString& safeName, const QString& idFattura);
