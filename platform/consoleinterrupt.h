#ifndef CONSOLEINTERRUPT_H
#define CONSOLEINTERRUPT_H

// Calls onFirst when the user presses Ctrl-C in the console the program
// runs in. onFirst may run in a signal handler (POSIX) or on a thread of
// the system's (Windows): it may only set a lock-free atomic. A second
// Ctrl-C is the way out when a device hangs: it ends the program at once,
// the way a user expects.
void CatchConsoleInterrupt(void (*onFirst)());

#endif // CONSOLEINTERRUPT_H
