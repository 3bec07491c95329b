#include "tests/support/OtherUser.h"

#include <QFile>

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

bool CanBecomeOtherUser()
{
    return ::geteuid() == 0;
}

int RunAsOtherUser(const std::function<int()>& work)
{
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kOtherUser) != 0 || ::setuid(kOtherUser) != 0)
            ::_exit(255);
        ::_exit(work());
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) == 255)
        return -1;
    return WEXITSTATUS(status);
}

bool GiveToOtherUser(const QString& path)
{
    return ::chown(QFile::encodeName(path).constData(), kOtherUser, kOtherUser) == 0;
}
