#include "util/FileLock.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

// An existing lock file is opened as it is; a missing one is created exclusively, so a link or any
// other file planted at that name is never written through. The lock file holds no data.
TUniqueFd OpenLockFile(const QByteArray& path)
{
    constexpr int kFlags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    for (int attempt = 0; attempt < 3; ++attempt) {
        TUniqueFd fd(::open(path.constData(), kFlags));
        if (fd.IsOpen() || errno != ENOENT)
            return fd;
        fd = TUniqueFd(::open(path.constData(), kFlags | O_CREAT | O_EXCL, 0666));
        if (fd.IsOpen() || errno != EEXIST)
            return fd;
        // Another process created it between the two calls: open that one.
    }
    return TUniqueFd();
}

} // namespace

TFileLock TFileLock::TryAcquire(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    TUniqueFd fd = name.isEmpty() ? TUniqueFd() : OpenLockFile(name);
    if (!fd.IsOpen())
        return TFileLock(TState::Failed, name.isEmpty() ? ENOENT : errno, TUniqueFd());
    struct stat info;
    if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return TFileLock(TState::Failed, EINVAL, TUniqueFd());

    struct flock whole = {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    if (::fcntl(fd.Get(), F_OFD_SETLK, &whole) != 0) {
        const int error = errno;
        if (error == EAGAIN || error == EACCES)
            return TFileLock(TState::Busy, error, TUniqueFd());
        return TFileLock(TState::Failed, error, TUniqueFd());
    }
    return TFileLock(TState::Held, 0, std::move(fd));
}
