#include "util/StopRequest.h"

#include <atomic>

namespace {

// Lock-free, so that a signal handler may set it.
std::atomic<bool> gStopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

} // namespace

void RequestProcessStop() noexcept
{
    gStopRequested.store(true, std::memory_order_relaxed);
}

bool ProcessStopRequested() noexcept
{
    return gStopRequested.load(std::memory_order_relaxed);
}
