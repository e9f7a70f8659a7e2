#include "consoleinterrupt.h"

#include <atomic>

#include <windows.h>

namespace {

std::atomic<void (*)()> handler{nullptr};
std::atomic<bool> seen{false};

// Windows calls this on a thread of its own. Answering TRUE keeps the
// process; FALSE hands the event on to the default handler, which ends
// it. Ctrl-Break and a closed console end it as they always do.
BOOL WINAPI OnConsoleEvent(DWORD event)
{
    if (event != CTRL_C_EVENT || seen.exchange(true))
        return FALSE;
    if (auto onFirst = handler.load())
        onFirst();
    return TRUE;
}

} // namespace

void CatchConsoleInterrupt(void (*onFirst)())
{
    handler.store(onFirst);
    // A program started in a new process group has Ctrl-C switched off
    // until it asks for it back.
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}
