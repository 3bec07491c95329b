#pragma once

#include "util/UniqueFd.h"

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>

// Turns process signals (SIGTERM and SIGINT from the session or a terminal, SIGHUP from a service
// manager) into calls on the event loop's thread, so that they are handled the normal way (a stop
// lets the log write its stop line). The signal handler only records the signal and writes its
// number into a pipe; the event loop reads it and calls onSignal(signal). SIGTERM and SIGINT also
// set the process-wide stop request (util/StopRequest.h). One instance per process.
class TProcessSignals : public QObject
{
    Q_OBJECT

public:
    TProcessSignals(std::initializer_list<int> handled, std::function<void(int signal)> onSignal);
    ~TProcessSignals() override;
    TProcessSignals(const TProcessSignals&) = delete;
    TProcessSignals& operator=(const TProcessSignals&) = delete;

    // Whether the signal has arrived since this instance was made. Set by the handler itself, so
    // code that holds the event loop (an upload, the cycle between two invoices) can still ask.
    static bool Received(int signal);

private:
    void Drain();

    std::vector<int> FSignals;
    TUniqueFd FReadEnd;
    TUniqueFd FWriteEnd;
    std::unique_ptr<QSocketNotifier> FNotifier;
    std::function<void(int)> FOnSignal;
};
