#pragma once

#include <QDateTime>
#include <QString>

// The local date and time as "yyyymmddhhnnss": 14 digits, hours 00 to 23, no separators. Two calls
// within one second give the same text.
QString TimestampText();
QString TimestampText(const QDateTime& at);
