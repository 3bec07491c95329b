#include "dispatch/CycleHealth.h"

TCycleHealth::TNotice TCycleHealth::PassFailed()
{
    if (FFailing)
        return TNotice::None;
    FFailing = true;
    return TNotice::Failing;
}

TCycleHealth::TNotice TCycleHealth::PassEnded(int answered)
{
    if (!FFailing || answered == 0)
        return TNotice::None;
    FFailing = false;
    return TNotice::WorkingAgain;
}
