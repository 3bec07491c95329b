#include "tests/support/LogEntries.h"

#include "util/Text.h"

#include <QFile>

std::vector<LogEntry> ReadLogEntries(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // The timestamp and the brackets take 22 characters, the tag 3 and "- " 2: the message starts
    // in column 28.
    std::vector<LogEntry> entries;
    for (const QString& line :
         FromWindows1252(file.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
        if (line.size() >= 27)
            entries.push_back({line.mid(22, 3), line.mid(27)});
    return entries;
}
