#include "util/FileLock.h"

#include "util/SafeWrite.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>

namespace {

struct flock WholeFileWriteLock()
{
    struct flock whole = {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    return whole;
}

} // namespace

TFileLock TFileLock::TryAcquire(const QString& path)
{
    // An existing lock file is opened as it is; a missing one is created exclusively, so a link or
    // any other file planted at that name is never written through.
    const QByteArray name = QFile::encodeName(path);
    TUniqueFd fd = name.isEmpty() ? TUniqueFd() : OpenOrCreateRegularFile(name, O_RDWR, 0666);
    if (!fd.IsOpen())
        return TFileLock(TState::Failed, name.isEmpty() ? ENOENT : errno, TUniqueFd());

    struct flock whole = WholeFileWriteLock();
    if (::fcntl(fd.Get(), F_OFD_SETLK, &whole) != 0) {
        const int error = errno;
        if (error == EAGAIN || error == EACCES)
            return TFileLock(TState::Busy, error, std::move(fd));
        return TFileLock(TState::Failed, error, TUniqueFd());
    }
    return TFileLock(TState::Held, 0, std::move(fd));
}

TFileLock TFileLock::Acquire(const QString& path, const std::function<void()>& beforeWaiting)
{
    TFileLock lock = TryAcquire(path);
    if (lock.FState != TState::Busy)
        return lock;
    if (beforeWaiting)
        beforeWaiting();
    struct flock whole = WholeFileWriteLock();
    while (::fcntl(lock.FFd.Get(), F_OFD_SETLKW, &whole) != 0)
        if (errno != EINTR)
            return TFileLock(TState::Failed, errno, TUniqueFd());
    return TFileLock(TState::Held, 0, std::move(lock.FFd));
}
