#include "util/WriterCheck.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// However briefly a lease is held, another process may open the file for writing meanwhile; the
// kernel then signals the lease holder, with SIGIO, whose default action ends the process. So
// before the first lease SIGIO is ignored process-wide (an ignored signal is dropped as it is sent,
// it interrupts no call), unless the program already handles it itself.
void IgnoreLeaseBreakSignal()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current = {};
        if (sigaction(SIGIO, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) != 0 ||
            current.sa_handler != SIG_DFL)
            return;
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGIO, &ignore, nullptr);
    });
}

// Each check says whether a writer holds the file; a check the kernel cannot answer here (not our
// file, a file system without leases) says nothing.
bool OpenForWritingElsewhere(int fd)
{
    // A read lease is refused with EAGAIN while any descriptor has the file open for writing. It
    // is dropped at once, so a writer that breaks it waits no longer than that; the break is
    // signalled with SIGIO (no F_SETSIG on this descriptor), which is ignored.
    IgnoreLeaseBreakSignal();
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

int ReadWholeUnshared(int fd, qint64 maxBytes, QByteArray& content)
{
    struct stat status = {};
    if (fstat(fd, &status) != 0)
        return errno;
    if (S_ISDIR(status.st_mode))
        return EISDIR;
    if (!S_ISREG(status.st_mode))
        return EINVAL;
    if (status.st_size > maxBytes)
        return EFBIG;
    if (HeldByWriter(fd))
        return EBUSY;
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return errno;

    content.clear();
    content.reserve(qsizetype(status.st_size));
    std::array<char, 64 * 1024> chunk;
    for (;;) {
        const ssize_t count = ::read(fd, chunk.data(), chunk.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return errno;
        if (count == 0)
            return 0;
        if (content.size() + count > maxBytes)
            return EFBIG;
        content.append(chunk.data(), qsizetype(count));
    }
}
