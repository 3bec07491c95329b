#pragma once

#include <QByteArray>
#include <QtGlobal>

// Linux files have no share modes, so "nobody else may have this file open" becomes: nobody is
// writing it, in any of the three ways the kernel lets us see without waiting. True when another
// open file description holds the file for writing (an open for writing, an exclusive flock, a
// POSIX write lock). The shared flock and the read lock it takes stay until fd is closed, so a
// cooperating writer waits until the reader is done. Its first call makes the process ignore SIGIO
// (unless the program handles that signal), so that a writer arriving during the check's read
// lease cannot end the process.
bool HeldByWriter(int fd);

// Reads the whole of the open regular file fd when nobody is writing it (HeldByWriter), going on
// after interrupted reads: 0, or EINVAL for anything that is not a regular file, EFBIG when it holds
// more than maxBytes (looked at before reading, and while reading, for a file that grows), EBUSY
// when a writer holds it, or the errno of the read. The descriptor may be non-blocking (a FIFO in
// a file's place must not hang the reader): it is made blocking before the read.
int ReadWholeUnshared(int fd, qint64 maxBytes, QByteArray& content);
