#include "commands.h"

#include "auditlog.h"
#include "messages.h"
#include "recordstore.h"
#include "runner.h"
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

// A range given for a pool made with another is refused before any board
// is touched: the pool would not hand out what the command line says.
int CheckPool(RecordStore &records, const CliOptions &options)
{
    if (!options.serialAt.given || (!options.serialFirstGiven && !options.serialLast))
        return ExitDone;
    const StoreResult<std::optional<PoolMade>> made = records.Pool(options.serialPool);
    if (!made.Ok())
        return Fail(ExitStore, StoreFailure(made.error));
    const QString mismatch = made.value ? PoolMismatch(options, *made.value) : QString();
    return mismatch.isEmpty() ? int(ExitDone) : Fail(ExitUsage, mismatch);
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
    if (options.command == CliCommand::Settle)
        return RunSettle(options);
    ImageSource source;
    if (options.command == CliCommand::Write || options.command == CliCommand::Verify) {
        const QString error = LoadImageSource(options.file, options.format, options.expectSha256, &source);
        if (!error.isEmpty())
            return Fail(ExitUsage, error);
    }
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
    const int pool = CheckPool(records, options);
    if (pool != ExitDone)
        return pool;
    StoreAccess store(records);
    JobRunner runner(options, source, log, options.db.isEmpty() ? nullptr : &store);
    return runner.Exec();
}
