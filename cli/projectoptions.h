#ifndef PROJECTOPTIONS_H
#define PROJECTOPTIONS_H

#include "project.h"

#include <QCommandLineParser>
#include <QStringList>

// The options project sets that the command line left out, to be parsed
// as if they had been typed. An option given with another value than the
// project's is refused: *error names it and the project's value.
QStringList ProjectArguments(const QCommandLineParser &parser, const Project &project, QString *error);

#endif // PROJECTOPTIONS_H
