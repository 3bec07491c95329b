#include "util/SafeWrite.h"

#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// Random characters enough that nobody can guess the name, or hold it in advance by creating it.
constexpr int kRandomLength = TNewFile::kTemporaryRandomLength;
constexpr int kNameAttempts = 64;
// Room for the random part within a file name's 255 bytes.
constexpr qsizetype kMaxTargetNameInTemporary = 200;

constexpr int kCreateFlags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;

QByteArray RandomPart()
{
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray text(kRandomLength, Qt::Uninitialized);
    QRandomGenerator* random = QRandomGenerator::system();
    for (char& c : text)
        c = kAlphabet[random->bounded(int(sizeof kAlphabet - 1))];
    return text;
}

// The file system cannot refuse to replace in a rename (or the kernel has no renameat2).
bool NoReplaceUnsupported(int error)
{
    return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP;
}

// File systems without hard links (FAT, some network and FUSE ones) say so with these.
bool HardLinkUnsupported(int error)
{
    return error == EPERM || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP || error == EMLINK;
}

} // namespace

int WriteAll(int fd, QByteArrayView bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO;
        done += n;
    }
    return 0;
}

QByteArray FolderOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return ".";
    return slash == 0 ? QByteArray("/") : path.left(slash);
}

int SyncFolder(const QByteArray& folder)
{
    const TUniqueFd dir(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.IsOpen() || ::fsync(dir.Get()) != 0)
        return errno;
    return 0;
}

