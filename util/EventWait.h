#pragma once

#include <QtGlobal>

// Waits the full length while every event of this thread is processed as it arrives; blocks
// between events rather than spinning. Without a QCoreApplication it just sleeps.
void WaitPumping(quint32 ms);
