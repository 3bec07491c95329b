#include "util/Timestamp.h"

#include <QRegularExpression>

#include "tests/support/Print.h"

#include <gtest/gtest.h>

namespace {

TEST(TimestampText, FourteenDigitsWithoutSeparators)
{
    EXPECT_EQ(TimestampText(QDateTime(QDate(2024, 3, 2), QTime(9, 5, 3))), QStringLiteral("20240302090503"));
    EXPECT_EQ(TimestampText(QDateTime(QDate(2023, 12, 31), QTime(23, 59, 59))),
              QStringLiteral("20231231235959"));

    const QString before = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
    const QString now = TimestampText();
    const QString after = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{14}$")).match(now).hasMatch()) << now.toStdString();
    EXPECT_LE(before, now);
    EXPECT_LE(now, after);
}

} // namespace
