#include "util/FileMove.h"

#include "util/SafeWrite.h"
#include "util/UniqueFd.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool CopyBytes(int from, int to)
{
    std::vector<char> buffer(256 * 1024);
    for (;;) {
        const ssize_t got = read(from, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0)
            return true;
        if (WriteAll(to, QByteArrayView(buffer.data(), got)) != 0)
            return false;
    }
}

// The move between file systems: the target is created exclusively (nothing is replaced) and is on
// disk, folder entry included, before the source goes. Any failure up to the source's removal
// removes the target again, so the source alone remains.
bool CopyThenUnlink(int sourceDir, const QByteArray& source, int targetDir, const QByteArray& target)
{
    TUniqueFd in(openat(sourceDir, source.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat info;
    if (!in.IsOpen() || fstat(in.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;

    TNewFile out = TNewFile::AtPath(targetDir, target, S_IRUSR | S_IWUSR);
    if (out.Error() != 0 || !CopyBytes(in.Get(), out.Fd()))
        return false;
    // Mode and times are kept where the target file system can hold them (FAT cannot); the bytes
    // are what must not be lost.
    (void)fchmod(out.Fd(), info.st_mode & 07777);
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    (void)futimens(out.Fd(), times);
    if (out.Finish() != 0 || SyncFolderOf(targetDir, target) != 0)
        return false;

    if (unlinkat(sourceDir, source.constData(), 0) != 0)
        return false;
    out.Keep();
    (void)SyncFolderOf(sourceDir, source); // the move has happened; this only makes it durable sooner
    return true;
}

} // namespace

bool MoveFileTo(const QString& source, const QString& target)
{
    return MoveFileAt(AT_FDCWD, QFile::encodeName(source), AT_FDCWD, QFile::encodeName(target));
}

bool MoveFileAt(int sourceDir, const QByteArray& source, int targetDir, const QByteArray& target)
{
    struct stat info;
    if (source.isEmpty() || target.isEmpty() ||
        fstatat(sourceDir, source.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(info.st_mode))
        return false;

    const int error = RenameNoReplaceAt(sourceDir, source, targetDir, target);
    if (error == 0)
        return true;
    // Another file system, or one that can neither refuse to replace nor link: copy.
    if (error == EXDEV || error == ENOTSUP)
        return CopyThenUnlink(sourceDir, source, targetDir, target);
    return false;
}
