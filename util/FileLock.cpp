#include "util/FileLock.h"

#include "util/SafeWrite.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct flock WholeFileWriteLock()
{
    struct flock whole = {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    return whole;
}

// The mode that lets every user who may write the folder open the lock file for writing.
mode_t SharedLockMode(mode_t current, mode_t folder)
{
    mode_t mode = current & 07777;
    if (folder & S_IWGRP)
        mode |= S_IRGRP | S_IWGRP;
    if (folder & S_IWOTH)
        mode |= S_IROTH | S_IWOTH;
    return mode;
}

std::optional<mode_t> FolderMode(const QByteArray& path)
{
    struct stat folder;
    if (::stat(FolderOf(path).constData(), &folder) != 0)
        return std::nullopt;
    return folder.st_mode;
}

// Only the owner may change the mode; another user's lock file stays as it is.
void ShareWithTheFolder(int fd, const QByteArray& path)
{
    struct stat info;
    const std::optional<mode_t> folder = FolderMode(path);
    if (!folder || ::fstat(fd, &info) != 0 || info.st_uid != ::geteuid())
        return;
    const mode_t shared = SharedLockMode(info.st_mode, *folder);
    if (shared != (info.st_mode & 07777))
        (void)::fchmod(fd, shared);
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
    ShareWithTheFolder(fd.Get(), name);

    struct flock whole = WholeFileWriteLock();
    if (::fcntl(fd.Get(), F_OFD_SETLK, &whole) != 0) {
        const int error = errno;
        if (error == EAGAIN || error == EACCES)
            return TFileLock(TState::Busy, error, std::move(fd), name);
        return TFileLock(TState::Failed, error, TUniqueFd());
    }
    return TFileLock(TState::Held, 0, std::move(fd), name);
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
    return TFileLock(TState::Held, 0, std::move(lock.FFd), std::move(lock.FPath));
}

bool TFileLock::StillAtPath() const
{
    struct stat held, named;
    return FState == TState::Held && ::fstat(FFd.Get(), &held) == 0 &&
           ::lstat(FPath.constData(), &named) == 0 && held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

std::optional<TLockFileAccess> LockFileAccess(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info;
    if (::lstat(name.constData(), &info) != 0)
        return std::nullopt;
    QString owner = QString::number(info.st_uid);
    struct passwd entry;
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(info.st_uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        owner = QString::fromLocal8Bit(found->pw_name);
    const std::optional<mode_t> folder = FolderMode(name);
    return TLockFileAccess{owner, mode_t(info.st_mode & 07777),
                           SharedLockMode(info.st_mode, folder.value_or(0))};
}
