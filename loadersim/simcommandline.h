#ifndef SIMCOMMANDLINE_H
#define SIMCOMMANDLINE_H

#include "simconfig.h"

#include <QString>
#include <QStringList>

struct SimOptions {
    SimConfig config;
    QString link;       // stable symbolic link to the pseudo-terminal
    QString device;     // serve this serial device instead
    QString image;      // initial flash contents
    QString dump;       // flash contents written here on exit
    QString bootCheck;  // image the tool was to write at the application start
};

// Parses the program's arguments. On --help or --version it prints and
// exits, as QCommandLineParser does.
bool ParseSimOptions(const QStringList &arguments, SimOptions *options, QString *error);

#endif
