// ListFolder on a folder of 20,000 files: the outgoing folder of an office that fell far behind.
// Prints the best and the median of several runs in milliseconds, in the C and the Italian locale.

#include "util/Folders.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    const int fileCount = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int runs = 7;
    QTemporaryDir folder;
    if (!folder.isValid()) {
        std::fprintf(stderr, "cannot create a temporary folder\n");
        return 1;
    }
    for (int i = 0; i < fileCount; ++i) {
        // Mixed case and accents, as invoice names and scanned documents come.
        const QString name = QStringLiteral("%1T%2_%3.%4")
                                 .arg(i % 3 == 0 ? QStringLiteral("i") : QStringLiteral("I"))
                                 .arg(qint64(1000000000LL + (i * 7919LL) % 1000000000LL))
                                 .arg(i, 5, 10, QLatin1Char('0'))
                                 .arg(i % 5 == 0 ? QStringLiteral("p7m") : QStringLiteral("xml"));
        const int fd = open(QFile::encodeName(folder.filePath(name)).constData(), O_CREAT | O_WRONLY, 0600);
        if (fd < 0) {
            std::perror("open");
            return 1;
        }
        close(fd);
    }

    for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::Italian, QLocale::Italy)}) {
        std::vector<qint64> times;
        qsizetype listed = 0;
        for (int run = 0; run < runs; ++run) {
            QElapsedTimer clock;
            clock.start();
            listed = ListFolder(folder.path() + QStringLiteral("/*.*"), locale)->size();
            times.push_back(clock.nsecsElapsed());
        }
        std::sort(times.begin(), times.end());
        std::printf("ListFolder %s: %lld files, best %.1f ms, median %.1f ms\n", qPrintable(locale.name()),
                    static_cast<long long>(listed), times.front() / 1e6, times[times.size() / 2] / 1e6);
    }
    return 0;
}
