// Writes the test PKI into the folder given on the command line, for the end-to-end tests whose
// program was built to trust <folder>/ca.pem. A set that is there and still valid for a day is
// kept, so running it again changes nothing under tests that already use it.

#include "tests/support/TestPki.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QProcess>

#include <cstdio>
#include <exception>

namespace {

bool StillValid(const QString& cert, const QString& ca)
{
    if (!QFileInfo::exists(cert))
        return false;
    QProcess process;
    process.start("openssl", {"verify", "-CAfile", ca, "-attime",
                              QString::number(QDateTime::currentSecsSinceEpoch() + 86400), cert});
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

bool Complete(const TestPki& pki)
{
    for (const QString& file : {pki.ServerKey, pki.OtherCaFile, pki.OtherCaServerKey, pki.WrongNameKey})
        if (!QFileInfo::exists(file))
            return false;
    return StillValid(pki.ServerCert, pki.CaFile) && StillValid(pki.WrongNameCert, pki.CaFile) &&
           StillValid(pki.OtherCaServerCert, pki.OtherCaFile);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    try {
        if (Complete(TestPki::InDir(dir))) {
            std::printf("test PKI in %s is current\n", argv[1]);
            return 0;
        }
        TestPki::Generate(dir);
        std::printf("test PKI written to %s\n", argv[1]);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
