#include "tests/operations/OperationsTestSupport.h"

#include "util/Text.h"

#include <QFile>

namespace operations_test {

ScopedAppLog::ScopedAppLog() : FFileName(FDir.filePath(QStringLiteral("VORN_Automatic.log")))
{
    AppLog = std::make_unique<TLogFile>(FFileName);
    AppLog->SetLevel(lfNormal);
    AppLog->SetWriteDelayForTesting(std::chrono::milliseconds(0));
}

ScopedAppLog::~ScopedAppLog()
{
    AppLog.reset();
}

std::vector<LogEntry> ScopedAppLog::Entries() const
{
    QFile file(FFileName);
    if (!file.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot read the log " << FFileName.toStdString();
        return {};
    }
    // "[dd/mm/yyyy hh.nn.ss] TAG- message": the message starts in column 28 of every line.
    std::vector<LogEntry> entries;
    for (const QString& line : FromWindows1252(file.readAll()).split(QStringLiteral("\r\n"))) {
        if (line.size() < 27)
            continue;
        LogEntry entry{line.mid(22, 3), line.mid(27)};
        if (entry.Message == QLatin1String("Log Start") ||
            entry.Message.startsWith(QLatin1String("Log Level: ")))
            continue;
        entries.push_back(entry);
    }
    return entries;
}

std::vector<QString> ScopedAppLog::Messages() const
{
    std::vector<QString> messages;
    for (const LogEntry& entry : Entries())
        messages.push_back(entry.Message);
    return messages;
}

} // namespace operations_test
