#include "commands.h"

#include "auditlog.h"
#include "imagereaders.h"
#include "messages.h"
#include "recordstore.h"
#include "runner.h"
#include "serialnumber.h"
#include "session.h"
#include "storeaccess.h"
#include "storereport.h"

#include <QSerialPortInfo>

namespace {

int ListPorts()
{
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        const QString description = info.description().isEmpty()
            ? QStringLiteral("(no description)") : info.description();
        Say(stdout, QStringLiteral("%1\t%2").arg(info.portName(), description));
    }
    return ExitDone;
}

// An image with bytes of its own where the serial number goes, told as
// soon as the image lies at known addresses: a raw one without --start
// waits for the device's start.
QString SerialMisfit(const CliOptions &options, const ImageSource &source)
{
    if (options.command != CliCommand::Write || !options.serialAt.given)
        return QString();
    if (source.format != ImageFormat::Raw)
        return SerialPlaceMisfit(source.placed, options.serialAt.value, options.serialFormat, options.file);
    if (!options.start.given)
        return QString();
    const ImageResult placed = ReadRawImage(source.bytes, options.file, options.start.value);
    return placed.Ok() ? SerialPlaceMisfit(placed.image, options.serialAt.value, options.serialFormat, options.file)
                       : QString();
}

} // namespace

// An unreadable or malformed image is the user's to fix, and a log or
// store that cannot be kept stops the run too; say so before touching any
// device.
int RunCommand(const CliOptions &options)
{
    if (options.command == CliCommand::Ports)
        return ListPorts();
    if (options.command == CliCommand::Report)
        return RunReport(options);
    ImageSource source;
    if (options.command == CliCommand::Write || options.command == CliCommand::Verify) {
        const QString error = LoadImageSource(options.file, options.format, options.expectSha256, &source);
        if (!error.isEmpty())
            return Fail(ExitUsage, error);
    }
    const QString misfit = SerialMisfit(options, source);
    if (!misfit.isEmpty())
        return Fail(ExitUsage, misfit);
    AuditLog log;
    if (!options.log.isEmpty()) {
        const QString error = log.Open(options.log);
        if (!error.isEmpty())
            return Fail(ExitStore, error);
    }
    // Opened once, before any device: a store that cannot be reached stops
    // the run at once, and a new database gets its schema here.
    RecordStore records;
    if (!options.db.isEmpty() && OpenStore(records, options.db) != ExitDone)
        return ExitStore;
    StoreAccess store(records);
    JobRunner runner(options, source, log, options.db.isEmpty() ? nullptr : &store);
    return runner.Exec();
}
