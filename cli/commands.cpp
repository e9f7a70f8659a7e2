#include "commands.h"

#include "auditlog.h"
#include "journal.h"
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

QString JournalFolder(const CliOptions &options)
{
    return options.journal.isEmpty() ? DefaultJournal() : options.journal;
}

QString Waiting(int records, const QString &file)
{
    return QStringLiteral("tamrivo-cli: %1 %2 in the journal %3 for the store")
        .arg(records).arg(records == 1 ? QStringLiteral("record waits") : QStringLiteral("records wait"), file);
}

// A report shows the records that runs on this machine left in their
// journals too: they are delivered first, if there are any. Only then is
// the store opened for writing; whatever cannot be delivered is said, and
// the report goes on with what the store has.
void DeliverLeftRecords(const CliOptions &options)
{
    const StoreAddress address = ParseStoreAddress(options.db).value;
    const QString folder = JournalFolder(options), name = StoreName(address);
    if (LeftRecords(folder, name) == 0)
        return;
    RecordStore records;
    const StoreResult<bool> opened = records.Open(address, StoreMode::Existing);
    if (!opened.Ok()) {
        Say(stderr, Waiting(LeftRecords(folder, name), folder) + QStringLiteral(": ") + StoreFailure(opened.error));
        return;
    }
    const JournalDelivery delivery = DeliverLeft(folder, name, records);
    if (delivery.waiting > 0)
        Say(stderr, Waiting(delivery.waiting, delivery.file) + QStringLiteral(": ") + StoreFailure(delivery.error));
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

// A project's image must be the very file it was saved with, and what
// write puts at the start address must read as a vector table that starts.
QString ProjectMisfit(const CliOptions &options, const ImageSource &source)
{
    const QString changed = ImageChanged(*options.project, source.sha256);
    if (!changed.isEmpty() || options.command != CliCommand::Write || !options.vectorCheck)
        return changed;
    const Geometry &geometry = options.project->geometry;
    const FirmwareImage image = source.format == ImageFormat::Raw
        ? ReadRawImage(source.bytes, options.file, geometry.start).image : source.placed;
    const QString problem = VectorTableProblem(image, geometry);
    return problem.isEmpty() ? problem
                             : QStringLiteral("%1: %2; --no-vector-check writes it all the same").arg(options.file, problem);
}

} // namespace

// An unreadable or malformed image is the user's to fix, and a log or
// store that cannot be kept stops the run too; say so before touching any
// device.
int RunCommand(const CliOptions &options)
{
    if (options.command == CliCommand::Ports)
        return ListPorts();
    if (options.command == CliCommand::Report) {
        DeliverLeftRecords(options);
        return RunReport(options);
    }
    if (options.command == CliCommand::Settle)
        return RunSettle(options);
    ImageSource source;
    if (options.command == CliCommand::Write || options.command == CliCommand::Verify) {
        const QString error = LoadImageSource(options.file, options.format, options.expectSha256, &source);
        if (!error.isEmpty())
            return Fail(ExitUsage, error);
    }
    QString misfit = options.project ? ProjectMisfit(options, source) : QString();
    if (misfit.isEmpty())
        misfit = SerialMisfit(options, source);
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
    // Every job's record goes through the journal, locked for this run.
    Journal journal;
    if (!options.db.isEmpty()) {
        const QString error = journal.Open(JournalFolder(options), StoreName(ParseStoreAddress(options.db).value));
        if (!error.isEmpty())
            return Fail(ExitStore, error);
    }
    const int pool = CheckPool(records, options);
    if (pool != ExitDone)
        return pool;
    StoreAccess store(records, &journal);
    JobRunner runner(options, source, log, options.db.isEmpty() ? nullptr : &store);
    const int status = runner.Exec();
    // Still not taken: the next run with this store delivers them.
    if (journal.Waiting() > 0)
        Say(stderr, Waiting(journal.Waiting(), journal.Path()) + QStringLiteral("; the next run with this store delivers them"));
    return status;
}
