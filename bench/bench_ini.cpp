// Reads 10,000 keys from a generated 1 MB INI file through one accessor and prints the rate. The
// accessor keeps the parsed file while the file's stamp is unchanged, so this measures a stat() and a
// hash lookup per read; the one-off parse is timed separately.
#include "config/ConfigFile.h"

#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

constexpr int kKeys = 10000;
constexpr int kKeysPerSection = 100;

QString KeyName(int i)
{
    return QStringLiteral("Chiave%1").arg(i, 5, 10, QChar(u'0'));
}

QString ValueOf(int i)
{
    return QStringLiteral("valore %1 ").arg(i) + QString(80, u'v');
}

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

} // namespace

int main()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("VORN_Automatic.ini"));
    QByteArray text;
    for (int i = 0; i < kKeys; ++i) {
        if (i % kKeysPerSection == 0)
            text += QStringLiteral("[Sezione%1]\r\n").arg(i / kKeysPerSection).toLatin1();
        text += (KeyName(i) + u'=' + ValueOf(i) + QStringLiteral("\r\n")).toLatin1();
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return 1;
    file.close();

    // A file that changed within the last two seconds is parsed anew on every read (its timestamps
    // could hide a further change); a configuration file is normally far older than that.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));

    auto begin = std::chrono::steady_clock::now();
    TConfigFile cold(path);
    const QString first = cold.ReadString(QStringLiteral("Sezione0"), KeyName(0), QString());
    const double parse = Seconds(std::chrono::steady_clock::now() - begin);

    TConfigFile config(path);
    int wrong = first == ValueOf(0) ? 0 : 1;
    begin = std::chrono::steady_clock::now();
    for (int i = 0; i < kKeys; ++i) {
        const QString section = QStringLiteral("sezione%1").arg(i / kKeysPerSection);
        if (config.ReadString(section, KeyName(i).toUpper(), QString()) != ValueOf(i))
            ++wrong;
    }
    const double elapsed = Seconds(std::chrono::steady_clock::now() - begin);

    std::printf("bench_ini: file %lld bytes; first read (read + parse) %.1f ms\n", qlonglong(text.size()),
                parse * 1e3);
    std::printf("bench_ini: %d keys in %.3f s: %.0f keys/s (%.1f us per key), %d wrong\n", kKeys, elapsed,
                kKeys / elapsed, elapsed * 1e6 / kKeys, wrong);
    return wrong == 0 ? 0 : 1;
}
