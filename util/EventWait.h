#pragma once

#include <QtGlobal>
#include <functional>

// Waits the full length while every event of this thread is processed as it arrives; blocks
// between events rather than spinning. Without a QCoreApplication it just sleeps.
void WaitPumping(quint32 ms);
// The same wait, ended early once done() holds; done() is asked after every event.
void WaitPumpingUntil(quint32 ms, const std::function<bool()>& done);
