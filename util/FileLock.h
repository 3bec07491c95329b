#pragma once

#include "util/UniqueFd.h"

#include <QString>
#include <functional>

// An exclusive lock on a lock file, held while the object lives and released by the kernel when the
// holder dies (no stale lock after a kill). It is an open-file-description lock: two holders conflict
// whether they are two processes or two objects in one process. On NFS and SMB mounts the kernel
// passes it on to the server's byte-range locks, so it holds across machines where those work.
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

private:
    TFileLock(TState state, int error, TUniqueFd fd) : FState(state), FError(error), FFd(std::move(fd)) {}

    TState FState;
    int FError;
    TUniqueFd FFd;
};
