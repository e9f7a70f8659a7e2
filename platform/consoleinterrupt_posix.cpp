#include "consoleinterrupt.h"

#include <atomic>
#include <csignal>

namespace {

std::atomic<void (*)()> handler{nullptr};
static_assert(std::atomic<void (*)()>::is_always_lock_free, "a signal handler may only read a lock-free atomic");

extern "C" void OnInterrupt(int)
{
    std::signal(SIGINT, SIG_DFL);
    if (auto onFirst = handler.load())
        onFirst();
}

} // namespace

void CatchConsoleInterrupt(void (*onFirst)())
{
    handler.store(onFirst);
    std::signal(SIGINT, OnInterrupt);
}
