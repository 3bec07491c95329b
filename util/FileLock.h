#pragma once

#include "util/UniqueFd.h"

#include <QString>
#include <functional>
#include <optional>
#include <sys/types.h>

// An exclusive lock on a lock file, held while the object lives and released by the kernel when the
// holder dies (no stale lock after a kill). It is an open-file-description lock: two holders conflict
// whether they are two processes or two objects in one process. On NFS and SMB mounts the kernel
// passes it on to the server's byte-range locks, so it holds across machines where those work.
// Every user who may write the lock file's folder must be able to open it: a lock file of ours gets
// read and write for group and others where they have write permission on the folder, whatever
// the umask of the process that created it.
class TFileLock
{
public:
    enum class TState
    {
        Held,
        Busy,  // somebody else holds it
        Failed // the lock file could not be opened or locked; Error() says why
    };

    // Opens the lock file, creating it exclusively when it is missing and never through a link,
    // and takes the lock without waiting.
    static TFileLock TryAcquire(const QString& path);
    // The same, but waits for another holder to let go; beforeWaiting runs once when it must wait.
    static TFileLock Acquire(const QString& path, const std::function<void()>& beforeWaiting = {});

    TState State() const { return FState; }
    int Error() const { return FError; }
    // The lock file while it is held, for a holder that keeps data in it.
    int Fd() const { return FState == TState::Held ? FFd.Get() : -1; }
    // Whether the file at the lock's name is still the one held: once it was removed or replaced,
    // another process can take a lock of that name while this one still holds its own.
    bool StillAtPath() const;

private:
    TFileLock(TState state, int error, TUniqueFd fd, QByteArray path = {})
        : FState(state), FError(error), FFd(std::move(fd)), FPath(std::move(path))
    {}

    TState FState;
    int FError;
    TUniqueFd FFd;
    QByteArray FPath;
};

// For the message of a lock file that cannot be opened: its owner (the user name, else the
// number), its mode, and the mode its owner would give it so that everyone who may write its folder
// can open it. Nothing when nothing is at path.
struct TLockFileAccess
{
    QString Owner;
    mode_t Mode;
    mode_t Shared;
};
std::optional<TLockFileAccess> LockFileAccess(const QString& path);
