#pragma once

#include "util/UniqueFd.h"

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

// Turns SIGTERM and SIGINT into a call on the event loop's thread, so that a stop request from the
// session or a terminal closes the program the normal way (the log then writes its stop line).
// The signal handler only writes a byte into a pipe; the event loop reads it. One instance per process.
class TTerminationSignals : public QObject
{
public:
    explicit TTerminationSignals(std::function<void()> onSignal);
    ~TTerminationSignals() override;
    TTerminationSignals(const TTerminationSignals&) = delete;
    TTerminationSignals& operator=(const TTerminationSignals&) = delete;

private:
    void Drain();

    TUniqueFd FReadEnd;
    TUniqueFd FWriteEnd;
    std::unique_ptr<QSocketNotifier> FNotifier;
    std::function<void()> FOnSignal;
};
