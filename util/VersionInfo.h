#pragma once

#include <QByteArray>
#include <QString>

// The product and file versions of an executable, as "major.minor.patch.build".
struct TFileVersions
{
    QString Product;
    QString File;
};

// Reads the version section (see VersionSection.h) from the executable FILE at the path, not from
// the running process. A file that cannot be read, is not ELF, is damaged or has no valid section
// gives two empty texts; nothing is thrown.
TFileVersions GetFileVersions(const QString& path);
// The same over a file's bytes already in memory.
TFileVersions GetFileVersionsFromImage(const QByteArray& image);
