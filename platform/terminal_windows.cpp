#include "terminal.h"

#include <io.h>
#include <windows.h>

// A console before Windows 10 shows escape sequences as text; asking for
// them to be processed tells the two apart, and turns them on where they
// can be.
bool IsTerminal(FILE *stream)
{
    const int fd = ::_fileno(stream);
    if (fd < 0 || !::_isatty(fd))
        return false;
    const HANDLE console = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    DWORD mode = 0;
    if (!::GetConsoleMode(console, &mode))
        return false;
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING)
        || ::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}
