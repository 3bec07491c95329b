#include "util/WriterCheck.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>

namespace {

// Each check says whether a writer holds the file; a check the kernel cannot answer here (not our
// file, a file system without leases) says nothing.
bool OpenForWritingElsewhere(int fd)
{
    // A read lease is refused with EAGAIN while any descriptor has the file open for writing. It
    // is dropped at once: a lease still held when a writer arrives would bring SIGIO, whose
    // default action ends the process.
    if (fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
        fcntl(fd, F_SETLEASE, F_UNLCK);
        return false;
    }
    return errno == EAGAIN;
}

bool ExclusiveFlockElsewhere(int fd)
{
    // Kept until the descriptor closes, so a cooperating writer waits until we have read it.
    return flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

bool WriteLockElsewhere(int fd)
{
    // An open-file-description read lock over the whole file conflicts with another program's
    // POSIX write lock (Samba, Wine, fcntl users); kept until the descriptor closes.
    struct flock lock = {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    return fcntl(fd, F_OFD_SETLK, &lock) != 0 && (errno == EAGAIN || errno == EACCES);
}

constexpr std::array kWriterChecks = {&OpenForWritingElsewhere, &ExclusiveFlockElsewhere,
                                      &WriteLockElsewhere};

} // namespace

bool HeldByWriter(int fd)
{
    for (const auto heldByWriter : kWriterChecks)
        if (heldByWriter(fd))
            return true;
    return false;
}