int ResolveOwnLink(const QByteArray& path, QByteArray& resolved)
{
    resolved = path;
    // The link itself, held open: what is checked is what is read, however the folder changes.
    const TUniqueFd link(::open(path.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!link.IsOpen())
        return errno == ENOENT ? 0 : errno;
    struct stat linkInfo
    {
    };
    if (::fstat(link.Get(), &linkInfo) != 0)
        return errno;
    if (!S_ISLNK(linkInfo.st_mode))
        return 0;
    const QByteArray folder = FolderOf(path);
    struct stat folderInfo
    {
    };
    if (linkInfo.st_uid != ::geteuid() &&
        (::stat(folder.constData(), &folderInfo) != 0 || folderInfo.st_uid != linkInfo.st_uid))
        return ELOOP;
    char buffer[PATH_MAX];
    const ssize_t length = ::readlinkat(link.Get(), "", buffer, sizeof buffer);
    if (length < 0)
        return errno;
    if (length == ssize_t(sizeof buffer))
        return ENAMETOOLONG;
    QByteArray target(buffer, length);
    if (!target.startsWith('/'))
        target = folder + '/' + target;
    // A target that is not there yet is created under the name the link gives it.
    if (char* real = ::realpath(target.constData(), nullptr)) {
        target = real;
        std::free(real);
    }
    resolved = target;
    return 0;
}

int RenameNoReplace(const QByteArray& from, const QByteArray& to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    const int error = errno;
    if (!NoReplaceUnsupported(error))
        return error;
    // A hard link never replaces either.
    if (::link(from.constData(), to.constData()) != 0) {
        const int linkError = errno;
        return HardLinkUnsupported(linkError) ? ENOTSUP : linkError;
    }
    if (::unlink(from.constData()) != 0) {
        const int unlinkError = errno;
        ::unlink(to.constData()); // the same file under two names: keep the source's
        return unlinkError;
    }
    return 0;
}

TNewFile::TNewFile(QByteArray path, int fd, int error) : FPath(std::move(path)), FFd(fd), FError(error)
{
    if (FError != 0)
        FPath.clear();
}

TNewFile::TNewFile(TNewFile&& other) noexcept
    : FPath(std::exchange(other.FPath, QByteArray())), FFd(std::move(other.FFd)), FError(other.FError)
{}

TNewFile::~TNewFile()
{
    if (FPath.isEmpty())
        return;
    const int saved = errno;
    FFd = TUniqueFd();
    ::unlink(FPath.constData());
    errno = saved;
}

namespace {

TUniqueFd OpenRegular(const QByteArray& path, int flags, bool create, mode_t mode)
{
    const int common = flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    TUniqueFd fd;
    for (int attempt = 0; attempt < 3 && !fd.IsOpen(); ++attempt) {
        fd = TUniqueFd(::open(path.constData(), common));
        if (fd.IsOpen() || errno != ENOENT || !create)
            break;
        fd = TUniqueFd(::open(path.constData(), common | O_CREAT | O_EXCL, mode));
        if (!fd.IsOpen() && errno != EEXIST)
            break;
    }
    struct stat info;
    if (!fd.IsOpen() || ::fstat(fd.Get(), &info) != 0)
        return TUniqueFd();
    if (!S_ISREG(info.st_mode)) {
        errno = EINVAL;
        return TUniqueFd();
    }
    if (::fcntl(fd.Get(), F_SETFL, flags & ~(O_ACCMODE | O_CREAT | O_EXCL | O_TRUNC)) != 0)
        return TUniqueFd();
    return fd;
}

} // namespace

TUniqueFd OpenRegularFile(const QByteArray& path, int flags)
{
    return OpenRegular(path, flags, false, 0);
}

TUniqueFd OpenOrCreateRegularFile(const QByteArray& path, int flags, mode_t mode)
{
    return OpenRegular(path, flags, true, mode);
}

TNewFile TNewFile::AtPath(const QByteArray& path, mode_t mode)
{
    const int fd = ::open(path.constData(), kCreateFlags, mode);
    return TNewFile(path, fd, fd < 0 ? errno : 0);
}

TNewFile TNewFile::Beside(const QByteArray& target, mode_t mode)
{
    const qsizetype slash = target.lastIndexOf('/');
    return InFolder(FolderOf(target), '.' + target.mid(slash + 1).left(kMaxTargetNameInTemporary) + '.',
                    mode);
}

TNewFile TNewFile::InFolder(const QByteArray& folder, const QByteArray& namePrefix, mode_t mode)
{
    const QByteArray prefix = (folder.endsWith('/') ? folder : folder + '/') + namePrefix;
    int error = EEXIST;
    for (int attempt = 0; attempt < kNameAttempts && error == EEXIST; ++attempt) {
        const QByteArray path = prefix + RandomPart();
        const int fd = ::open(path.constData(), kCreateFlags, mode);
        if (fd >= 0)
            return TNewFile(path, fd, 0);
        error = errno;
    }
    return TNewFile(QByteArray(), -1, error);
}

int TNewFile::Finish()
{
    if (::fsync(FFd.Get()) != 0 || ::close(FFd.Release()) != 0)
        return errno;
    return 0;
}

int ReplaceFile(const QByteArray& target, QByteArrayView bytes, mode_t mode)
{
    struct stat old
    {
    };
    const bool replacesFile = ::lstat(target.constData(), &old) == 0 && S_ISREG(old.st_mode);
    TNewFile file = TNewFile::Beside(target, mode);
    if (file.Error() != 0)
        return file.Error();
    if (replacesFile) {
        if (::fchmod(file.Fd(), old.st_mode & 07777) != 0)
            return errno;
        // Only root may give a file away; the new file then belongs to us, with the old mode.
        (void)::fchown(file.Fd(), old.st_uid, old.st_gid);
    }
    if (const int error = file.Write(bytes))
        return error;
    if (const int error = file.Finish())
        return error;
    if (::rename(file.Path().constData(), target.constData()) != 0)
        return errno;
    file.Keep();
    // The new file is in place; the folder's flush makes that survive a power cut. Some file
    // systems refuse fsync on folders, and the file is in place either way.
    (void)SyncFolder(FolderOf(target));
    return 0;
}

int CreateFileWhole(const QByteArray& target, QByteArrayView bytes, mode_t mode,
                    const QByteArray& temporaryPrefix)
{
    TNewFile file = temporaryPrefix.isEmpty() ? TNewFile::Beside(target, mode)
                                              : TNewFile::InFolder(FolderOf(target), temporaryPrefix, mode);
    if (file.Error() != 0)
        return file.Error();
    if (const int error = file.Write(bytes))
        return error;
    if (const int error = file.Finish())
        return error;
    if (const int error = RenameNoReplace(file.Path(), target))
        return error;
    file.Keep();
    (void)SyncFolder(FolderOf(target));
    return 0;
}

int RewriteInPlace(const QByteArray& path, QByteArrayView bytes)
{
    TUniqueFd fd(::open(path.constData(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info
    {
    };
    if (!fd.IsOpen() || ::fstat(fd.Get(), &info) != 0)
        return errno;
    if (!S_ISREG(info.st_mode))
        return EINVAL;
    if (const int error = WriteAll(fd.Get(), bytes))
        return error;
    // A shorter text must not keep the old file's tail.
    if (::ftruncate(fd.Get(), bytes.size()) != 0 || ::fsync(fd.Get()) != 0 || ::close(fd.Release()) != 0)
        return errno;
    return 0;
}
