#include "util/Timestamp.h"

QString TimestampText()
{
    return TimestampText(QDateTime::currentDateTime());
}

QString TimestampText(const QDateTime& at)
{
    return at.toString(QStringLiteral("yyyyMMddHHmmss"));
}
