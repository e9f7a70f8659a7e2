#ifndef OPTIONS_H
#define OPTIONS_H

#include "imageformat.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <optional>

// Exit statuses; scripts depend on them, so they never change.
enum ExitStatus {
    ExitDone = 0,
    ExitDeviceFailed = 1,
    ExitUsage = 2,
    ExitInterrupted = 130
};

enum class CliCommand { None, Ports, Info, Write, Verify, Read };

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
    bool quiet = false;
    bool trace = false;
    bool json = false;                     // a JSON record per device on standard output
    QString log;                           // audit file the records are appended to
    bool wait = false;                     // station: serve each port's devices as they come
};

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

// The device file a port name stands for: a bare name such as ttyUSB0
// lives in /dev, as QSerialPort takes it; anything with a slash is a path.
QString PortPath(const QString &port);

#endif // OPTIONS_H
