// Build-time tool: writes the program's icon for the desktop's hicolor theme, from the same
// drawing the window shows, so that no image files are kept in the sources.
//   vorn-write-icons <folder> <name> <size>...
// writes <folder>/<N>x<N>/apps/<name>.png for every size and <folder>/scalable/apps/<name>.svg.

#include "app/AppIconDrawing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QString>

#include <cstdio>

namespace {

bool Fail(const QString& message)
{
    std::fprintf(stderr, "vorn-write-icons: %s\n", qPrintable(message));
    return false;
}

bool MakeParent(const QString& file)
{
    return QDir().mkpath(QFileInfo(file).absolutePath()) ||
           Fail(QStringLiteral("cannot create the folder of ") + file);
}

bool WritePng(const QString& file, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    PaintApplicationIcon(painter, size);
    painter.end();
    return (MakeParent(file) && image.save(file, "PNG")) || Fail(QStringLiteral("cannot write ") + file);
}

bool WriteSvg(const QString& file)
{
    QFile out(file);
    const QByteArray svg = ApplicationIconSvg();
    return (MakeParent(file) && out.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
            out.write(svg) == svg.size() && out.flush()) ||
           Fail(QStringLiteral("cannot write ") + file);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: vorn-write-icons <folder> <name> <size>...\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    bool ok = WriteSvg(folder + QStringLiteral("/scalable/apps/") + name + QStringLiteral(".svg"));
    for (int i = 3; i < argc; ++i) {
        bool isNumber = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&isNumber);
        if (!isNumber || size <= 0) {
            ok = Fail(QStringLiteral("'%1' is not an icon size").arg(QString::fromLocal8Bit(argv[i])));
            continue;
        }
        const QString dimension = QStringLiteral("%1x%1").arg(size);
        ok = WritePng(folder + u'/' + dimension + QStringLiteral("/apps/") + name + QStringLiteral(".png"),
                      size) &&
             ok;
    }
    return ok ? 0 : 1;
}
