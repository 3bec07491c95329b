#pragma once

// Files with given bytes, as the tests write and read them back.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <gtest/gtest.h>

// A file that cannot be read gives "<unreadable>", which no test writes: a missing file never
// passes for an empty one.
inline QByteArray ReadBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

inline void WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}
