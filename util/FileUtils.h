#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <memory>

// File and system helpers of the dispatch cycle and the start-up. They hold no state, know nothing
// of invoices, and report by their result: none of them throws on its own.

// The local date and time as "yyyymmddhhnnss": 14 digits, hours 00 to 23, no separators.
QString TimestampText();
QString TimestampText(const QDateTime& at);

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
std::unique_ptr<QStringList> ListFolder(const QString& mask, const QLocale& locale);

// A folder is there: a path whose attributes say folder (a link counts when its target does), or
// one whose attributes we may not read (it is there, we just cannot look). Only a path that is
// missing or cannot name anything counts as missing; a file is not a folder.
bool FolderExists(const QString& path);

// Moves a file to the target path, also into another folder or onto another file system. Never
// replaces an existing target. False on any failure (target exists, source missing or a folder,
// target folder missing, access denied, ...), and then the source and any existing target are as
// they were. Between file systems the file is copied (mode and modification time kept, synced to
// disk) before the source goes: a crash during the copy can leave both, never neither.
bool MoveFileTo(const QString& source, const QString& target);

// Waits the full length while every event of this thread is processed as it arrives; blocks
// between events rather than spinning. Without a QCoreApplication it just sleeps.
void WaitPumping(quint32 ms);
