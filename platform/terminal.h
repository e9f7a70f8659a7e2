#ifndef TERMINAL_H
#define TERMINAL_H

#include <cstdio>

// Whether the stream goes to a person's terminal, which then also takes
// the escape sequences that redraw a line in place. A pipe, a file or a
// console that cannot take them gets plain lines.
bool IsTerminal(FILE *stream);

#endif // TERMINAL_H
