#include "app/TerminationSignals.h"

#include "util/Errors.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t gWriteFd = -1;
constexpr int kSignals[] = {SIGTERM, SIGINT};

extern "C" void OnTerminationSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    // A full pipe already holds a pending request: nothing is lost by dropping this one.
    [[maybe_unused]] const ssize_t ignored = ::write(gWriteFd, &byte, 1);
    errno = savedErrno;
}

void SetHandler(int signal, void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signal, &action, nullptr);
}

} // namespace

TTerminationSignals::TTerminationSignals(std::function<void()> onSignal) : FOnSignal(std::move(onSignal))
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw EInOutError(QStringLiteral("pipe: ") + SystemErrorText(errno), errno);
    FReadEnd = TUniqueFd(fds[0]);
    FWriteEnd = TUniqueFd(fds[1]);
    gWriteFd = FWriteEnd.Get();

    FNotifier = std::make_unique<QSocketNotifier>(FReadEnd.Get(), QSocketNotifier::Read);
    connect(FNotifier.get(), &QSocketNotifier::activated, this, [this] { Drain(); });
    for (int signal : kSignals)
        SetHandler(signal, OnTerminationSignal);
}

TTerminationSignals::~TTerminationSignals()
{
    for (int signal : kSignals)
        SetHandler(signal, SIG_DFL);
    gWriteFd = -1;
}

void TTerminationSignals::Drain()
{
    char buffer[64];
    while (::read(FReadEnd.Get(), buffer, sizeof buffer) > 0) {
    }
    FOnSignal();
}
