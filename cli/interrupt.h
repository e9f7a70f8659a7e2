#ifndef INTERRUPT_H
#define INTERRUPT_H

// Ctrl-C must not kill the program in the middle of a loader command: the
// device would be left with a half-sent frame and the user would not learn
// how far the job got. Ctrl-C only raises a flag; the job reads it after
// each page or block, like the window's cancel button.
void InstallInterruptHandler();
bool InterruptRequested();

#endif // INTERRUPT_H
