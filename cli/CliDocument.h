#pragma once

// How vorn-cli download writes the document it fetched.

#include <QByteArray>
#include <QString>

// The program's own files, which a download never replaces: the configuration, the log and its
// history, the track cache, the pull's index and temporaries, the dispatch's folder lock and
// record. Decided by the file name, in whatever folder.
bool IsProgramFileName(const QString& fileName);

// Writes through a temporary file in the target's folder and renames it into place, so a failure
// or a crash never leaves a partial document. An existing file (or anything else of that name) is
// kept (EVornError) unless `replace` is set; a link of that name is replaced, never followed. A
// name of the program's own files is never written, whether a file is there or not (EVornError).
void WriteDocumentFile(const QString& fileName, const QByteArray& content, bool replace);
