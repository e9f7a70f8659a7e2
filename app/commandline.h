#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include <QString>
#include <QStringList>

// What the window's program prints instead of opening the window: its
// usage for --help or -h, its name and version for --version; empty to
// open the window. Decided before QApplication, which needs a display,
// so that the manual page can be made from --help on a build machine.
QString WindowCommandLineText(const QStringList &arguments);

#endif // COMMANDLINE_H
