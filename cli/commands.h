#ifndef COMMANDS_H
#define COMMANDS_H

#include "options.h"

// Runs one parsed command to its end and gives the exit status.
int RunCommand(const CliOptions &options);

#endif // COMMANDS_H
