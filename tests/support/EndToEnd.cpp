#include "tests/support/EndToEnd.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <cstdio>
#include <cstring>
#include <sys/stat.h>

QString EndToEndServiceDomain()
{
    return QStringLiteral(VORN_SERVICE_DOMAIN);
}

int EndToEndPort()
{
    const QString domain = EndToEndServiceDomain();
    const qsizetype colon = domain.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    const int port = colon < 0 ? 0 : domain.mid(colon + 1).toInt(&ok);
    return ok ? port : 443;
}

TestPki EndToEndPki()
{
    return TestPki::InDir(QStringLiteral(VORN_TEST_PKI_DIR));
}

QString EndToEndSkipReason()
{
    const QString caBundle = QStringLiteral(VORN_CA_BUNDLE);
    if (EndToEndServiceDomain().startsWith(QLatin1String("localhost:")) &&
        QFileInfo(caBundle).absoluteFilePath() == QFileInfo(EndToEndPki().CaFile).absoluteFilePath())
        return {};
    return QStringLiteral("the build posts to %1 trusting '%2', not to the substitute backend on loopback "
                          "with the fixture's CA")
        .arg(EndToEndServiceDomain(), caBundle);
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QThread::msleep(20);
    }
    return true;
}

TServicePortHold HoldServicePortWhenDeclared(int argc, char** argv)
{
    TServicePortHold hold;
    if (qEnvironmentVariableIsEmpty("VORN_TEST_HOLDS_SERVICE_PORT"))
        return hold;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--gtest_list_tests") == 0)
            return hold;
    const QString path = QStringLiteral("/tmp/vorn-test-port-%1.lock").arg(EndToEndPort());
    TFileLock lock = TFileLock::Acquire(path, [&] {
        std::fprintf(stderr, "waiting for port %d: another test run holds %s\n", EndToEndPort(),
                     qPrintable(path));
    });
    if (lock.State() != TFileLock::TState::Held) {
        std::fprintf(stderr, "cannot lock %s: %s\n", qPrintable(path), std::strerror(lock.Error()));
        hold.Failed = true;
        return hold;
    }
    // Whoever else runs tests on this machine must be able to wait for it too, whatever our umask.
    [[maybe_unused]] const int ignored = ::fchmod(lock.Fd(), 0666);
    hold.Lock.emplace(std::move(lock));
    return hold;
}
