#include "interrupt.h"

#include "consoleinterrupt.h"

#include <atomic>

namespace {

// Set by the handler and read by every device thread: an atomic, as a
// volatile would be a data race, and lock-free, as a handler may touch
// no other kind.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler may only set a lock-free atomic");

void OnInterrupt()
{
    interrupted.store(true);
}

} // namespace

void InstallInterruptHandler()
{
    CatchConsoleInterrupt(OnInterrupt);
}

bool InterruptRequested()
{
    return interrupted.load();
}
