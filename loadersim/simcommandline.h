#ifndef SIMCOMMANDLINE_H
#define SIMCOMMANDLINE_H

#include "simconfig.h"

#include <QString>
#include <QStringList>

// A fault for every device, or (link > 0) for the device of the Nth --link.
struct AimedFault {
    FaultRule rule;
    int link = 0;
};

struct SimOptions {
    SimConfig config;           // faults aside: those are in faults
    QVector<AimedFault> faults;
    QStringList links;  // stable symbolic links, one device each; none: one device, no link
    QString device;     // serve this serial device instead
    QString image;      // initial flash contents
    QString dump;       // flash contents written here on exit
    QString bootCheck;  // image the tool was to write at the application start
    bool pullUnlinks = false;   // a pulled board takes its link with it
};

// Parses the program's arguments. On --help or --version it prints and
// exits, as QCommandLineParser does.
bool ParseSimOptions(const QStringList &arguments, SimOptions *options, QString *error);

// A bench of boards on one machine: a device per --link, each with a flash
// and fault counters of its own. Each gets the faults meant for all and
// those aimed at it, and draws its chance faults from seed + its index, so
// that the boards do not fail in step.
int DeviceCount(const SimOptions &options);
SimConfig DeviceConfig(const SimOptions &options, int index);
// Where the device at index saves its flash: FILE alone, FILE.1, FILE.2, ...
// when there are several.
QString DumpPath(const SimOptions &options, int index);
// Where the device at index saves the flash of its Nth board when it is
// pulled: the dump path with ".bN".
QString BoardDumpPath(const SimOptions &options, int index, int board);

#endif
