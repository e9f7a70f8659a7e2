#include "interrupt.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void OnInterrupt(int)
{
    interrupted = 1;
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
    return interrupted != 0;
}
