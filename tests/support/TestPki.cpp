#include "tests/support/TestPki.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>
#include <mutex>
#include <stdexcept>

namespace {

// Every name the tests reach the server under. curl refuses a wildcard over "localhost" (too few
// labels), so each firm-type host is listed by itself.
const char* const kServerNames =
    "subjectAltName=DNS:localhost,DNS:aziende.localhost,DNS:professionisti.localhost,"
    "DNS:test.localhost,IP:127.0.0.1\n"
    "basicConstraints=critical,CA:FALSE\n"
    "keyUsage=critical,digitalSignature,keyEncipherment\n"
    "extendedKeyUsage=serverAuth\n";

const char* const kWrongNames = "subjectAltName=DNS:elsewhere.invalid\n"
                                "basicConstraints=critical,CA:FALSE\n"
                                "keyUsage=critical,digitalSignature,keyEncipherment\n"
                                "extendedKeyUsage=serverAuth\n";

void RunOpenssl(const QString& dir, const QStringList& arguments)
{
    QProcess process;
    process.setWorkingDirectory(dir);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForStarted(10000))
        throw std::runtime_error("cannot start openssl: " + process.errorString().toStdString());
    process.closeWriteChannel();
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        throw std::runtime_error("openssl " + arguments.join(' ').toStdString() + ": timed out");
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw std::runtime_error("openssl " + arguments.join(' ').toStdString() +
                                 " failed: " + process.readAllStandardError().toStdString());
}

void WriteText(const QString& path, const char* text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) < 0)
        throw std::runtime_error("cannot write " + path.toStdString() + ": " +
                                 file.errorString().toStdString());
}

void MakeKey(const QString& dir, const QString& key)
{
    RunOpenssl(dir, {"genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", key});
}

void MakeCa(const QString& dir, const QString& key, const QString& cert, const QString& subject)
{
    MakeKey(dir, key);
    RunOpenssl(dir, {"req", "-x509", "-new", "-key", key, "-sha256", "-days", "30", "-subj", subject,
                     "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
                     "keyUsage=critical,keyCertSign,cRLSign", "-out", cert});
}

void MakeLeaf(const QString& dir, const QString& caKey, const QString& caCert, const QString& key,
              const QString& cert, const QString& subject, const QString& extensionsFile)
{
    MakeKey(dir, key);
    const QString request = cert + ".csr";
    RunOpenssl(dir, {"req", "-new", "-key", key, "-subj", subject, "-out", request});
    RunOpenssl(dir, {"x509", "-req", "-in", request, "-CA", caCert, "-CAkey", caKey, "-CAcreateserial",
                     "-sha256", "-days", "30", "-extfile", extensionsFile, "-out", cert});
    QFile::remove(QDir(dir).filePath(request));
}

} // namespace

TestPki TestPki::InDir(const QString& dir)
{
    const QDir d(dir);
    TestPki pki;
    pki.Dir = d.absolutePath();
    pki.CaFile = d.absoluteFilePath("ca.pem");
    pki.ServerCert = d.absoluteFilePath("server.pem");
    pki.ServerKey = d.absoluteFilePath("server.key");
    pki.OtherCaFile = d.absoluteFilePath("other-ca.pem");
    pki.OtherCaServerCert = d.absoluteFilePath("other-server.pem");
    pki.OtherCaServerKey = d.absoluteFilePath("other-server.key");
    pki.WrongNameCert = d.absoluteFilePath("wrong-name.pem");
    pki.WrongNameKey = d.absoluteFilePath("wrong-name.key");
    return pki;
}

TestPki TestPki::Generate(const QString& dir)
{
    if (!QDir().mkpath(dir))
        throw std::runtime_error("cannot create " + dir.toStdString());
    const TestPki pki = InDir(dir);
    const QString d = pki.Dir;

    WriteText(QDir(d).filePath("server.ext"), kServerNames);
    WriteText(QDir(d).filePath("wrong-name.ext"), kWrongNames);

    MakeCa(d, "ca.key", "ca.pem", "/O=VORN test/CN=VORN test CA");
    MakeLeaf(d, "ca.key", "ca.pem", "server.key", "server.pem", "/O=VORN test/CN=localhost", "server.ext");
    MakeLeaf(d, "ca.key", "ca.pem", "wrong-name.key", "wrong-name.pem", "/O=VORN test/CN=elsewhere.invalid",
             "wrong-name.ext");

    MakeCa(d, "other-ca.key", "other-ca.pem", "/O=Unrelated test/CN=Unrelated test CA");
    MakeLeaf(d, "other-ca.key", "other-ca.pem", "other-server.key", "other-server.pem",
             "/O=Unrelated test/CN=localhost", "server.ext");
    return pki;
}

const TestPki& SharedTestPki()
{
    // Both live until the process ends, so every test of the executable shares one set of files.
    static std::unique_ptr<QTemporaryDir> folder;
    static TestPki pki;
    static std::once_flag once;
    std::call_once(once, [] {
        folder = std::make_unique<QTemporaryDir>();
        if (!folder->isValid())
            throw std::runtime_error("cannot create a temporary folder: " +
                                     folder->errorString().toStdString());
        pki = TestPki::Generate(folder->path());
    });
    return pki;
}
