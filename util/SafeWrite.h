#pragma once

#include "util/UniqueFd.h"

#include <QByteArray>
#include <QByteArrayView>
#include <sys/types.h>

// Files written whole or not at all, in folders that other users may write too. A file created
// here is created exclusively (O_EXCL | O_NOFOLLOW), so nothing planted beforehand (a link, a
// file, a FIFO) is ever opened in its place; a temporary gets a name nobody can predict, and goes
// again unless it is kept. Everything reports by result: 0 on success, otherwise the errno of the
// step that failed. Nothing here throws.

// Writes every byte, going on after interrupted and short writes.
int WriteAll(int fd, QByteArrayView bytes);

// Reads from fd up to its end, going on after interrupted reads; EINVAL once more than limit bytes
// came (bytes is left as it was on any failure).
int ReadAll(int fd, qint64 limit, QByteArray& bytes);

// The folder part of a path: "." for a bare name, "/" for a name in the root.
QByteArray FolderOf(const QByteArray& path);

// Flushes a folder's entries (a rename into it, a new name) to disk.
int SyncFolder(const QByteArray& folder);
// The same for the folder that holds name, relative to the folder dir (AT_FDCWD: the current one).
int SyncFolderOf(int dir, const QByteArray& name);

// Where a write to path goes when path may be a symbolic link. A link is followed only when it is
// ours: owned by us, or by the owner of the folder that holds it (the kernel's own rule for links in
// sticky folders). A link that somebody else planted gives ELOOP. `resolved` is the file the link
// names, every further link on the way resolved; path itself when it is no link or nothing is there.
int ResolveOwnLink(const QByteArray& path, QByteArray& resolved);

// Opens name, relative to the folder dir (AT_FDCWD: the current folder), so that no link planted by
// somebody else is ever followed: a symbolic link anywhere on the way (name itself, a folder on the
// way, each hop of a chain) is followed only when it belongs to us or to alsoTrusted; another one
// gives EPERM, more than 40 hops ELOOP. The last part is opened with flags | O_NOFOLLOW, so a link
// put there after the look is refused too. Not open on failure, errno saying why.
TUniqueFd OpenThroughOwnLinks(int dir, const QByteArray& name, int flags, uid_t alsoTrusted = uid_t(-1));

// Renames without ever replacing an existing target (EEXIST then, a dangling link included).
// Where the file system cannot refuse to replace, a hard link and the source's removal do it;
// ENOTSUP where it has no hard links either (the caller may copy instead). The At form takes
// each name relative to its folder's descriptor.
int RenameNoReplace(const QByteArray& from, const QByteArray& to);
int RenameNoReplaceAt(int fromDir, const QByteArray& from, int toDir, const QByteArray& to);

// Opens a regular file, never through a link and without hanging on a FIFO planted in its place;
// with create, a missing one is created exclusively (a racing creator's file is opened instead).
// The descriptor is blocking again when it is returned; on failure it is not open and errno says
// why (EINVAL for anything that is not a regular file).
TUniqueFd OpenRegularFile(const QByteArray& path, int flags);
TUniqueFd OpenOrCreateRegularFile(const QByteArray& path, int flags, mode_t mode);

// Reads a regular file whole, never through a link: 0, or the errno of the step that failed
// (EINVAL also for a file larger than limit, which is then not read).
int ReadRegularFile(const QByteArray& path, qint64 limit, QByteArray& bytes);

// A file this process has just created, open for writing; removed again when the holder goes,
// unless it was kept. Check Error() before use. The forms with dir take the path relative to that
// folder's descriptor, which must stay open while the object lives.
class TNewFile
{
public:
    // Exactly at path: fails with EEXIST when anything is there.
    static TNewFile AtPath(const QByteArray& path, mode_t mode);
    static TNewFile AtPath(int dir, const QByteArray& path, mode_t mode);
    // A hidden temporary beside target, "<folder>/.<target's name>.<random>".
    static TNewFile Beside(const QByteArray& target, mode_t mode);
    static TNewFile Beside(int dir, const QByteArray& target, mode_t mode);
    // A temporary "<folder>/<prefix><random>": a prefix of its owner's, so that it can find what
    // a crash left. The random part is kTemporaryRandomLength letters and digits.
    static TNewFile InFolder(int dir, const QByteArray& folder, const QByteArray& prefix, mode_t mode);
    static constexpr int kTemporaryRandomLength = 12;

    TNewFile(TNewFile&& other) noexcept;
    TNewFile& operator=(TNewFile&&) = delete;
    TNewFile(const TNewFile&) = delete;
    TNewFile& operator=(const TNewFile&) = delete;
    ~TNewFile();

    int Error() const { return FError; }
    int Fd() const { return FFd.Get(); }
    const QByteArray& Path() const { return FPath; } // relative to the folder given

    int Write(QByteArrayView bytes) { return WriteAll(FFd.Get(), bytes); }
    // Flushes the bytes to disk and closes the file; a failed close counts (some file systems only
    // report write-back failures there).
    int Finish();
    // The file stays where it is (or where the caller renamed it).
    void Keep() { FPath.clear(); }

private:
    TNewFile(int dir, QByteArray path, int fd, int error);

    int FDir;         // the folder FPath is relative to
    QByteArray FPath; // empty once kept, or when nothing was created
    TUniqueFd FFd;
    int FError;
};

// Replaces target by a file holding bytes. The new file reaches the disk before it is renamed over
// the old one, and the folder after: a failure or a crash leaves the old file or the new one, never
// a mix, and no temporary. An existing file of ours passes on its read and write bits (and its
// group, where we belong to it); anything else at the name passes on nothing, and the new file gets
// mode, less the umask. A link at target is replaced, never followed.
int ReplaceFile(const QByteArray& target, QByteArrayView bytes, mode_t mode);
int ReplaceFileAt(int dir, const QByteArray& target, QByteArrayView bytes, mode_t mode);

// Creates target holding bytes, the same way, but never replaces anything there (EEXIST). With a
// temporaryPrefix, the temporary is TNewFile::InFolder's in target's folder instead of Beside's.
int CreateFileWhole(const QByteArray& target, QByteArrayView bytes, mode_t mode,
                    const QByteArray& temporaryPrefix = {});
int CreateFileWholeAt(int dir, const QByteArray& target, QByteArrayView bytes, mode_t mode,
                      const QByteArray& temporaryPrefix = {});

// Rewrites an existing regular file in place: its whole content becomes bytes and reaches the disk
// before this returns. For a folder where no temporary can be created; unlike ReplaceFile it is not
// atomic (a crash in the middle leaves a mix), so it is only ever the fallback. Never through a link.
int RewriteInPlace(const QByteArray& path, QByteArrayView bytes);
