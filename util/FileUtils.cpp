#include "util/FileUtils.h"
#include "util/UniqueFd.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <numeric>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// --- folder listing ---

struct DirCloser
{
    void operator()(DIR* dir) const { closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

bool IsPathSeparator(QChar c)
{
    return c == u'/' || c == u'\\';
}

// Case-insensitive wildcard match: "*" any run, "?" exactly one character. Both texts are already
// case-folded. Greedy with backtracking to the last star, so linear for the usual patterns.
bool WildcardMatch(QStringView name, QStringView pattern)
{
    qsizetype n = 0, p = 0, starP = -1, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (starP >= 0) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

// The Windows rules also let a trailing ".*" match a name without an extension: "*.*" matches
// every name, "report.*" matches "report".
bool MatchesMask(QStringView foldedName, QStringView foldedPattern)
{
    if (WildcardMatch(foldedName, foldedPattern))
        return true;
    return foldedPattern.endsWith(u".*") && WildcardMatch(foldedName, foldedPattern.chopped(2));
}

// Regular files and links to them: everything else (folders, dangling links, FIFOs, sockets,
// devices) cannot be read as an invoice, and a FIFO would even block the reader.
bool IsListedFile(int dirFd, const dirent& entry)
{
    switch (entry.d_type) {
    case DT_REG:
        return true;
    case DT_LNK:
    case DT_UNKNOWN: {
        struct stat info;
        return fstatat(dirFd, entry.d_name, &info, 0) == 0 && S_ISREG(info.st_mode);
    }
    default:
        return false;
    }
}

// A name that does not survive the trip through QString (bytes that are not valid in the file-name
// encoding) could not be opened again under the text we hand out; it is left where it is.
bool RoundTrips(const char* rawName, const QString& name)
{
    for (const char* c = rawName; *c != '\0'; ++c)
        if (static_cast<unsigned char>(*c) >= 0x80)
            return QFile::encodeName(name) == rawName;
    return true;
}

// ICU gives English no tailoring, so its order is the root (language-neutral) order. The C locale
// must not be handed to QCollator: its sort keys there compare code points with case ("B" < "a").
QLocale CollationLocale(const QLocale& locale)
{
    return locale.language() == QLocale::C ? QLocale(QLocale::English) : locale;
}

void SortWithoutCase(QStringList& names, const QLocale& locale)
{
    QCollator collator(CollationLocale(locale));
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::vector<QCollatorSortKey> keys;
    keys.reserve(names.size());
    for (const QString& name : names)
        keys.push_back(collator.sortKey(name));

    std::vector<qsizetype> order(names.size());
    std::iota(order.begin(), order.end(), 0);
    // Names equal to the collator are put in code-point order so that a listing is reproducible.
    std::sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        const int c = keys[a].compare(keys[b]);
        return c != 0 ? c < 0 : names[a] < names[b];
    });

    QStringList sorted;
    sorted.reserve(names.size());
    for (qsizetype i : order)
        sorted.append(std::move(names[i]));
    names = std::move(sorted);
}

// --- file move ---

// A target this move created; removed again unless the move gets to the end.
class PartialTarget
{
public:
    explicit PartialTarget(QByteArray path) : FPath(std::move(path)) {}
    ~PartialTarget()
    {
        if (!FPath.isEmpty())
            unlink(FPath.constData());
    }
    PartialTarget(const PartialTarget&) = delete;
    PartialTarget& operator=(const PartialTarget&) = delete;

    void Keep() { FPath.clear(); }

private:
    QByteArray FPath;
};

QByteArray FolderOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return ".";
    return slash == 0 ? QByteArray("/") : path.left(slash);
}

