#include "interrupt.h"

#include <atomic>
#include <csignal>

namespace {

// Set by the handler and read by every device thread: an atomic, as a
// volatile would be a data race, and lock-free, as a handler may touch
// no other kind.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler may only set a lock-free atomic");

extern "C" void OnInterrupt(int)
{
    interrupted.store(true);
    // A second Ctrl-C is the way out when the device hangs: it ends the
    // program at once, the way a user expects.
    std::signal(SIGINT, SIG_DFL);
}

} // namespace

void InstallInterruptHandler()
{
    std::signal(SIGINT, OnInterrupt);
}

bool InterruptRequested()
{
    return interrupted.load();
}
