#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>
#include <memory>

// Folders: what files one holds, whether one is there, making one. Reports by result, never throws.

// The names (no folder part) of the files in the folder of mask = folder + separator + pattern,
// sorted ascending without regard to case in the locale's linguistic order. Either "/" or "\" ends
// the folder part; a mask without one means the current folder. The pattern follows the Windows
// rules: "*" any run, "?" one character, case ignored, and a trailing ".*" also matches a name
// without a dot (so "*.*" matches every name).
// Listed: regular files, hidden ones too, and symbolic links to regular files. Skipped: folders,
// links to folders, dangling links and special files (FIFOs, sockets, devices), since the caller
// reads every listed file and none of those can be read as one.
// A folder that does not exist or cannot be read gives an empty list.
std::unique_ptr<QStringList> ListFolder(const QString& mask);
// The same, ordered by the given locale instead of the user's (QLocale::system()).
// A name whose bytes are not valid in the file-name encoding (UTF-8) is never listed: it could not
// be opened again under the text handed out. When `unmappable` is given, such names of files that
// match the pattern are added to it as they can be shown, each undecodable byte sequence as "?".
std::unique_ptr<QStringList> ListFolder(const QString& mask, const QLocale& locale,
                                        QStringList* unmappable = nullptr);

// Folder and name joined with one "/"; none is added when the folder already ends with one.
QString JoinPath(const QString& folder, const QString& name);

// A folder is there: a path whose attributes say folder (a link counts when its target does), or
// one whose attributes we may not read (it is there, we just cannot look). Only a path that is
// missing or cannot name anything counts as missing; a file is not a folder.
bool FolderExists(const QString& path);

// Makes one folder level (mode 0777 less the umask). A folder that the creation finds already there,
// made by another process since the caller looked, counts as made.
bool MakeFolder(const QString& path);
