#include "tests/support/EndToEnd.h"

#include <QElapsedTimer>
#include <QThread>

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
