#include "tests/operations/OperationsTestSupport.h"

#include <QFileInfo>

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
    if (!QFileInfo(FFileName).isReadable()) {
        ADD_FAILURE() << "cannot read the log " << FFileName.toStdString();
        return {};
    }
    std::vector<LogEntry> entries = ReadLogEntries(FFileName);
    std::erase_if(entries, [](const LogEntry& entry) {
        return entry.Message == QLatin1String("Log Start") ||
               entry.Message.startsWith(QLatin1String("Log Level: "));
    });
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
