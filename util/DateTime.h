#pragma once

#include <QDateTime>

// A date-time as a count of days since 30 December 1899 whose fraction is the time of day.
// The value 0 means "no date" to the backend client.
using TDateTime = double;

TDateTime EncodeDateTime(const QDate& date, const QTime& time = QTime(0, 0));
QDateTime DecodeDateTime(TDateTime value);
