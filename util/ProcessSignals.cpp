#include "util/ProcessSignals.h"

#include "util/Errors.h"
#include "util/StopRequest.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t gWriteFd = -1;
volatile std::sig_atomic_t gReceived[NSIG] = {};

extern "C" void OnProcessSignal(int signal)
{
    const int savedErrno = errno;
    gReceived[signal] = 1;
    // Heard at once by a transfer in progress, which holds the event loop.
    if (signal == SIGTERM || signal == SIGINT)
        RequestProcessStop();
    const char byte = static_cast<char>(signal);
    // A full pipe already holds pending signals; the flag above still records this one.
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

TProcessSignals::TProcessSignals(std::initializer_list<int> handled, std::function<void(int)> onSignal)
    : FSignals(handled), FOnSignal(std::move(onSignal))
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw EInOutError(QStringLiteral("pipe: ") + SystemErrorText(errno), errno);
    FReadEnd = TUniqueFd(fds[0]);
    FWriteEnd = TUniqueFd(fds[1]);
    gWriteFd = FWriteEnd.Get();

    FNotifier = std::make_unique<QSocketNotifier>(FReadEnd.Get(), QSocketNotifier::Read);
    connect(FNotifier.get(), &QSocketNotifier::activated, this, [this] { Drain(); });
    for (int signal : FSignals) {
        gReceived[signal] = 0;
        SetHandler(signal, OnProcessSignal);
    }
}

TProcessSignals::~TProcessSignals()
{
    for (int signal : FSignals)
        SetHandler(signal, SIG_DFL);
    gWriteFd = -1;
}

bool TProcessSignals::Received(int signal)
{
    return signal > 0 && signal < NSIG && gReceived[signal] != 0;
}

void TProcessSignals::Drain()
{
    char buffer[64];
    ssize_t n;
    while ((n = ::read(FReadEnd.Get(), buffer, sizeof buffer)) > 0)
        for (ssize_t i = 0; i < n; ++i)
            FOnSignal(static_cast<unsigned char>(buffer[i]));
}
