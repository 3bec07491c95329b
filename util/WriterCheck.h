#pragma once

// Linux files have no share modes, so "nobody else may have this file open" becomes: nobody is
// writing it, in any of the three ways the kernel lets us see without waiting. True when another
// open file description holds the file for writing (an open for writing, an exclusive flock, a
// POSIX write lock). The shared flock and the read lock it takes stay until fd is closed, so a
// cooperating writer waits until the reader is done. Its first call makes the process ignore SIGIO
// (unless the program handles that signal), so that a writer arriving during the check's read
// lease cannot end the process.
bool HeldByWriter(int fd);
