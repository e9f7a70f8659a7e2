#include "processclock.h"

#include <QtGlobal>

#include <windows.h>

namespace {

double Seconds(const FILETIME &time)
{
    // FILETIME counts 100 ns steps.
    return double((quint64(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 1e7;
}

} // namespace

double ProcessCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    return Seconds(kernel) + Seconds(user);
}
