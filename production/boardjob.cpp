#include "boardjob.h"

#include "imagebuilder.h"
#include "jobrecord.h"
#include "ports.h"
#include "serialnumber.h"
#include "storeaccess.h"

#include <QElapsedTimer>
#include <QUuid>

BoardJob::BoardJob(const BoardSettings &settings, StoreAccess *store)
    : settings(settings), store(store), jobId(QUuid::createUuid().toString(QUuid::WithoutBraces))
{
    if (this->settings.serial) {
        this->settings.serial->job = jobId;
        this->settings.serial->station = settings.station;
        this->settings.serial->port = settings.port;
    }
}

BoardResult BoardJob::Run(DeviceLink &link, const Geometry &geometry, FirmwareImage image, JobObserver &observer)
{
    QElapsedTimer timer;
    timer.start();
    BoardEnd end;
    if (Prepare() == BoardStop::None && (!settings.serial || Number(link, geometry, &image) == BoardStop::None)) {
        ProgrammingJob job(link, geometry.start, geometry.pageSize, image);
        job.SetBlockSize(settings.blockSize);
        job.SetOrder(settings.order);
        job.SetSkipUnchanged(settings.skipUnchanged);
        result.outcome = job.Run(observer);
        result.status = OutcomeStatus(*result.outcome);
        Settle(link, geometry, job, *result.outcome);
    }
    end.status = result.status;
    end.outcome = result.outcome;
    if (result.status != ExitDone)
        end.pass = result.outcome && result.outcome->status != JobOutcome::Done ? PassName(result.outcome->pass)
                                                                                : result.stage;
    end.seconds = timer.elapsed() / 1000.0;
    return Record(end);
}

BoardStop BoardJob::Stop(BoardStop stop, int status, const QString &stage)
{
    result.stop = stop;
    result.status = status;
    result.stage = stage;
    return stop;
}

BoardStop BoardJob::Prepare()
{
    if (!store)
        return BoardStop::None;
    const JournalDelivery delivery = DeliverJournal(*store);
    if (settings.serial && delivery.waiting > 0) {
        result.waiting = delivery;
        result.error = delivery.error;
        return Stop(BoardStop::RecordsWaiting, ExitStore, QStringLiteral("store"));
    }
    return settings.serial ? BoardStop::None : Begin();
}

// What is known of the job goes to the journal before the board is
// touched, so that a process killed in the job still leaves its record.
BoardStop BoardJob::Begin()
{
    JobFacts known = Facts(BoardEnd());
    known.resultClass.clear();      // not known yet
    const QString trouble = BeginJob(*store, MakeJobRecord(known, QDateTime::currentDateTimeUtc()));
    if (trouble.isEmpty())
        return BoardStop::None;
    result.error = trouble;
    return Stop(BoardStop::JournalFailed, ExitStore, QStringLiteral("journal"));
}

SerialLifecycle BoardJob::Serials(DeviceLink &link, const Geometry &geometry) const
{
    return SerialLifecycle(link, geometry, *settings.serial, store);
}

// The board keeps the number it carries, or gets a number reserved for it
// now, before anything is erased (SerialLifecycle::Take says when).
BoardStop BoardJob::Number(DeviceLink &link, const Geometry &geometry, FirmwareImage *image)
{
    const SerialSettings &serial = *settings.serial;
    const SerialTaking taking = Serials(link, geometry).Take();
    if (taking.result == SerialTaking::Unread) {
        result.outcome = taking.read;
        return Stop(BoardStop::SerialUnread, OutcomeStatus(taking.read), QString());
    }
    result.pool = serial.pool;
    if (taking.result == SerialTaking::StoreFailed) {
        result.error = taking.error;
        return Stop(BoardStop::StoreFailed, ExitStore, QStringLiteral("store"));
    }
    result.serial = taking.serial;
    result.rework = taking.rework;
    result.replaced = taking.replaced;
    result.voided = taking.voided;
    if (taking.result == SerialTaking::UsedUp && !taking.error.isEmpty()) {
        result.error = taking.error;
        return Stop(BoardStop::PoolUsedUp, ExitUsage, QStringLiteral("serial"));
    }
    if (taking.result == SerialTaking::UsedUp) {
        result.state = SerialState::Free;
        return Stop(BoardStop::SerialTooLarge, ExitUsage, QStringLiteral("serial"));
    }
    if (Begin() != BoardStop::None) {
        result.state = serial.voidOnFail ? SerialState::Void : SerialState::Free;
        return result.stop;
    }
    *image = Overlay(*image, serial.address, EncodeSerial(result.serial, serial.format));
    return BoardStop::None;
}

void BoardJob::Settle(DeviceLink &link, const Geometry &geometry, const ProgrammingJob &job, const JobOutcome &outcome)
{
    if (result.serial < 0)
        return;
    const SerialSettling settling = Serials(link, geometry).Settle(job, outcome, result.serial, result.rework);
    result.state = settling.state;
    result.placeErased = settling.placeErased;
}

// The job as far as it came, for its record.
JobFacts BoardJob::Facts(const BoardEnd &end) const
{
    JobFacts facts;
    facts.jobId = jobId;
    facts.station = settings.station;
    facts.port = settings.port;
    facts.portPath = StablePortName(settings.port);
    facts.command = settings.command;
    facts.image = end.image ? *end.image : settings.image;
    facts.sha256 = end.image ? end.sha256 : settings.sha256;
    facts.crc32 = settings.crc32;
    facts.pool = result.pool;
    facts.serial = result.serial;
    facts.rework = result.rework;
    facts.replaced = result.replaced;
    facts.exitCode = end.status;
    facts.resultClass = ClassName(end.status);
    facts.pass = end.pass;
    facts.outcome = end.outcome;
    facts.seconds = end.seconds;
    return facts;
}

// The record is in the journal before the store is asked for it, and in
// the store, if it answers, before a front end says anything about the
// job. One the store cannot take now waits in the journal, the board's
// own status standing, and its number reserved (in doubt) until it is
// taken. Only if the journal fails too is the record lost.
const BoardResult &BoardJob::Record(const BoardEnd &end)
{
    result.status = end.status;
    result.seconds = end.seconds;
    if (!store)
        return result;
    const bool numbered = result.serial >= 0;
    // Unsettled only if the job stopped between taking a number and
    // running: keep it from every other board.
    const SerialState state = result.state.value_or(SerialState::Held);
    const RecordKeeping kept = RecordJob(*store, MakeJobRecord(Facts(end), QDateTime::currentDateTimeUtc()),
                                         numbered ? std::optional<SerialState>(state) : std::nullopt);
    result.recordError = kept.error;
    if (kept.stored || !kept.journal.isEmpty()) {
        result.kept = kept.stored ? RecordFate::Stored : RecordFate::Pending;
        result.journal = kept.journal;
        if (numbered)
            result.state = state;
        return result;
    }
    result.kept = RecordFate::Lost;
    if (numbered)
        result.state = SerialState::Reserved;
    return result;
}
