#pragma once

#include <QByteArray>
#include <QString>

// Moves a file to the target path, also into another folder or onto another file system. Never
// replaces an existing target. False on any failure (target exists, source missing or a folder,
// target folder missing, access denied, ...), and then the source and any existing target are as
// they were. Between file systems the file is copied (mode and modification time kept, synced to
// disk) before the source goes: a crash during the copy can leave both, never neither.
bool MoveFileTo(const QString& source, const QString& target);
// The same with each name relative to its folder's descriptor (AT_FDCWD: the current folder).
bool MoveFileAt(int sourceDir, const QByteArray& source, int targetDir, const QByteArray& target);
