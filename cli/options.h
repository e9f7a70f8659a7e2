#ifndef OPTIONS_H
#define OPTIONS_H

#include "imageformat.h"
#include "project.h"
#include "jobclass.h"
#include "recordstore.h"
#include "serialnumber.h"
#include "stationstore.h"

#include <QDate>

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <optional>

enum class CliCommand { None, Ports, Info, Write, Verify, Read, Report, Settle };

// A flash value the user may give or leave for the device to report.
struct OptionalValue
{
    bool given = false;
    quint32 value = 0;
};

struct CliOptions
{
    CliCommand command = CliCommand::None;
    QString file;
    QStringList ports;                     // one job each, all at the same time
    qint32 baud = 9600;
    OptionalValue start;
    OptionalValue end;
    OptionalValue pageSize;
    OptionalValue length;
    std::optional<ImageFormat> format;     // unset: by the file's name, then its content
    int blockSize = 64;
    bool inOrder = false;
    bool skipUnchanged = false;            // read pages first; leave those that hold the image
    bool dryRun = false;                   // plan and estimate only: no erase, no write
    QString expectSha256;                  // lower case; the image file must have this SHA-256
    // The project that gave the image and the settings; its device guard
    // and image lock hold, and write reads the image's vector table first.
    std::optional<Project> project;
    bool vectorCheck = true;
    bool quiet = false;
    bool trace = false;
    bool json = false;                     // a JSON record per device on standard output
    QString log;                           // audit file the records are appended to
    bool wait = false;                     // station: serve each port's devices as they come
    QString station;                       // this station's name in the records: the host's by default
    // Production: a serial number patched into each board, and the store
    // that hands the numbers out and keeps a record of every job.
    OptionalValue serialAt;
    SerialFormat serialFormat;
    QString serialPool;
    qint64 serialFirst = 1;                // where a new pool starts
    bool serialFirstGiven = false;         // then it must be where the pool started
    std::optional<qint64> serialLast;      // where a new pool ends
    bool serialVoid = false;               // a failed board's number is burnt, not handed out again
    QString db;                            // "sqlite:FILE" or "postgresql://..."; empty: no store
    QString journal;                       // the journal folder; empty: DefaultJournal()
    // report: which jobs, and how to show them
    std::optional<qint64> serial;
    std::optional<QDate> day;
    bool counts = false;
    bool inDoubt = false;
    bool csv = false;
    bool settlements = false;              // the numbers settled by hand
    // settle: what a held number or one in doubt becomes, and who says so why
    std::optional<SerialState> settleTo;
    QString why;
    QString by;
};

// A --serial-first or --serial-last that differs from what the pool was
// made with, in words; empty when they agree or were not given.
QString PoolMismatch(const CliOptions &options, const PoolMade &made);

// Outcome of reading the command line: either options to run, or a text to
// print and a status to leave with (help, version, or a usage error).
struct ParseResult
{
    bool run = false;
    CliOptions options;
    QString message;
    int status = ExitDone;
};

ParseResult ParseArguments(const QStringList &arguments);

// The bytes a read covers: --length from the start, or else the whole
// range from start to end, the end address included (the device reports
// its last flash address as the end). An empty range, one that runs past
// the top of the address space or one too long to read gives an error
// text instead.
QString ReadLength(quint32 start, quint32 end, const OptionalValue &length, quint32 *bytes);

// "0x"-prefixed hexadecimal or plain decimal; a leading zero is decimal,
// not octal, so "010" means ten as a user would expect.
bool ParseNumber(const QString &text, quint32 *value);

// Several ports, or a station serving one device after another: then
// every line the tool prints names its port.
bool ManyDevices(const CliOptions &options);

#endif // OPTIONS_H
