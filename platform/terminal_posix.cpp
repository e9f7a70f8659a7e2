#include "terminal.h"

#include <unistd.h>

bool IsTerminal(FILE *stream)
{
    return ::isatty(::fileno(stream)) != 0;
}
