#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <optional>

// C0 and C1 control characters and DEL: what may move a terminal's cursor or break a line.
bool IsControlCharacter(QChar c);

// Removes every character up to U+0020 (blanks and control characters) from both ends.
QString TrimControl(const QString& text);

// Windows-1252 is our single-byte "ANSI" text: what it cannot represent becomes '?'.
QByteArray ToWindows1252(const QString& text);
QString FromWindows1252(const QByteArray& bytes);

// Integer text: optional leading blanks, an optional sign, then decimal digits or hexadecimal
// digits after "$", "x", "X", "0x" or "0X"; nothing may follow and the value must fit 32 bits.
std::optional<qint32> ParseIntegerText(const QString& text);
