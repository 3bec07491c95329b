// Writes 2000 lines through the log without its 100 ms wait and prints the rate: the cost of the
// file work alone (open, Ctrl+Z check, write, close, and from the 101st line the size check).
#include "log/LogFile.h"

#include <QTemporaryDir>

#include <chrono>
#include <cstdio>

int main()
{
    constexpr int kLines = 2000;
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    TLogFile log(dir.filePath(QStringLiteral("VORN_Automatic.log")));
    log.SetWriteDelayForTesting(std::chrono::milliseconds(0));

    const QString message =
        QStringLiteral("InviaFattura: IT01234567890_%1.xml, risposta del servizio ricevuta");
    const auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < kLines; ++i)
        log.WriteLogErr(message.arg(i, 5, 10, QChar(u'0')));
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - begin;

    std::printf("bench_log: %d lines in %.3f s: %.0f lines/s (%.1f us per line)\n", kLines, elapsed.count(),
                kLines / elapsed.count(), elapsed.count() * 1e6 / kLines);
    return 0;
}
