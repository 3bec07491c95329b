#pragma once

// The log file as the tests read it back: one entry per line, "[dd/mm/yyyy hh.nn.ss] TAG- message".

#include <QString>
#include <ostream>
#include <vector>

struct LogEntry
{
    QString Tag; // "   " for normal, "WRN" for warning, "ERR" for error entries
    QString Message;
    bool operator==(const LogEntry&) const = default;
};

inline void PrintTo(const LogEntry& entry, std::ostream* os)
{
    *os << "[" << entry.Tag.toStdString() << "] " << entry.Message.toStdString();
}

inline LogEntry Normal(const QString& message)
{
    return {QStringLiteral("   "), message};
}

inline LogEntry Warning(const QString& message)
{
    return {QStringLiteral("WRN"), message};
}

// The entries of the log file at path, in order; none while it cannot be read (not written yet).
std::vector<LogEntry> ReadLogEntries(const QString& path);