bool SyncFolder(const QByteArray& folder)
{
    TUniqueFd dir(open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dir.IsOpen() && fsync(dir.Get()) == 0;
}

bool WriteAll(int fd, const char* data, size_t length)
{
    while (length > 0) {
        const ssize_t written = write(fd, data, length);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

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
        if (!WriteAll(to, buffer.data(), static_cast<size_t>(got)))
            return false;
    }
}

// The move between file systems: the target is created exclusively (nothing is replaced) and is on
// disk, folder entry included, before the source goes. Any failure up to the source's removal
// removes the target again, so the source alone remains.
bool CopyThenUnlink(const QByteArray& source, const QByteArray& target)
{
    TUniqueFd in(open(source.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat info;
    if (!in.IsOpen() || fstat(in.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;

    TUniqueFd out(open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR));
    if (!out.IsOpen())
        return false;
    PartialTarget created(target);

    if (!CopyBytes(in.Get(), out.Get()))
        return false;
    // Mode and times are kept where the target file system can hold them (FAT cannot); the bytes
    // are what must not be lost.
    (void)fchmod(out.Get(), info.st_mode & 07777);
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    (void)futimens(out.Get(), times);
    if (fsync(out.Get()) != 0 || ::close(out.Release()) != 0 || !SyncFolder(FolderOf(target)))
        return false;

    if (unlink(source.constData()) != 0)
        return false;
    created.Keep();
    (void)SyncFolder(FolderOf(source)); // the move has happened; this only makes it durable sooner
    return true;
}

// File systems without RENAME_NOREPLACE (or kernels without renameat2) say so with these.
bool NoReplaceUnsupported(int error)
{
    return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP;
}

// File systems without hard links (FAT, some network and FUSE ones) say so with these.
bool HardLinkUnsupported(int error)
{
    return error == EPERM || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP || error == EMLINK;
}

bool LinkThenUnlink(const QByteArray& source, const QByteArray& target)
{
    if (linkat(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), 0) != 0) {
        const int error = errno;
        if (error == EXDEV || HardLinkUnsupported(error))
            return CopyThenUnlink(source, target);
        return false;
    }
    if (unlink(source.constData()) != 0) {
        unlink(target.constData()); // the same file under two names: keep the source's
        return false;
    }
    return true;
}

} // namespace

QString TimestampText()
{
    return TimestampText(QDateTime::currentDateTime());
}

QString TimestampText(const QDateTime& at)
{
    return at.toString(QStringLiteral("yyyyMMddHHmmss"));
}

std::unique_ptr<QStringList> ListFolder(const QString& mask)
{
    return ListFolder(mask, QLocale::system());
}

std::unique_ptr<QStringList> ListFolder(const QString& mask, const QLocale& locale)
{
    auto names = std::make_unique<QStringList>();

    const auto separator = std::find_if(mask.crbegin(), mask.crend(), IsPathSeparator);
    const qsizetype patternStart = mask.crend() - separator;
    QString folder = mask.left(std::max<qsizetype>(patternStart - 1, 0));
    if (separator == mask.crend())
        folder = QStringLiteral(".");
    else if (folder.isEmpty())
        folder = QStringLiteral("/");
    const QString pattern = mask.mid(patternStart).toCaseFolded();
    if (pattern.isEmpty())
        return names;

    DirHandle dir(opendir(QFile::encodeName(folder).constData()));
    if (!dir)
        return names;
    const int dirFd = dirfd(dir.get());
    while (const dirent* entry = readdir(dir.get())) {
        const char* raw = entry->d_name;
        if (raw[0] == '\0' || qstrcmp(raw, ".") == 0 || qstrcmp(raw, "..") == 0)
            continue;
        QString name = QFile::decodeName(raw);
        if (!MatchesMask(name.toCaseFolded(), pattern) || !IsListedFile(dirFd, *entry) ||
            !RoundTrips(raw, name))
            continue;
        names->append(std::move(name));
    }
    SortWithoutCase(*names, locale);
    return names;
}

bool FolderExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    struct stat info;
    if (stat(QFile::encodeName(path).constData(), &info) == 0)
        return S_ISDIR(info.st_mode);
    return errno == EACCES || errno == EPERM;
}

bool MoveFileTo(const QString& source, const QString& target)
{
    const QByteArray from = QFile::encodeName(source);
    const QByteArray to = QFile::encodeName(target);
    struct stat info;
    if (from.isEmpty() || to.isEmpty() || lstat(from.constData(), &info) != 0 || S_ISDIR(info.st_mode))
        return false;

    if (renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    const int error = errno;
    if (error == EXDEV)
        return CopyThenUnlink(from, to);
    if (NoReplaceUnsupported(error))
        return LinkThenUnlink(from, to);
    return false;
}

void WaitPumping(quint32 ms)
{
    const QDeadlineTimer deadline(std::chrono::milliseconds(ms), Qt::PreciseTimer);
    if (QCoreApplication::instance() == nullptr) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return;
    }
    // The timer only wakes the blocking wait at the deadline; any other event wakes it earlier,
    // is processed, and the wait goes on. A precise timer never fires before its time, and if
    // it ends a hair early the loop simply arms it again.
    QTimer wake;
    wake.setTimerType(Qt::PreciseTimer);
    wake.setSingleShot(true);
    while (!deadline.hasExpired()) {
        if (!wake.isActive()) {
            const qint64 left = (deadline.remainingTimeNSecs() + 999'999) / 1'000'000;
            wake.start(static_cast<int>(std::clamp<qint64>(left, 1, INT_MAX)));
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}
